#pragma once
// What every structure walk must hold whatever its input. A breach aborts, so libFuzzer
// and the replay test both report it.

#include <cstdlib>

#include "picture/inspect.h"
#include "picture/walk.h"

namespace kerbilo::fuzzing {

using Walker = PictureWalk (*)(Bytes) noexcept;

inline void require(bool holds) {
    if (!holds) std::abort();
}

inline bool sameFindings(const PictureWalk& a, const PictureWalk& b) {
    return a.end == b.end && a.extent == b.extent && a.width == b.width && a.height == b.height &&
           a.frames == b.frames && a.bitsPerPixel == b.bitsPerPixel;
}

// endIsLastByte: no shorter data can close the structure. BMP lacks it on purpose: its
// file-size field may stretch past what the headers require, and without the stretch
// the requirement alone still closes it.
inline void checkWalk(Walker walk, Bytes data, bool endIsLastByte) {
    const PictureWalk w = walk(data);
    require(w.extent >= 0 && static_cast<std::uint64_t>(w.extent) <= data.size());
    require(w.end != WalkEnd::Ended || w.reason == Reason::None || w.reason == Reason::NoTrailer);
    if (w.end != WalkEnd::Ended) return;
    require(w.extent > 0);
    const auto extent = static_cast<std::size_t>(w.extent);
    // The walk depends on nothing past the end it finds.
    require(sameFindings(walk(data.first(extent)), w));
    const PictureWalk shorter = walk(data.first(extent - 1));
    // A GIF cut after a whole block is one without its trailer, ending there.
    if (endIsLastByte)
        require(shorter.end != WalkEnd::Ended ||
                (shorter.reason == Reason::NoTrailer && shorter.extent < w.extent));
    else
        require(shorter.end != WalkEnd::Ended || shorter.extent < w.extent);
}

// The whole inspection, pixel check included, of the data as a resource of half its length
// and of all of it: the verdict and its reason must agree, whatever the bytes.
inline void checkInspection(Bytes data) {
    for (const std::size_t length : {data.size() / 2, data.size()}) {
        const Inspection r =
            inspectResource(data, static_cast<std::int64_t>(length), data.first(length), {}, false);
        const bool whole = r.verdict == Verdict::Complete || r.verdict == Verdict::CutShort ||
                           r.verdict == Verdict::TrailingBytes;
        require(!whole || (r.extent && *r.extent > 0 &&
                           static_cast<std::uint64_t>(*r.extent) <= data.size()));
        require(r.verdict != Verdict::Damaged || r.reason != Reason::None);
        require(r.verdict != Verdict::CutShort || r.reason == Reason::FormatGoesOn);
        require(r.width >= 0 && r.height >= 0 && r.frames >= 0);
    }
}

}  // namespace kerbilo::fuzzing
