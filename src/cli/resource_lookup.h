#pragma once
#include <optional>
#include <string>

#include "runtime/byte_buffer.h"

namespace kerbilo::cli {

// The data of resource n (numbered as `list` prints them) of the file, scanned with the
// kinds file configUtf8 (or resource.config beside the program). Nothing on failure, with
// a UTF-8 reason in errorUtf8.
std::optional<ByteBuffer> loadResourceData(const std::string& fileUtf8, int n,
                                           const std::optional<std::string>& configUtf8,
                                           std::string& errorUtf8);

}  // namespace kerbilo::cli
