#include <climits>

#include "picture/gif_blocks.h"
#include "picture/walk_detail.h"

namespace kerbilo {

using namespace walk_detail;
using namespace picture_detail;

PictureWalk walkGif(Bytes data) noexcept {
    PictureWalk walk;
    const GifSignature signature = gifSignature(data);
    if (signature == GifSignature::Absent) return broken(walk, 0, Reason::NoGifSignature);
    GifReader reader(data);
    GifScreen screen;
    if (signature == GifSignature::Partial || !reader.readScreen(screen)) return ranOut(walk, data);
    walk.width = screen.width;
    walk.height = screen.height;
    walk.bitsPerPixel = screen.tableBits;
    // Where the last whole block ended: a GIF whose writer left out the trailer (many
    // small tools do, and every viewer shows it) ends there by its own structure.
    std::uint64_t lastBlockEnd = 0;
    const auto withoutTrailer = [&] {
        PictureWalk whole = ended(walk, lastBlockEnd);
        whole.reason = Reason::NoTrailer;
        return whole;
    };
    for (;;) {
        const GifBlock block = reader.next();
        switch (block.kind) {
            case GifBlockKind::Extension:
                lastBlockEnd = block.end;
                break;
            case GifBlockKind::Image: {
                const GifImage& image = block.image;
                // A zero-sized logical screen is common; the first image then sets the size.
                if (walk.frames == 0 && (walk.width == 0 || walk.height == 0)) {
                    walk.width = image.left + image.width;
                    walk.height = image.top + image.height;
                }
                if (walk.bitsPerPixel == 0) walk.bitsPerPixel = image.tableBits;
                if (*block.problem)
                    return broken(walk, block.offset, Reason::LzwCodeSize,
                                  std::int64_t{walk.frames} + 1);
                if (block.end == 0) return ranOut(walk, data);
                // The screen and a first image that can be read are what a GIF's size and
                // depth are known by; a signature followed by anything is not enough.
                if (walk.frames == 0) walk.headerSound = image.width > 0 && image.height > 0;
                if (walk.frames < INT_MAX) ++walk.frames;
                lastBlockEnd = block.end;
                break;
            }
            case GifBlockKind::Trailer:
                if (walk.frames == 0) return broken(walk, block.offset, Reason::TrailerBeforeImage);
                return ended(walk, block.end);
            case GifBlockKind::Unknown:
                if (walk.frames > 0) return withoutTrailer();
                return broken(walk, block.offset, Reason::UnknownBlock);
            case GifBlockKind::RanOut:
                // The data ending right after a whole block is a GIF without its trailer;
                // ending inside a block is a cut one.
                if (walk.frames > 0 && block.offset == data.size() && lastBlockEnd == data.size())
                    return withoutTrailer();
                return ranOut(walk, data);
        }
    }
}

}  // namespace kerbilo
