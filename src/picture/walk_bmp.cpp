#include <algorithm>
#include <climits>

#include "picture/walk_detail.h"

namespace kerbilo {

using namespace walk_detail;
using picture_detail::dibRowBytes;
using picture_detail::le16;
using picture_detail::le32;
using picture_detail::le32s;

namespace {

constexpr std::uint64_t kFileHeader = 14;
constexpr std::uint32_t kCoreHeader = 12;  // OS/2 1.x: 16-bit width and height
constexpr std::uint32_t kV5Header = 124;
constexpr std::uint32_t kEmbeddedProfile = 0x4D424544;  // 'MBED'

bool knownHeaderSize(std::uint32_t size) {
    // 16..64 covers the Windows 3 header and its extensions (40, 52, 56) and OS/2 2.x,
    // which may stop after any field from the 16th byte on.
    return size == kCoreHeader || (size >= 16 && size <= 64) || size == 108 || size == kV5Header;
}

bool uncompressedDepth(int bits) {
    return bits == 1 || bits == 2 || bits == 4 || bits == 8 || bits == 16 || bits == 24 ||
           bits == 32;
}

}  // namespace

// The extent is what the headers require: the pixel-data offset plus the pixel bytes
// (rows padded to four bytes times the height, or the image-size field for RLE, JPEG and
// PNG compression), extended to an embedded colour profile that a V5 header places after
// them. The file-size field is used instead when it is at least that much and no more
// than the data holds: writers may pad the file, and the field is what they meant. A
// field below the requirement is a careless writer's and one beyond the data cannot be
// checked, so in both cases the requirement stands.
PictureWalk walkBmp(Bytes data) noexcept {
    PictureWalk walk;
    if (data.empty()) return ranOut(walk, data);
    if (data[0] != 'B' || (data.size() >= 2 && data[1] != 'M'))
        return broken(walk, 0, Reason::NoBmpSignature);
    if (data.size() < kFileHeader + 4) return ranOut(walk, data);

    const std::uint32_t fileSize = le32(data, 2);
    const std::uint32_t pixelOffset = le32(data, 10);
    const std::uint32_t headerSize = le32(data, kFileHeader);
    if (!knownHeaderSize(headerSize)) return broken(walk, kFileHeader, Reason::UnknownHeaderSize);
    if (!fits(data, kFileHeader, headerSize)) return ranOut(walk, data);

    const std::uint64_t h = kFileHeader;
    std::int64_t width = 0;
    std::int64_t height = 0;
    int planes = 0;
    int bits = 0;
    std::uint32_t compression = 0;
    std::uint32_t imageSize = 0;
    if (headerSize == kCoreHeader) {
        width = le16(data, h + 4);
        height = le16(data, h + 6);
        planes = le16(data, h + 8);
        bits = le16(data, h + 10);
    } else {
        width = le32s(data, h + 4);
        height = le32s(data, h + 8);
        planes = le16(data, h + 12);
        bits = le16(data, h + 14);
        if (headerSize >= 20) compression = le32(data, h + 16);
        if (headerSize >= 24) imageSize = le32(data, h + 20);
    }
    if (planes != 1) return broken(walk, h, Reason::PlaneCount);
    // Readers take the palette's size from this field, and indices need no more.
    if (headerSize >= 36 && bits <= 8 && le32(data, h + 32) > (1u << bits))
        return broken(walk, h, Reason::ColourCount);
    if (width <= 0) return broken(walk, h, Reason::WidthNotPositive);
    // Negative heights mark top-down rows; INT_MIN has no positive counterpart in 32 bits.
    if (height == 0 || height == INT32_MIN) return broken(walk, h, Reason::HeightRange);
    if (height < 0) height = -height;
    walk.width = static_cast<int>(width);
    walk.height = static_cast<int>(height);
    walk.bitsPerPixel = bits;
    walk.frames = 1;

    std::uint64_t pixelBytes = 0;
    switch (compression) {
        case 0:  // RGB
        case 3:  // bit fields
        case 6:  // bit fields with alpha
            if (!uncompressedDepth(bits) || (compression != 0 && bits != 16 && bits != 32))
                return broken(walk, h, Reason::BitCount);
            // At most 2^31 rows of at most 2^33 bytes: the product can overflow.
            if (!checkedMul(dibRowBytes(width, bits), static_cast<std::uint64_t>(height),
                            pixelBytes))
                return broken(walk, h, Reason::PixelSizeOverflows);
            break;
        case 1:  // RLE8
        case 2:  // RLE4
            // Run lengths count indices of exactly that width; no decoder takes another.
            if (bits != (compression == 1 ? 8 : 4)) return broken(walk, h, Reason::BitCount);
            if (imageSize == 0) return broken(walk, h, Reason::CompressedWithoutSize);
            pixelBytes = imageSize;
            break;
        case 4:  // JPEG
        case 5:  // PNG
            if (imageSize == 0) return broken(walk, h, Reason::CompressedWithoutSize);
            pixelBytes = imageSize;
            break;
        default:
            return broken(walk, h, Reason::UnknownCompression);
    }
    if (pixelOffset < kFileHeader + headerSize)
        return broken(walk, 10, Reason::PixelsOverlapHeaders);
    walk.headerSound = true;
    std::uint64_t required = 0;
    if (!checkedAdd(pixelOffset, pixelBytes, required))
        return broken(walk, h, Reason::PixelSizeOverflows);
    if (headerSize >= kV5Header && le32(data, h + 56) == kEmbeddedProfile) {
        // Offset from the start of the info header; both fields are 32-bit, no overflow.
        const std::uint64_t profileEnd =
            h + std::uint64_t{le32(data, h + 112)} + std::uint64_t{le32(data, h + 116)};
        required = std::max(required, profileEnd);
    }
    if (required > data.size()) return ranOut(walk, data);
    if (fileSize >= required && fileSize <= data.size()) return ended(walk, fileSize);
    return ended(walk, required);
}

}  // namespace kerbilo
