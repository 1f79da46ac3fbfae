#include "picture/pixel_check.h"

#include <libdeflate.h>
#include <zlib.h>

#include <array>
#include <cstring>

#include "picture/gif_blocks.h"
#include "picture/icon_layout.h"
#include "picture/walk_detail.h"

namespace kerbilo::picture_detail {

using walk_detail::be32;

namespace {

bool isType(Bytes data, std::uint64_t offset, const char* type) {
    return std::memcmp(data.data() + offset, type, 4) == 0;
}

// The rows a PNG's zlib stream must inflate to, pass by pass (one pass, or Adam7's seven),
// followed as the bytes come so that nothing of the size is ever multiplied out.
class PngRows {
  public:
    PngRows(std::uint64_t width, std::uint64_t height, std::uint64_t bitsPerPixel, bool interlaced)
        : width_(width), height_(height), bits_(bitsPerPixel), interlaced_(interlaced) {
        startPass();
    }

    bool done() const { return pass_ >= passes(); }

    // Takes inflated bytes; false at a row whose filter byte is none of the five.
    // `surplus` counts bytes past the last row.
    bool take(const std::uint8_t* bytes, std::uint64_t count, std::uint64_t& surplus) {
        while (count > 0) {
            if (done()) {
                surplus += count;
                return true;
            }
            if (inRow_ == 0) {
                if (*bytes > 4) return false;
                ++bytes;
                --count;
                inRow_ = rowBytes_;
                if (inRow_ == 0) nextRow();
                continue;
            }
            const std::uint64_t step = std::min(count, inRow_);
            bytes += step;
            count -= step;
            inRow_ -= step;
            if (inRow_ == 0) nextRow();
        }
        return true;
    }

  private:
    int passes() const { return interlaced_ ? 7 : 1; }

    void startPass() {
        static constexpr std::uint64_t kX0[7] = {0, 4, 0, 2, 0, 1, 0};
        static constexpr std::uint64_t kY0[7] = {0, 0, 4, 0, 2, 0, 1};
        static constexpr std::uint64_t kDx[7] = {8, 8, 4, 4, 2, 2, 1};
        static constexpr std::uint64_t kDy[7] = {8, 8, 8, 4, 4, 2, 2};
        for (; pass_ < passes(); ++pass_) {
            std::uint64_t columns = width_;
            rowsLeft_ = height_;
            if (interlaced_) {
                const auto p = static_cast<std::size_t>(pass_);
                columns = width_ > kX0[p] ? (width_ - kX0[p] + kDx[p] - 1) / kDx[p] : 0;
                rowsLeft_ = height_ > kY0[p] ? (height_ - kY0[p] + kDy[p] - 1) / kDy[p] : 0;
            }
            // An empty pass has no rows at all, not even filter bytes.
            if (columns == 0 || rowsLeft_ == 0) continue;
            rowBytes_ = (columns * bits_ + 7) / 8;  // below 2^31 * 64: no overflow
            return;
        }
    }
    void nextRow() {
        if (--rowsLeft_ > 0) return;
        ++pass_;
        startPass();
    }

    std::uint64_t width_, height_, bits_;
    bool interlaced_;
    int pass_ = 0;
    std::uint64_t rowsLeft_ = 0;
    std::uint64_t rowBytes_ = 0;
    std::uint64_t inRow_ = 0;  // bytes still to come in the current row; 0 at a row's start
};

int pngChannels(int colourType) {
    static constexpr int kChannels[7] = {1, 0, 3, 1, 2, 0, 4};
    return colourType >= 0 && colourType < 7 ? kChannels[colourType] : 0;
}

// The LZW codes of one GIF image counted out, code by code, to the image's pixel count:
// only each code's string length is kept, never the pixels.
class LzwCounter {
  public:
    explicit LzwCounter(int minimumCodeSize)
        : clear_(1u << minimumCodeSize), minimum_(minimumCodeSize) {
        reset();
    }

    enum class Result { More, Enough, End, Corrupt };

