#include <cstddef>
#include <cstdint>

#include "fuzz_limits.h"
#include "picture/decoders.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto image = kerbilo::decodeJpeg({data, size}, kerbilo::fuzzing::fuzzLimits());
    // Touch every pixel so a wrong size shows up as an overflow here.
    volatile std::uint32_t sum = 0;
    if (image)
        for (auto p : image->pixels) sum = sum + p;
    return 0;
}
