#include "picture/inspect.h"

#include <algorithm>

#include "picture/decoders.h"
#include "picture/walk.h"

namespace kerbilo {

Inspection inspectResource(Bytes fromResourceStart, std::int64_t resourceLength, Bytes resourceData,
                           const DecodeLimits& limits, bool decode) noexcept {
    Inspection result;
    result.format = recognisePicture(resourceData);
    if (result.format == PictureFormat::None) return result;

    const Decoded image =
        decode ? decodePicture(resourceData, limits) : Decoded(DecodeFailure::None);
    result.decodes = image.has_value();
    const std::int64_t available = static_cast<std::int64_t>(fromResourceStart.size());
    const std::int64_t length = std::clamp<std::int64_t>(resourceLength, 0, available);

    const PictureWalk walk = walkPicture(result.format, fromResourceStart);
    result.width = walk.width;
    result.height = walk.height;
    result.frames = walk.frames;
    result.bitsPerPixel = walk.bitsPerPixel;
    // A walk that stopped before the header still leaves the decoder's answer.
    if (result.width == 0 && image) {
        result.width = image->width;
        result.height = image->height;
    }
    result.problem = walk.problem;

    switch (walk.end) {
        case WalkEnd::Ended:
            result.extent = walk.extent;
            result.verdict = walk.extent == length  ? Verdict::Complete
                             : walk.extent > length ? Verdict::CutShort
                                                    : Verdict::TrailingBytes;
            break;
        case WalkEnd::RanOut:
            // Past the resource's end there was more file, and the format wanted more
            // still; with no file after the resource, the file itself is truncated.
            result.verdict = available > length ? Verdict::CutShort : Verdict::Damaged;
            break;
        case WalkEnd::Broken:
            result.verdict = Verdict::Damaged;
            break;
        case WalkEnd::NoWalker:
            result.verdict = Verdict::Unchecked;
            break;
    }
    return result;
}

std::optional<std::int64_t> formatExtent(Bytes fromHead) noexcept {
    const PictureWalk walk = walkPicture(recognisePicture(fromHead), fromHead);
    if (walk.end != WalkEnd::Ended) return std::nullopt;
    return walk.extent;
}

const char* verdictName(Verdict verdict) noexcept {
    switch (verdict) {
        case Verdict::Complete:
            return "complete";
        case Verdict::CutShort:
            return "cut-short";
        case Verdict::TrailingBytes:
            return "trailing-bytes";
        case Verdict::Damaged:
            return "damaged";
        case Verdict::Unchecked:
            return "unchecked";
        case Verdict::NotAPicture:
            break;
    }
    return "not-a-picture";
}

}  // namespace kerbilo
