#pragma once
// The pictures drawn by make_pictures at build time and embedded in the program.
#include "runtime/byte_buffer.h"

namespace kerbilo {

ByteBuffer logoPicture();   // PNG, 300 × 300, RGBA
ByteBuffer aboutPicture();  // JFIF JPEG, 238 × 238

}  // namespace kerbilo
