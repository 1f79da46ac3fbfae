#pragma once
// Hexadecimal signature text to bytes and back. The decoder validates nothing: users'
// configuration files rely on exactly how odd lengths and stray characters come out.

#include <cstdint>
#include <string_view>

#include "runtime/byte_buffer.h"
#include "runtime/progress.h"

namespace kerbilo {

// Two-byte groups by position; a lone last digit is a group of its own. One progress step
// per produced byte, so a window stays responsive over a very long signature.
ByteBuffer decodeHexText(std::string_view text, Progress& progress);
// Value of a one- or two-byte group; every non-digit counts −2.
std::int64_t hexDigitsValue(std::string_view group);
// Upper-case digits without leading zeros; empty for a negative value.
Text formatHex(std::int64_t v);

}  // namespace kerbilo
