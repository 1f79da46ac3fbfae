#include <algorithm>
#include <new>

#include "picture/byte_reader.h"
#include "picture/decoders.h"

namespace kerbilo {

namespace picture_detail {

bool allocateImage(Image& image, int width, int height, ImageKind kind, Pixel fill) noexcept {
    try {
        image.pixels.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height),
                            fill);
    } catch (const std::bad_alloc&) {
        return false;
    }
    image.width = width;
    image.height = height;
    image.kind = kind;
    return true;
}

std::uint64_t dibRowBytes(std::int64_t width, int bitCount) {
    const std::uint64_t bits =
        static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(bitCount);
    return ((bits + 31) / 32) * 4;
}

bool readDibInfo(Bytes dib, DibInfo& info) noexcept {
    if (dib.size() < 40) return false;
    info.headerSize = le32(dib, 0);
    info.width = le32s(dib, 4);
    info.height = le32s(dib, 8);
    info.bitCount = le16(dib, 14);
    info.compression = le32(dib, 16);
    info.coloursUsed = le32(dib, 32);
    return info.headerSize >= 40;
}

bool readDibPixels(Bytes data, std::uint64_t pixelOffset, std::uint64_t paletteOffset,
                   std::uint32_t paletteCount, int bitCount, bool topDown, Image& image) noexcept {
    Pixel palette[256] = {};
    if (bitCount <= 8) {
        // A palette larger than the bit depth can address carries nothing usable.
        const std::uint32_t addressable = 1u << bitCount;
        if (paletteCount > addressable) paletteCount = addressable;
        if (!fits(data, paletteOffset, std::uint64_t{paletteCount} * 4)) return false;
        for (std::uint32_t i = 0; i < paletteCount; ++i) {
            const std::uint64_t o = paletteOffset + std::uint64_t{i} * 4;
            palette[i] = makePixel(data[o + 2], data[o + 1], data[o]);
        }
        for (std::uint32_t i = paletteCount; i < 256; ++i) palette[i] = makePixel(0, 0, 0);
    }
    const std::uint64_t rowBytes = dibRowBytes(image.width, bitCount);
    if (!fits(data, pixelOffset, rowBytes * static_cast<std::uint64_t>(image.height))) return false;
    for (int row = 0; row < image.height; ++row) {
        const int y = topDown ? row : image.height - 1 - row;
        const std::uint8_t* src =
            data.data() + pixelOffset + rowBytes * static_cast<std::uint64_t>(row);
        Pixel* dst = &image.at(0, y);
        switch (bitCount) {
            case 1:
                for (int x = 0; x < image.width; ++x)
                    dst[x] = palette[(src[x >> 3] >> (7 - (x & 7))) & 1];
                break;
            case 4:
                for (int x = 0; x < image.width; ++x)
                    dst[x] = palette[(src[x >> 1] >> ((x & 1) ? 0 : 4)) & 0x0F];
                break;
            case 8:
                for (int x = 0; x < image.width; ++x) dst[x] = palette[src[x]];
                break;
            case 24:
                for (int x = 0; x < image.width; ++x)
                    dst[x] = makePixel(src[3 * x + 2], src[3 * x + 1], src[3 * x]);
                break;
            case 32:
                for (int x = 0; x < image.width; ++x)
                    dst[x] = makePixel(src[4 * x + 2], src[4 * x + 1], src[4 * x], src[4 * x + 3]);
                break;
            default:
                return false;
        }
    }
    return true;
}

}  // namespace picture_detail

using namespace picture_detail;

Decoded decodeBmp(Bytes data, const DecodeLimits& limits) noexcept {
    if (data.size() < 2 || data[0] != 'B' || data[1] != 'M') return DecodeFailure::NotRecognised;
    if (data.size() < 54) return DecodeFailure::Truncated;
    const std::uint32_t pixelOffset = le32(data, 10);
    DibInfo info;
    if (!readDibInfo(data.subspan(14), info)) return DecodeFailure::Unsupported;
    if (info.compression != 0) return DecodeFailure::Unsupported;
    const int bits = info.bitCount;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32)
        return DecodeFailure::Unsupported;
    const bool topDown = info.height < 0;
    const std::int64_t height = topDown ? -static_cast<std::int64_t>(info.height) : info.height;
    if (!limits.allows(info.width, height)) return DecodeFailure::OverLimits;
    std::uint32_t paletteCount = 0;
    if (bits <= 8) paletteCount = info.coloursUsed != 0 ? info.coloursUsed : (1u << bits);
    const std::uint64_t paletteOffset = 14 + std::uint64_t{info.headerSize};
    // A header may claim any size: the rows and the palette must be there before a single
    // pixel is allocated.
    if (!fits(data, pixelOffset,
              dibRowBytes(info.width, bits) * static_cast<std::uint64_t>(height)) ||
        !fits(data, paletteOffset,
              std::uint64_t{std::min(paletteCount, 1u << std::min(bits, 8))} * 4))
        return DecodeFailure::Truncated;
    Image image;
    if (!allocateImage(image, info.width, static_cast<int>(height), ImageKind::Colour))
        return DecodeFailure::OutOfMemory;
    if (!readDibPixels(data, pixelOffset, paletteOffset, paletteCount, bits, topDown, image))
        return DecodeFailure::Truncated;
    // 32-bit rows carry an unused fourth byte; the result is an opaque colour image.
    if (bits == 32)
        for (Pixel& p : image.pixels) p |= 0xFF000000u;
    return image;
}

}  // namespace kerbilo
