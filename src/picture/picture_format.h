#pragma once
// Which picture format some bytes hold, judged by their first eight bytes only.

#include "picture/image.h"

namespace kerbilo {

enum class PictureFormat { None, Bmp, Jpeg, Png, Ico, Cur, Gif, Pcx256, PcxMono };

// Data shorter than 8 bytes is never a picture; the checks run in a fixed order, so the
// first matching signature wins.
PictureFormat recognisePicture(Bytes data) noexcept;

// The short name listings and messages use: "PNG", "JPEG", "GIF", "BMP", "ICO", "CUR",
// "PCX"; empty for no picture.
const char* pictureFormatName(PictureFormat format) noexcept;

}  // namespace kerbilo
