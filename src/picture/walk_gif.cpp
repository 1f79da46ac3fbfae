#include <climits>

#include "picture/gif_blocks.h"
#include "picture/walk_detail.h"

namespace kerbilo {

using namespace walk_detail;
using namespace picture_detail;

PictureWalk walkGif(Bytes data) noexcept {
    PictureWalk walk;
    const GifSignature signature = gifSignature(data);
    if (signature == GifSignature::Absent) return broken(walk, 0, "no GIF signature");
    GifReader reader(data);
    GifScreen screen;
    if (signature == GifSignature::Partial || !reader.readScreen(screen)) return ranOut(walk, data);
    walk.width = screen.width;
    walk.height = screen.height;
    walk.bitsPerPixel = screen.tableBits;
    for (;;) {
        const GifBlock block = reader.next();
        switch (block.kind) {
            case GifBlockKind::Extension:
                break;
            case GifBlockKind::Image: {
                const GifImage& image = block.image;
                // A zero-sized logical screen is common; the first image then sets the size.
                if (walk.frames == 0 && (walk.width == 0 || walk.height == 0)) {
                    walk.width = image.left + image.width;
                    walk.height = image.top + image.height;
                }
                if (walk.bitsPerPixel == 0) walk.bitsPerPixel = image.tableBits;
                if (*block.problem) return broken(walk, block.offset, block.problem);
                if (block.end == 0) return ranOut(walk, data);
                if (walk.frames < INT_MAX) ++walk.frames;
                break;
            }
            case GifBlockKind::Trailer:
                if (walk.frames == 0) return broken(walk, block.offset, "trailer before any image");
                return ended(walk, block.end);
            case GifBlockKind::Unknown:
                return broken(walk, block.offset, block.problem);
            case GifBlockKind::RanOut:
                return ranOut(walk, data);
        }
    }
}

}  // namespace kerbilo
