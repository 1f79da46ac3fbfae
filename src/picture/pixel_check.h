#pragma once
// Whether a picture's pixel data decodes, without keeping the pixels: the structure walk
// tells where a picture ends, this tells whether what lies inside is what the header
// promises. PNG's zlib data is inflated row by row into a small buffer, JPEG's entropy-coded
// data decoded by libjpeg at an eighth of the size, each GIF frame's LZW codes counted to
// its pixel count, an icon's PNG entries checked like PNGs, a run-length coded bitmap's
// runs read to their end mark. Other bitmaps need nothing more than their walk: their
// pixels are stored, and the walk already found them there.
// Internal to the picture library; never throws, memory bounded whatever the header says.

#include <cstdint>

#include "picture/picture_format.h"
#include "picture/reason.h"
#include "runtime/byte_buffer.h"

namespace kerbilo::picture_detail {

struct PixelCheck {
    Reason reason = Reason::None;  // None: the pixel data decodes
    std::int64_t item = 0;         // the frame or entry the reason names
};

// `picture` holds exactly one picture whose structure walk ended at its last byte.
PixelCheck checkPixelData(PictureFormat format, Bytes picture) noexcept;

PixelCheck checkPngPixels(Bytes png) noexcept;
PixelCheck checkJpegPixels(Bytes jpeg) noexcept;  // in jpeg.cpp, beside the decoder
PixelCheck checkGifPixels(Bytes gif) noexcept;

}  // namespace kerbilo::picture_detail
