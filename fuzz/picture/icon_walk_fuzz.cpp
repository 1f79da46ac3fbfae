#include <cstddef>
#include <cstdint>

#include "walk_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    kerbilo::fuzzing::checkWalk(kerbilo::walkIcon, {data, size}, true);
    kerbilo::fuzzing::checkInspection({data, size});
    return 0;
}