    Result feed(const std::uint8_t* bytes, std::uint64_t count, std::uint64_t pixels) {
        for (std::uint64_t i = 0; i < count; ++i) {
            buffer_ |= std::uint32_t{bytes[i]} << bitsHeld_;
            bitsHeld_ += 8;
            while (bitsHeld_ >= codeSize_) {
                const std::uint32_t code = buffer_ & ((1u << codeSize_) - 1);
                buffer_ >>= codeSize_;
                bitsHeld_ -= codeSize_;
                const Result r = take(code);
                if (r != Result::More) return r;
                if (produced_ >= pixels) return Result::Enough;
            }
        }
        return Result::More;
    }
    std::uint64_t produced() const { return produced_; }

  private:
    void reset() {
        next_ = clear_ + 2;
        codeSize_ = static_cast<unsigned>(minimum_) + 1;
        previous_ = kNone;
    }

    Result take(std::uint32_t code) {
        if (code == clear_) {
            reset();
            return Result::More;
        }
        if (code == clear_ + 1) return Result::End;
        std::uint32_t length = 0;
        if (previous_ == kNone) {
            if (code >= clear_) return Result::Corrupt;
            produced_ += 1;
            previous_ = code;
            return Result::More;
        }
        if (code < clear_) {
            length = 1;
        } else if (code < next_) {
            length = length_[code];
        } else if (code == next_ && next_ < kCodes) {
            length = lengthOf(previous_) + 1;
        } else {
            return Result::Corrupt;
        }
        produced_ += length;
        // A full table stays as it is until the next clear code (a deferred clear).
        if (next_ < kCodes) {
            length_[next_++] = lengthOf(previous_) + 1;
            if (next_ == (1u << codeSize_) && codeSize_ < 12) ++codeSize_;
        }
        previous_ = code;
        return Result::More;
    }
    std::uint32_t lengthOf(std::uint32_t code) const { return code < clear_ ? 1 : length_[code]; }

    static constexpr std::uint32_t kCodes = 4096;
    static constexpr std::uint32_t kNone = 0xFFFFFFFF;
    std::array<std::uint32_t, kCodes> length_{};
    std::uint32_t clear_;
    int minimum_;
    std::uint32_t next_ = 0;
    unsigned codeSize_ = 0;
    std::uint32_t previous_ = kNone;
    std::uint32_t buffer_ = 0;
    unsigned bitsHeld_ = 0;
    std::uint64_t produced_ = 0;
};

PixelCheck checkIconPixels(Bytes icon) noexcept {
    const std::uint16_t count = le16(icon, ico::kCountAt);
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t entry = ico::entryAt(i);
        const std::uint64_t offset = le32(icon, entry + ico::kEntryOffsetAt);
        const std::uint64_t size = le32(icon, entry + ico::kEntryBytesAt);
        if (!fits(icon, offset, size))
            return {Reason::EntryPastFile, static_cast<std::int64_t>(i + 1)};
        const Bytes image = icon.subspan(offset, size);
        if (!fits(image, 0, 8) || std::memcmp(image.data(), kPngSignature, 8) != 0) continue;
        const PictureWalk walk = walkPng(image);
        if (walk.end != WalkEnd::Ended ||
            checkPngPixels(image.first(static_cast<std::size_t>(walk.extent))).reason !=
                Reason::None)
            return {Reason::EntryPngDamaged, static_cast<std::int64_t>(i + 1)};
    }
    return {};
}

}  // namespace

