#include "picture/inspect.h"

#include <algorithm>

#include "picture/decoders.h"
#include "picture/pixel_check.h"
#include "picture/walk.h"

namespace kerbilo {

Inspection inspectResource(Bytes fromResourceStart, std::int64_t resourceLength, Bytes resourceData,
                           const DecodeLimits& limits, bool decode) noexcept {
    Inspection result;
    result.format = recognisePicture(resourceData);
    if (result.format == PictureFormat::None) {
        result.reason = Reason::NotRecognised;
        return result;
    }

    const Decoded image =
        decode ? decodePicture(resourceData, limits) : Decoded(DecodeFailure::None);
    result.decodes = image.has_value();
    const std::int64_t available = static_cast<std::int64_t>(fromResourceStart.size());
    const std::int64_t length = std::clamp<std::int64_t>(resourceLength, 0, available);

    const PictureWalk walk = walkPicture(result.format, fromResourceStart);
    result.reason = walk.reason;
    result.reasonItem = walk.reasonItem;

    switch (walk.end) {
        case WalkEnd::Ended: {
            result.extent = walk.extent;
            const picture_detail::PixelCheck pixels = picture_detail::checkPixelData(
                result.format, fromResourceStart.first(static_cast<std::size_t>(walk.extent)));
            if (pixels.reason != Reason::None && pixels.reason != Reason::PixelsUnchecked) {
                result.verdict = Verdict::Damaged;
                result.reason = pixels.reason;
                result.reasonItem = pixels.item;
                break;
            }
            if (walk.extent == length) {
                result.verdict = Verdict::Complete;
                if (pixels.reason == Reason::PixelsUnchecked) result.reason = pixels.reason;
            } else if (walk.extent > length) {
                result.verdict = Verdict::CutShort;
                result.reason = Reason::FormatGoesOn;
                result.reasonItem = walk.extent - length;
            } else {
                result.verdict = Verdict::TrailingBytes;
                result.reason = Reason::BytesAfterEnd;
                result.reasonItem = length - walk.extent;
            }
            break;
        }
        case WalkEnd::RanOut:
        case WalkEnd::Broken:
            result.verdict = Verdict::Damaged;
            break;
        case WalkEnd::NoWalker:
            result.verdict = Verdict::Unchecked;
            result.reason = Reason::NoEndOfItsOwn;
            break;
    }
    // What a header that is not sound says is noise ("GIF87a" followed by anything gives
    // a screen of 18176x17993); only the decoder's own image is then worth reporting.
    if (walk.headerSound || walk.end == WalkEnd::NoWalker) {
        result.width = walk.width;
        result.height = walk.height;
        result.frames = walk.frames;
        result.bitsPerPixel = walk.bitsPerPixel;
    } else if (image) {
        result.width = image->width;
        result.height = image->height;
        result.frames = 1;
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

std::optional<VerdictSet> VerdictSet::parse(std::string_view names) {
    constexpr Verdict kAll[] = {Verdict::Complete, Verdict::CutShort,  Verdict::TrailingBytes,
                                Verdict::Damaged,  Verdict::Unchecked, Verdict::NotAPicture};
    VerdictSet set;
    if (names.empty()) return std::nullopt;
    for (;;) {
        const std::size_t comma = names.find(',');
        const std::string_view name = names.substr(0, comma);
        bool known = false;
        for (const Verdict v : kAll) {
            if (name == verdictName(v)) {
                set.add(v);
                known = true;
            }
        }
        if (!known) return std::nullopt;
        if (comma == std::string_view::npos) return set;
        names.remove_prefix(comma + 1);
    }
}

}  // namespace kerbilo
