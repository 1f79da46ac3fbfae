#include <png.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "picture/byte_reader.h"
#include "picture/decoders.h"
#include "picture/walk_detail.h"

namespace kerbilo {

using namespace picture_detail;

namespace {

// libpng's byte orders that match a native 0xAARRGGBB value in memory.
constexpr png_uint_32 kNativeFormat =
    std::endian::native == std::endian::little ? PNG_FORMAT_BGRA : PNG_FORMAT_ARGB;

// libpng's simplified reader says only that it failed. Following the chunk lengths tells
// whether the data simply ends before the last chunk does.
DecodeFailure failureOf(Bytes data, const png_image& png) {
    if (std::strstr(png.message, "memory") != nullptr) return DecodeFailure::OutOfMemory;
    std::uint64_t at = 8;
    while (at + 8 <= data.size()) {
        const std::uint64_t length = walk_detail::be32(data, at);
        const bool end = std::memcmp(data.data() + at + 4, "IEND", 4) == 0;
        at += 12 + length;
        if (end) return at <= data.size() ? DecodeFailure::Corrupt : DecodeFailure::Truncated;
    }
    return DecodeFailure::Truncated;
}

// Whether a chunk before the first IDAT runs past the data. libpng reads each of those
// whole, and takes what an ancillary one claims before reading it: 83 bytes claiming a
// text chunk of 1.8 GB had it ask for 1.8 GB. Such a chunk could only end the decode
// with the data, so it ends here, without the request.
bool headerChunkRunsPast(Bytes data) {
    std::uint64_t at = 8;
    while (at + 8 <= data.size()) {
        const std::uint64_t length = walk_detail::be32(data, at);
        if (std::memcmp(data.data() + at + 4, "IDAT", 4) == 0 ||
            std::memcmp(data.data() + at + 4, "IEND", 4) == 0)
            return false;
        at += 12 + length;
        if (at > data.size()) return true;
    }
    return false;
}

// The bytes as a stdio stream for libpng, which reads them as it decodes rows: a read
// after the stop was set fails, and libpng gives up instead of finishing the picture.
struct StoppableStream {
    Bytes data;
    std::size_t at = 0;
    const DecodeLimits* limits = nullptr;

    static ssize_t read(void* cookie, char* buffer, std::size_t size) {
        auto* s = static_cast<StoppableStream*>(cookie);
        if (s->limits->stopped()) return -1;
        const std::size_t n = std::min(size, s->data.size() - s->at);
        std::memcpy(buffer, s->data.data() + s->at, n);
        s->at += n;
        return static_cast<ssize_t>(n);
    }
};

}  // namespace

Decoded decodePng(Bytes data, const DecodeLimits& limits) noexcept {
    if (data.size() < 4 || std::memcmp(data.data(), kPngSignature, 4) != 0)
        return DecodeFailure::NotRecognised;
    if (data.size() < 8 || headerChunkRunsPast(data)) return DecodeFailure::Truncated;
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    // Only a decode someone may stop reads through a stream; the rest reads the memory.
    StoppableStream stream{data, 0, &limits};
    std::unique_ptr<FILE, int (*)(FILE*)> file(nullptr, &std::fclose);
    if (limits.stop) {
        file.reset(fopencookie(&stream, "r", {&StoppableStream::read, nullptr, nullptr, nullptr}));
        if (!file) return DecodeFailure::OutOfMemory;
    }
    if (!(file ? png_image_begin_read_from_stdio(&png, file.get())
               : png_image_begin_read_from_memory(&png, data.data(), data.size()))) {
        png_image_free(&png);
        return limits.stopped() ? DecodeFailure::Stopped : failureOf(data, png);
    }
    if (!limits.allows(png.width, png.height)) {
        png_image_free(&png);
        return DecodeFailure::OverLimits;
    }
    png.format = kNativeFormat;
    // Without this libpng takes 16-bit samples for linear light and shows them far too light;
    // files without gAMA, sRGB or iCCP mean sRGB at 16 bits as they do at 8.
    png.flags |= PNG_IMAGE_FLAG_16BIT_sRGB;
    Image image;
    if (!allocateImage(image, static_cast<int>(png.width), static_cast<int>(png.height),
                       ImageKind::Alpha)) {
        png_image_free(&png);
        return DecodeFailure::OutOfMemory;
    }
    const bool ok =
        png_image_finish_read(&png, nullptr, image.pixels.data(),
                              static_cast<png_int_32>(PNG_IMAGE_ROW_STRIDE(png)), nullptr) != 0;
    const DecodeFailure why = ok                 ? DecodeFailure::None
                              : limits.stopped() ? DecodeFailure::Stopped
                                                 : failureOf(data, png);
    png_image_free(&png);
    if (!ok) return why;
    return image;
}

ByteBuffer encodePng(const Image& image) noexcept {
    if (image.empty() || image.pixels.size() < static_cast<std::size_t>(image.width) *
                                                   static_cast<std::size_t>(image.height))
        return {};
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(image.width);
    png.height = static_cast<png_uint_32>(image.height);
    png.format = kNativeFormat;
    std::vector<Pixel> opaque;
    const void* pixels = image.pixels.data();
    if (image.kind == ImageKind::Colour) {
        // Colour images may carry junk in the alpha byte; the file must show them opaque.
        try {
            opaque = image.pixels;
        } catch (const std::bad_alloc&) {
            return {};
        }
        for (Pixel& p : opaque) p |= 0xFF000000u;
        pixels = opaque.data();
    }
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&png, nullptr, &size, 0, pixels, 0, nullptr)) return {};
    ByteBuffer out = ByteBuffer::uninitialized(size);
    if (out.size() != size) return {};
    if (!png_image_write_to_memory(&png, out.mutableData(), &size, 0, pixels, 0, nullptr))
        return {};
    return out.slice(0, size);
}

}  // namespace kerbilo
