#pragma once
// Bounds-checked little-endian reads for the decoders; reading past the end gives 0 and
// callers check sizes before trusting any value.

#include <cstddef>
#include <cstdint>

#include "picture/image.h"

namespace kerbilo::picture_detail {

// The eight bytes every PNG file starts with, also an icon entry that holds a PNG.
constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

inline bool fits(Bytes data, std::uint64_t offset, std::uint64_t length) {
    return offset <= data.size() && length <= data.size() - offset;
}
inline std::uint8_t u8(Bytes data, std::uint64_t offset) {
    return offset < data.size() ? data[offset] : 0;
}
inline std::uint16_t le16(Bytes data, std::uint64_t offset) {
    if (!fits(data, offset, 2)) return 0;
    return static_cast<std::uint16_t>(data[offset] | (data[offset + 1] << 8));
}
inline std::uint32_t le32(Bytes data, std::uint64_t offset) {
    if (!fits(data, offset, 4)) return 0;
    return static_cast<std::uint32_t>(data[offset]) |
           (static_cast<std::uint32_t>(data[offset + 1]) << 8) |
           (static_cast<std::uint32_t>(data[offset + 2]) << 16) |
           (static_cast<std::uint32_t>(data[offset + 3]) << 24);
}
inline std::int32_t le32s(Bytes data, std::uint64_t offset) {
    return static_cast<std::int32_t>(le32(data, offset));
}

// Allocates width * height pixels; false on allocation failure so decoders give nothing.
bool allocateImage(Image& image, int width, int height, ImageKind kind, Pixel fill = 0) noexcept;

// Decodes a bottom-up or top-down device-independent bitmap (the part of a BMP after the
// file header, also the body of an icon entry) with the given row count. Shared by the
// BMP and icon decoders so both read palettes and padding the same way.
struct DibInfo {
    std::uint32_t headerSize = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;  // as stored; negative means top-down
    std::uint16_t bitCount = 0;
    std::uint32_t compression = 0;
    std::uint32_t coloursUsed = 0;
};
bool readDibInfo(Bytes dib, DibInfo& info) noexcept;
// Reads rows of `bitCount` pixels starting at `pixelOffset` into image (already allocated,
// width x rows). The palette has `paletteCount` BGRx entries at `paletteOffset`.
bool readDibPixels(Bytes data, std::uint64_t pixelOffset, std::uint64_t paletteOffset,
                   std::uint32_t paletteCount, int bitCount, bool topDown, Image& image) noexcept;
std::uint64_t dibRowBytes(std::int64_t width, int bitCount);

}  // namespace kerbilo::picture_detail
