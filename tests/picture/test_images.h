#pragma once
// Tiny writers for every format the pane reads, so tests build their inputs pixel by
// pixel and know what each decoded pixel must be.

#include <cstdint>
#include <vector>

#include "picture/image.h"
#include "runtime/byte_buffer.h"

namespace kerbilo::testing {

using ByteVector = std::vector<std::uint8_t>;

void put16(ByteVector& out, unsigned v);
void put32(ByteVector& out, std::uint32_t v);
ByteBuffer toBuffer(const ByteVector& bytes);

// Opaque test image whose pixel (x, y) is a distinct colour.
Image patternImage(int width, int height, ImageKind kind = ImageKind::Colour);

struct BmpPlan {
    int width = 0;
    int height = 0;  // positive; topDown writes a negative height
    int bits = 24;
    bool topDown = false;
    std::uint32_t compression = 0;
    std::uint32_t coloursUsed = 0;  // written as is; the palette has `palette.size()` entries
    std::vector<Pixel> palette;
    std::vector<std::uint32_t> values;  // per pixel, top row first: index or 0xRRGGBB
};
// File header + 40-byte info header + palette + rows; no file header when `dibOnly`.
ByteVector makeBmp(const BmpPlan& layout, bool dibOnly = false);

struct IconEntryPlan {
    int directoryWidth = 0;  // the byte in the directory (0 means 256)
    int colourCount = 0;
    ByteVector data;  // a DIB with doubled height plus AND mask, or a PNG file
};
ByteVector makeIcon(const std::vector<IconEntryPlan>& entries, int type = 1);
// DIB for an icon entry: 24-bit colour rows, then the AND mask (1 = background shows).
ByteVector makeIconDib(const Image& colour, const std::vector<bool>& mask);

ByteVector makePcx256(int width, int height, const std::vector<std::uint8_t>& indices,
                      const std::vector<Pixel>& palette);
ByteVector makePcxMono(int width, int height, const std::vector<bool>& white);

struct GifFramePlan {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> indices;  // display order
    std::vector<Pixel> localPalette;
    int disposal = 0;
    int delay = 0;
    int transparentIndex = -1;
    bool interlaced = false;
    bool controlExtension = true;
    // Every index a code of its own, 8-bit codes: quick to write for large frames, and
    // the most work for a decoder per pixel.
    bool uncompressed = false;
};
ByteVector makeGif(int width, int height, const std::vector<Pixel>& globalPalette,
                   const std::vector<GifFramePlan>& frames, bool trailer = true);
// LZW data (minimum code size byte plus sub-blocks) of the given indices.
ByteVector gifLzw(const std::vector<std::uint8_t>& indices, int minCodeSize);
// The same without compression (minimum code size 8): a clear code comes before the
// table would widen the codes.
ByteVector gifPlainLzw(const std::vector<std::uint8_t>& indices);

// libpng's simplified writer in the given PNG_FORMAT_*; pixels given as 0xAARRGGBB.
ByteVector makePng(const Image& image, unsigned format);
// A 16-bit PNG written with no gAMA, sRGB or iCCP chunk, as many tools write them:
// `channels` 1 (grey), 3 (RGB) or 4 (RGBA) samples per pixel, top row first.
ByteVector makePng16(int width, int height, int channels,
                     const std::vector<std::uint16_t>& samples);
enum class JpegKind { Colour, Gray, Cmyk, Progressive };
ByteVector makeJpeg(const Image& image, JpegKind kind, int quality = 95);

}  // namespace kerbilo::testing
