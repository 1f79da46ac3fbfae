#pragma once
// Byte-buffer and text operations. Positions are 1-based, −1 means "not found"; nothing
// throws, and empty values are ordinary values.

#include <cstdint>
#include <initializer_list>
#include <string_view>

#include "runtime/byte_buffer.h"

namespace kerbilo {

// ---- searching in place --------------------------------------------------------------

// 0-based offset of the first occurrence of needle in haystack[0, n), or −1. An empty
// needle or a haystack shorter than the needle gives −1. Works on the caller's memory.
std::int64_t findBytesIn(const std::uint8_t* haystack, std::size_t n, const std::uint8_t* needle,
                         std::size_t m);
// 0-based offset of the last occurrence of needle in haystack[0, n), or −1; the same
// filter run from the end, for records found from the back of a file.
std::int64_t findLastBytesIn(const std::uint8_t* haystack, std::size_t n,
                             const std::uint8_t* needle, std::size_t m);

// ---- byte buffers ---------------------------------------------------------------------

inline std::int64_t bufferLength(const ByteBuffer& b) {
    return static_cast<std::int64_t>(b.size());
}
ByteBuffer concatBytes(std::initializer_list<ByteBuffer> parts);

// ---- texts ----------------------------------------------------------------------------

inline std::int64_t textLength(std::string_view t) {
    return static_cast<std::int64_t>(t.size());
}
Text midText(std::string_view t, std::int64_t start, std::int64_t n);
// Double-byte aware: a byte ≥ 0x80 and the byte after it are one character.
std::int64_t findText(std::string_view text, std::string_view sought);
Text upperText(std::string_view t);
Text concatText(std::initializer_list<std::string_view> parts);
// Full-width forms folded, blanks skipped, optional sign, decimal digits; saturates at the
// 32-bit limits instead of wrapping.
std::int32_t textToInt(std::string_view t);
Text intToText(std::int64_t v);

// ---- numbers --------------------------------------------------------------------------

inline int lowByte(std::int64_t v) {
    return static_cast<int>(static_cast<std::uint64_t>(v) & 0xFFu);
}

}  // namespace kerbilo
