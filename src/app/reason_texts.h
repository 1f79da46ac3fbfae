#pragma once
// Why a resource got its verdict, in the window's language (GBK).

#include <cstdint>

#include "picture/reason.h"
#include "runtime/byte_buffer.h"

namespace kerbilo {

// "第 2 项指向文件之外" for an icon whose second entry points past the file; empty for None.
Text reasonText(Reason reason, std::int64_t item);

}  // namespace kerbilo