PixelCheck checkPngPixels(Bytes png) noexcept {
    // The walk has checked the signature, every chunk's CRC and the IHDR's fields.
    if (!fits(png, 8, 8 + 13)) return {Reason::EndBeforeData, 0};
    const std::uint64_t width = be32(png, 16);
    const std::uint64_t height = be32(png, 20);
    const int depth = png[24];
    const int channels = pngChannels(png[25]);
    const bool interlaced = png[28] == 1;
    PngRows rows(width, height, static_cast<std::uint64_t>(channels * depth), interlaced);

    z_stream zs{};
    if (inflateInit(&zs) != Z_OK) return {Reason::PixelsUnchecked, 0};
    // zlib's own Adler-32 runs a byte at a time and took a quarter of the inflating; the
    // sum is kept here with libdeflate's vectorised one and compared with the stream's
    // trailer, while zlib still decides what inflates.
    const bool ownSum = inflateValidate(&zs, 0) == Z_OK;
    std::uint32_t sum = 1;
    std::array<std::uint8_t, 4> trailer{};  // the last four bytes zlib took
    const auto took = [&](const std::uint8_t* from, std::size_t count) {
        const std::size_t keep = std::min<std::size_t>(count, 4);
        std::memmove(trailer.data(), trailer.data() + keep, 4 - keep);
        std::memcpy(trailer.data() + 4 - keep, from + count - keep, keep);
    };
    std::array<std::uint8_t, 32 * 1024> out;
    std::uint64_t surplus = 0;
    Reason why = Reason::None;
    bool streamEnded = false;
    for (std::uint64_t pos = 8; fits(png, pos, 12) && why == Reason::None && !streamEnded;) {
        const std::uint64_t length = be32(png, pos);
        const std::uint64_t body = pos + 8;
        if (!fits(png, body, length + 4)) break;
        if (isType(png, pos + 4, "IEND")) break;
        if (isType(png, pos + 4, "IDAT")) {
            zs.next_in = const_cast<Bytef*>(png.data() + body);
            zs.avail_in = static_cast<uInt>(length);
            while (zs.avail_in > 0 || zs.avail_out == 0) {
                zs.next_out = out.data();
                zs.avail_out = static_cast<uInt>(out.size());
                const Bytef* in = zs.next_in;
                const int status = inflate(&zs, Z_NO_FLUSH);
                const std::uint64_t made = out.size() - zs.avail_out;
                if (ownSum) {
                    took(in, static_cast<std::size_t>(zs.next_in - in));
                    sum = libdeflate_adler32(sum, out.data(), static_cast<std::size_t>(made));
                }
                if (!rows.take(out.data(), made, surplus)) {
                    why = Reason::RowFilter;
                    break;
                }
                if (status == Z_STREAM_END) {
                    streamEnded = true;
                    if (ownSum && be32({trailer.data(), 4}, 0) != sum) why = Reason::ZlibCorrupt;
                    break;
                }
                if (status == Z_BUF_ERROR) break;  // wants the next chunk's bytes
                if (status != Z_OK) {
                    why = status == Z_MEM_ERROR ? Reason::PixelsUnchecked : Reason::ZlibCorrupt;
                    break;
                }
                // Far more than the rows: no decoder would read it all, nor need we.
                if (surplus > 0) break;
            }
            if (surplus > 0 && why == Reason::None) why = Reason::ZlibTooLong;
        }
        pos = body + length + 4;
    }
    inflateEnd(&zs);
    if (why != Reason::None) return {why, 0};
    if (!rows.done()) return {Reason::ZlibEndsEarly, 0};
    if (!streamEnded) return {Reason::ZlibEndsEarly, 0};
    return {};
}

PixelCheck checkGifPixels(Bytes gif) noexcept {
    GifReader reader(gif);
    GifScreen screen;
    if (!reader.readScreen(screen)) return {};
    std::int64_t frame = 0;
    for (;;) {
        const GifBlock block = reader.next();
        if (block.kind == GifBlockKind::Extension) continue;
        if (block.kind != GifBlockKind::Image || block.end == 0) return {};
        ++frame;
        const GifImage& image = block.image;
        const std::uint64_t pixels =
            static_cast<std::uint64_t>(image.width) * static_cast<std::uint64_t>(image.height);
        if (pixels == 0) continue;
        if (!gifCodeSizeValid(image.minimumCodeSize)) return {Reason::LzwCodeSize, frame};
        LzwCounter counter(image.minimumCodeSize);
        LzwCounter::Result result = LzwCounter::Result::More;
        // Sub-blocks that follow the one holding the last pixel: an encoder ends its codes
        // there, so a chain that goes on for more than one is other data taken for codes.
        int blocksAfter = 0;
        forEachGifSubBlock(gif, image.dataOffset + 1, [&](std::uint64_t at, std::uint64_t length) {
            if (result == LzwCounter::Result::More)
                result = counter.feed(gif.data() + at, length, pixels);
            else
                ++blocksAfter;
        });
        if (result == LzwCounter::Result::Corrupt) return {Reason::LzwCorrupt, frame};
        if (result != LzwCounter::Result::Enough && counter.produced() < pixels)
            return {Reason::LzwEndsEarly, frame};
        if (blocksAfter > 1) return {Reason::LzwTooLong, frame};
    }
}

