#pragma once
// Smaller limits than the pane's keep each run fast; the size checks themselves are the
// same code whatever the numbers.

#include "picture/image.h"

namespace kerbilo::fuzzing {

inline DecodeLimits fuzzLimits() {
    DecodeLimits limits;
    limits.maxPixels = 4 * 1024 * 1024;
    return limits;
}

}  // namespace kerbilo::fuzzing
