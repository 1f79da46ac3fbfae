#include <algorithm>

#include "picture/byte_reader.h"
#include "picture/decoders.h"
#include "picture/icon_layout.h"

namespace kerbilo {

using namespace picture_detail;

namespace {

Decoded decodeBitmapEntry(Bytes dib, const DecodeLimits& limits) {
    DibInfo info;
    if (dib.size() < 40) return DecodeFailure::Truncated;
    if (!readDibInfo(dib, info) || info.compression != 0) return DecodeFailure::Unsupported;
    const int bits = info.bitCount;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32)
        return DecodeFailure::Unsupported;
    // The stored height counts the colour bitmap and the mask below it.
    const std::int64_t width = info.width;
    const std::int64_t height = info.height / 2;
    if (info.height < 0) return DecodeFailure::Unsupported;
    if (!limits.allows(width, height)) return DecodeFailure::OverLimits;
    std::uint32_t paletteCount = 0;
    if (bits <= 8) paletteCount = info.coloursUsed != 0 ? info.coloursUsed : (1u << bits);
    if (bits <= 8 && paletteCount > (1u << bits)) paletteCount = 1u << bits;
    const std::uint64_t paletteOffset = info.headerSize;
    const std::uint64_t colourOffset = paletteOffset + std::uint64_t{paletteCount} * 4;
    const std::uint64_t maskOffset =
        colourOffset + dibRowBytes(width, bits) * static_cast<std::uint64_t>(height);
    const std::uint64_t maskRow = dibRowBytes(width, 1);
    if (!fits(dib, maskOffset, maskRow * static_cast<std::uint64_t>(height)))
        return DecodeFailure::Truncated;

    Image image;
    if (!allocateImage(image, static_cast<int>(width), static_cast<int>(height), ImageKind::Icon))
        return DecodeFailure::OutOfMemory;
    if (!readDibPixels(dib, colourOffset, paletteOffset, paletteCount, bits, false, image))
        return DecodeFailure::Truncated;

    // 32-bit entries made for alpha-aware systems carry real alpha and an all-zero mask;
    // older ones leave the alpha byte zero and rely on the mask alone.
    bool hasAlpha = false;
    if (bits == 32)
        for (Pixel p : image.pixels) hasAlpha |= pixelAlpha(p) != 0;
    for (int row = 0; row < image.height; ++row) {
        const int y = image.height - 1 - row;
        const std::uint8_t* mask =
            dib.data() + maskOffset + maskRow * static_cast<std::uint64_t>(row);
        Pixel* dst = &image.at(0, y);
        for (int x = 0; x < image.width; ++x) {
            const bool through = (mask[x >> 3] >> (7 - (x & 7))) & 1;
            if (hasAlpha) {
                if (through) dst[x] &= 0x00FFFFFFu;
            } else {
                dst[x] = (dst[x] & 0x00FFFFFFu) | (through ? 0u : 0xFF000000u);
            }
        }
    }
    return image;
}

}  // namespace

int chooseIconEntry(Bytes data) noexcept {
    const std::size_t count = le16(data, ico::kCountAt);
    if (count == 0 || !fits(data, ico::kHeaderSize, count * ico::kEntrySize)) return -1;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint64_t e = ico::entryAt(i);
        if (data[e + ico::kEntryWidthAt] == 32 && data[e + ico::kEntryColoursAt] > 15)
            return static_cast<int>(i);
    }
    return static_cast<int>(count - 1);
}

Decoded decodeIcon(Bytes data, const DecodeLimits& limits) noexcept {
    const PictureFormat format = recognisePicture(data);
    if (format != PictureFormat::Ico && format != PictureFormat::Cur)
        return DecodeFailure::NotRecognised;
    const int chosen = chooseIconEntry(data);
    if (chosen < 0) return DecodeFailure::Truncated;
    const std::uint32_t offset =
        le32(data, ico::entryAt(static_cast<std::uint64_t>(chosen)) + ico::kEntryOffsetAt);
    if (offset >= data.size()) return DecodeFailure::Truncated;
    // The stored entry size is wrong often enough in the wild that only the end of the
    // data bounds the entry.
    const Bytes entry = data.subspan(offset);
    try {
        if (entry.size() >= 8 && std::equal(kPngSignature, kPngSignature + 8, entry.begin())) {
            auto image = decodePng(entry, limits);
            if (image) image->kind = ImageKind::Icon;
            return image;
        }
        return decodeBitmapEntry(entry, limits);
    } catch (...) {
        return DecodeFailure::OutOfMemory;
    }
}

}  // namespace kerbilo
