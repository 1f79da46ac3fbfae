#pragma once
// An edit of bytes as a list of splices: what a writer of a format inside other bytes
// (a program's resources, an archive's entry) gives back, so that the caller can apply it
// to the whole file and move what it knows of the bytes after each splice.

#include <cstdint>
#include <vector>

#include "runtime/byte_buffer.h"

namespace kerbilo {

// Bytes [offset, offset + oldLength) become `bytes` (possibly of another length; an
// insertion has oldLength 0, a removal empty bytes).
struct Splice {
    std::int64_t offset = 0;
    std::int64_t oldLength = 0;
    ByteBuffer bytes;
};

// The bytes with the splices applied (sorted and apart); empty when memory runs out.
ByteBuffer applySplices(const std::uint8_t* bytes, std::size_t size,
                        const std::vector<Splice>& splices);

}  // namespace kerbilo