// A run-length coded bitmap's runs, followed as readers place them: the data must reach
// its end-of-bitmap mark, or the line ends that close the last row, without a run or a
// move taking the position past its line or the image.
PixelCheck checkBmpPixels(Bytes bmp) noexcept {
    const std::uint32_t header = le32(bmp, 14);
    if (header < 24 || !fits(bmp, 14, 24)) return {};
    const std::uint32_t compression = le32(bmp, 14 + 16);
    if (compression != 1 && compression != 2) return {};
    const bool fourBits = compression == 2;
    const std::uint64_t width = static_cast<std::uint32_t>(le32s(bmp, 14 + 4));
    const std::int64_t height = le32s(bmp, 14 + 8);
    const std::uint64_t rows = static_cast<std::uint64_t>(height < 0 ? -height : height);
    const std::uint64_t last = width * rows;  // both below 2^31
    const std::uint64_t start = le32(bmp, 10);
    // The walk saw the image-size field's bytes inside the data.
    const std::uint64_t end = std::min<std::uint64_t>(bmp.size(), start + le32(bmp, 14 + 20));
    std::uint64_t x = 0, y = 0, at = 0;
    for (std::uint64_t pos = start; y < rows;) {
        // Encoders never run past a line's end, bar the few pixels that pad it; readers
        // differ on what such a run means.
        if (at > last || x > width + 3) return {Reason::RleOutsideImage, 0};
        if (pos + 2 > end) return {Reason::RleEndsEarly, 0};
        const std::uint8_t count = bmp[pos];
        const std::uint8_t code = bmp[pos + 1];
        pos += 2;
        if (count > 0) {  // a run of one value (or of two, alternating, in four bits)
            const std::uint64_t n = std::min<std::uint64_t>(count, last - at);
            at += n;
            x += n;
            continue;
        }
        if (code == 1) return {};  // the end of the bitmap
        if (code == 0) {           // the end of a line
            x = 0;
            ++y;
            at = y * width;
            continue;
        }
        if (code == 2) {  // a move right and down
            if (pos + 2 > end) return {Reason::RleEndsEarly, 0};
            x += bmp[pos];
            y += bmp[pos + 1];
            pos += 2;
            at = y * width + x;
            continue;
        }
        // `code` pixels given as they are, padded to a whole number of 16-bit words.
        const std::uint64_t bytes = fourBits ? (code + 1u) / 2 : code;
        pos += (bytes + 1) / 2 * 2;
        if (pos > end) return {Reason::RleEndsEarly, 0};
        const std::uint64_t n = std::min<std::uint64_t>(code, last - at);
        at += n;
        x += n;
    }
    return {};
}

PixelCheck checkPixelData(PictureFormat format, Bytes picture) noexcept {
    switch (format) {
        case PictureFormat::Png:
            return checkPngPixels(picture);
        case PictureFormat::Jpeg:
            return checkJpegPixels(picture);
        case PictureFormat::Gif:
            return checkGifPixels(picture);
        case PictureFormat::Ico:
        case PictureFormat::Cur:
            return checkIconPixels(picture);
        case PictureFormat::Bmp:
            return checkBmpPixels(picture);
        default:
            return {};
    }
}

}  // namespace kerbilo::picture_detail
