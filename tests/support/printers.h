#pragma once
// Readable failure messages for the program's value types.
#include <ostream>

#include "runtime/byte_buffer.h"

namespace kerbilo {

inline void PrintTo(const ByteBuffer& b, std::ostream* os) {
    static const char* hex = "0123456789ABCDEF";
    *os << b.size() << " bytes [";
    for (std::size_t i = 0; i < b.size() && i < 64; ++i)
        *os << (i ? " " : "") << hex[b[i] >> 4] << hex[b[i] & 15];
    if (b.size() > 64) *os << " …";
    *os << "]";
}

}  // namespace kerbilo
