#include "picture/byte_reader.h"
#include "picture/decoders.h"

namespace kerbilo {

using namespace picture_detail;

namespace {

constexpr std::size_t kHeaderSize = 128;
constexpr std::size_t kPaletteSize = 769;  // marker byte 0x0C and 256 RGB triples

// Run-length decodes exactly out.size() bytes from [pos, end); runs may cross scan lines.
bool unpackRuns(Bytes data, std::size_t pos, std::size_t end, std::vector<std::uint8_t>& out) {
    std::size_t written = 0;
    while (written < out.size()) {
        if (pos >= end) return false;
        std::uint8_t b = data[pos++];
        std::size_t count = 1;
        if ((b & 0xC0) == 0xC0) {
            count = b & 0x3F;
            if (pos >= end) return false;
            b = data[pos++];
        }
        if (count > out.size() - written) count = out.size() - written;
        for (std::size_t i = 0; i < count; ++i) out[written++] = b;
    }
    return true;
}

}  // namespace

Decoded decodePcx(Bytes data, const DecodeLimits& limits) noexcept {
    const PictureFormat format = recognisePicture(data);
    if (format != PictureFormat::Pcx256 && format != PictureFormat::PcxMono)
        return DecodeFailure::NotRecognised;
    if (data.size() <= kHeaderSize) return DecodeFailure::Truncated;
    const std::int64_t width = std::int64_t{le16(data, 8)} - le16(data, 4) + 1;
    const std::int64_t height = std::int64_t{le16(data, 10)} - le16(data, 6) + 1;
    const int planes = u8(data, 65);
    const std::size_t bytesPerLine = le16(data, 66);
    if (!limits.allows(width, height)) return DecodeFailure::OverLimits;

    const bool mono = format == PictureFormat::PcxMono;
    std::size_t end = data.size();
    if (mono) {
        if (planes != 1) return DecodeFailure::Unsupported;
        if (bytesPerLine * 8 < static_cast<std::uint64_t>(width)) return DecodeFailure::Corrupt;
    } else {
        // 256-colour images keep their palette in the last 769 bytes.
        if (data.size() < kHeaderSize + kPaletteSize) return DecodeFailure::Truncated;
        if (planes != 1 && planes != 3) return DecodeFailure::Unsupported;
        if (bytesPerLine < static_cast<std::uint64_t>(width)) return DecodeFailure::Corrupt;
        if (planes == 1) end = data.size() - kPaletteSize;
    }
    const std::uint64_t lineBytes = bytesPerLine * static_cast<std::uint64_t>(planes);
    // Each input byte yields at most 63 output bytes; a plane larger than that bound
    // cannot be complete, so refuse it before allocating.
    if (lineBytes * static_cast<std::uint64_t>(height) > std::uint64_t{63} * (end - kHeaderSize))
        return DecodeFailure::Truncated;

    Image image;
    std::vector<std::uint8_t> raw;
    try {
        raw.resize(lineBytes * static_cast<std::uint64_t>(height));
    } catch (const std::bad_alloc&) {
        return DecodeFailure::OutOfMemory;
    }
    if (!unpackRuns(data, kHeaderSize, end, raw)) return DecodeFailure::Truncated;
    if (!allocateImage(image, static_cast<int>(width), static_cast<int>(height), ImageKind::Colour))
        return DecodeFailure::OutOfMemory;

    const std::uint8_t* palette = data.data() + data.size() - 768;
    for (int y = 0; y < image.height; ++y) {
        const std::uint8_t* line = raw.data() + lineBytes * static_cast<std::uint64_t>(y);
        Pixel* dst = &image.at(0, y);
        for (int x = 0; x < image.width; ++x) {
            if (mono) {
                dst[x] = ((line[x >> 3] >> (7 - (x & 7))) & 1) ? makePixel(255, 255, 255)
                                                               : makePixel(0, 0, 0);
            } else if (planes == 1) {
                const std::uint8_t* c = palette + 3 * line[x];
                dst[x] = makePixel(c[0], c[1], c[2]);
            } else {
                dst[x] = makePixel(line[x], line[bytesPerLine + x], line[2 * bytesPerLine + x]);
            }
        }
    }
    return image;
}

}  // namespace kerbilo
