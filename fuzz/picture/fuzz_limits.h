#pragma once
// Limits far below the pane's keep each run short: the size checks are the same code
// whatever the numbers, and what a picture costs grows with its pixels. Under the address
// sanitizer a decode costs about 200 ns a pixel, so the 4 Mi pixels allowed before made a
// 180-byte JPEG claiming 65280 x 3856 (decoded at 1/8) take 0.75 s; at 64 Ki pixels the
// worst input costs a few milliseconds and every target keeps thousands of runs a second
// over a long run, when the corpus has grown toward such inputs.

#include <cstddef>

#include "picture/image.h"

namespace kerbilo::fuzzing {

inline DecodeLimits fuzzLimits() {
    DecodeLimits limits;
    // A tall, thin picture costs the pane its height times the pane's width (each source
    // row is scaled across first), so the side is capped as well as the area.
    limits.maxDimension = 1024;
    limits.maxPixels = 64 * 1024;
    return limits;
}

// Frames a GIF target draws at most: enough for a full round and the restart of any
// animation of up to 14 frames, without paying 64 frames of 64 Ki pixels for every input.
inline constexpr std::size_t kMaxFramesDrawn = 16;

}  // namespace kerbilo::fuzzing
