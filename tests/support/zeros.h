#pragma once
// A buffer of n zero bytes, for tests that fill or pad.
#include <string>

#include "runtime/byte_buffer.h"

namespace kerbilo::testing {

inline ByteBuffer zeros(std::size_t n) {
    const std::string z(n, '\0');
    return ByteBuffer(z.data(), z.size());
}

}  // namespace kerbilo::testing
