#pragma once
#include <span>

#include "runtime/byte_buffer.h"

namespace kerbilo {

// The files-dropped text: one path as it is; several paths each followed by CR LF.
Text filesDroppedText(std::span<const Text> paths);

// The first path of a files-dropped text (the whole text when it holds one path).
Text firstDroppedPath(const Text& dropped);

}  // namespace kerbilo
