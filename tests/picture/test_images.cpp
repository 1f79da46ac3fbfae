#include "test_images.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <map>
#include <stdexcept>
#include <utility>
// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

namespace kerbilo::testing {

void put16(ByteVector& out, unsigned v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
void put32(ByteVector& out, std::uint32_t v) {
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}
ByteBuffer toBuffer(const ByteVector& bytes) {
    return {bytes.data(), bytes.size()};
}

Image patternImage(int width, int height, ImageKind kind) {
    Image image;
    image.width = width;
    image.height = height;
    image.kind = kind;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            image.pixels.push_back(
                makePixel((x * 37 + 11) & 0xFF, (y * 53 + 7) & 0xFF, (x * y + 90) & 0xFF));
    return image;
}

ByteVector makeBmp(const BmpPlan& s, bool dibOnly) {
    const int rowBytes = ((s.width * s.bits + 31) / 32) * 4;
    ByteVector out;
    const std::uint32_t paletteBytes = static_cast<std::uint32_t>(s.palette.size() * 4);
    const std::uint32_t offset = 54 + paletteBytes;
    if (!dibOnly) {
        out.push_back('B');
        out.push_back('M');
        put32(out, offset + static_cast<std::uint32_t>(rowBytes * s.height));
        put32(out, 0);
        put32(out, offset);
    }
    put32(out, 40);
    put32(out, static_cast<std::uint32_t>(s.width));
    put32(out, static_cast<std::uint32_t>(s.topDown ? -s.height : s.height));
    put16(out, 1);
    put16(out, static_cast<unsigned>(s.bits));
    put32(out, s.compression);
    put32(out, static_cast<std::uint32_t>(rowBytes * s.height));
    put32(out, 2835);
    put32(out, 2835);
    put32(out, s.coloursUsed);
    put32(out, 0);
    for (Pixel p : s.palette) {
        out.push_back(static_cast<std::uint8_t>(pixelBlue(p)));
        out.push_back(static_cast<std::uint8_t>(pixelGreen(p)));
        out.push_back(static_cast<std::uint8_t>(pixelRed(p)));
        out.push_back(0);
    }
    for (int row = 0; row < s.height; ++row) {
        const int y = s.topDown ? row : s.height - 1 - row;
        ByteVector line(static_cast<std::size_t>(rowBytes), 0);
        for (int x = 0; x < s.width; ++x) {
            const std::uint32_t v = s.values[static_cast<std::size_t>(y * s.width + x)];
            switch (s.bits) {
                case 1:
                    line[x / 8] |= static_cast<std::uint8_t>((v & 1) << (7 - x % 8));
                    break;
                case 4:
                    line[x / 2] |= static_cast<std::uint8_t>((v & 15) << (x % 2 ? 0 : 4));
                    break;
                case 8:
                    line[x] = static_cast<std::uint8_t>(v);
                    break;
                case 16:
                    line[2 * x] = static_cast<std::uint8_t>(v);
                    break;
                case 24:
                case 32: {
                    const int n = s.bits / 8;
                    line[n * x] = static_cast<std::uint8_t>(v);
                    line[n * x + 1] = static_cast<std::uint8_t>(v >> 8);
                    line[n * x + 2] = static_cast<std::uint8_t>(v >> 16);
                    if (n == 4) line[n * x + 3] = static_cast<std::uint8_t>(v >> 24);
                    break;
                }
            }
        }
        out.insert(out.end(), line.begin(), line.end());
    }
    return out;
}

ByteVector makeIcon(const std::vector<IconEntryPlan>& entries, int type) {
    ByteVector out;
    put16(out, 0);
    put16(out, static_cast<unsigned>(type));
    put16(out, static_cast<unsigned>(entries.size()));
    std::uint32_t offset = static_cast<std::uint32_t>(6 + 16 * entries.size());
    for (const auto& e : entries) {
        out.push_back(static_cast<std::uint8_t>(e.directoryWidth));
        out.push_back(static_cast<std::uint8_t>(e.directoryWidth));
        out.push_back(static_cast<std::uint8_t>(e.colourCount));
        out.push_back(0);
        put16(out, 1);
        put16(out, 24);
        put32(out, static_cast<std::uint32_t>(e.data.size()));
        put32(out, offset);
        offset += static_cast<std::uint32_t>(e.data.size());
    }
    for (const auto& e : entries) out.insert(out.end(), e.data.begin(), e.data.end());
    return out;
}

ByteVector makeIconDib(const Image& colour, const std::vector<bool>& mask) {
    BmpPlan s;
    s.width = colour.width;
    s.height = colour.height;
    s.bits = 24;
    for (Pixel p : colour.pixels) s.values.push_back(p & 0xFFFFFF);
    ByteVector out = makeBmp(s, true);
    // The stored height covers the colour rows and the mask rows.
    const std::uint32_t h = static_cast<std::uint32_t>(colour.height * 2);
    std::memcpy(out.data() + 8, &h, 4);
    const int maskRow = ((colour.width + 31) / 32) * 4;
    for (int row = 0; row < colour.height; ++row) {
        const int y = colour.height - 1 - row;
        ByteVector line(static_cast<std::size_t>(maskRow), 0);
        for (int x = 0; x < colour.width; ++x)
            if (mask[static_cast<std::size_t>(y * colour.width + x)])
                line[x / 8] |= static_cast<std::uint8_t>(1 << (7 - x % 8));
        out.insert(out.end(), line.begin(), line.end());
    }
    return out;
}

namespace {

ByteVector pcxHeader(int width, int height, int version, int bits, int bytesPerLine) {
    ByteVector out(128, 0);
    out[0] = 0x0A;
    out[1] = static_cast<std::uint8_t>(version);
    out[2] = 1;
    out[3] = static_cast<std::uint8_t>(bits);
    out[8] = static_cast<std::uint8_t>(width - 1);
    out[9] = static_cast<std::uint8_t>((width - 1) >> 8);
    out[10] = static_cast<std::uint8_t>(height - 1);
    out[11] = static_cast<std::uint8_t>((height - 1) >> 8);
    out[65] = 1;
    out[66] = static_cast<std::uint8_t>(bytesPerLine);
    out[67] = static_cast<std::uint8_t>(bytesPerLine >> 8);
    return out;
}

// Run-length encodes one scan line the way common writers do: runs of up to 63 and any
// byte of 0xC0 or more as a run of one.
void pcxRuns(ByteVector& out, const ByteVector& line) {
    for (std::size_t i = 0; i < line.size();) {
        std::size_t n = 1;
        while (i + n < line.size() && line[i + n] == line[i] && n < 63) ++n;
        if (n > 1 || line[i] >= 0xC0) out.push_back(static_cast<std::uint8_t>(0xC0 | n));
        out.push_back(line[i]);
        i += n;
    }
}

}  // namespace

ByteVector makePcx256(int width, int height, const std::vector<std::uint8_t>& indices,
                      const std::vector<Pixel>& palette) {
    const int bpl = width + (width & 1);
    ByteVector out = pcxHeader(width, height, 5, 8, bpl);
    for (int y = 0; y < height; ++y) {
        ByteVector line(static_cast<std::size_t>(bpl), 0);
        for (int x = 0; x < width; ++x) line[x] = indices[static_cast<std::size_t>(y * width + x)];
        pcxRuns(out, line);
    }
    out.push_back(0x0C);
    for (int i = 0; i < 256; ++i) {
        const Pixel p = i < static_cast<int>(palette.size()) ? palette[i] : 0;
        out.push_back(static_cast<std::uint8_t>(pixelRed(p)));
        out.push_back(static_cast<std::uint8_t>(pixelGreen(p)));
        out.push_back(static_cast<std::uint8_t>(pixelBlue(p)));
    }
    return out;
}

ByteVector makePcxMono(int width, int height, const std::vector<bool>& white) {
    const int bpl = ((width + 15) / 16) * 2;
    ByteVector out = pcxHeader(width, height, 3, 1, bpl);
    for (int y = 0; y < height; ++y) {
        ByteVector line(static_cast<std::size_t>(bpl), 0);
        for (int x = 0; x < width; ++x)
            if (white[static_cast<std::size_t>(y * width + x)])
                line[x / 8] |= static_cast<std::uint8_t>(1 << (7 - x % 8));
        pcxRuns(out, line);
    }
    return out;
}

ByteVector gifLzw(const std::vector<std::uint8_t>& indices, int minCodeSize) {
    ByteVector packed;
    std::uint32_t acc = 0;
    int bits = 0;
    int codeSize = minCodeSize + 1;
    const int clear = 1 << minCodeSize;
    auto emit = [&](int code) {
        acc |= static_cast<std::uint32_t>(code) << bits;
        bits += codeSize;
        while (bits >= 8) {
            packed.push_back(static_cast<std::uint8_t>(acc));
            acc >>= 8;
            bits -= 8;
        }
    };
    std::map<std::pair<int, int>, int> table;
    int next = clear + 2;
    emit(clear);
    int current = -1;
    for (std::uint8_t b : indices) {
        if (current < 0) {
            current = b;
            continue;
        }
        auto it = table.find({current, b});
        if (it != table.end()) {
            current = it->second;
            continue;
        }
        emit(current);
        if (next < 4096) {
            table[{current, b}] = next;
            if (next == (1 << codeSize) && codeSize < 12) ++codeSize;
            ++next;
        } else {
            emit(clear);
            table.clear();
            next = clear + 2;
            codeSize = minCodeSize + 1;
        }
        current = b;
    }
    if (current >= 0) emit(current);
    emit(clear + 1);
    if (bits > 0) packed.push_back(static_cast<std::uint8_t>(acc));

    ByteVector out{static_cast<std::uint8_t>(minCodeSize)};
    for (std::size_t i = 0; i < packed.size(); i += 255) {
        const std::size_t n = std::min<std::size_t>(255, packed.size() - i);
        out.push_back(static_cast<std::uint8_t>(n));
        out.insert(out.end(), packed.begin() + static_cast<std::ptrdiff_t>(i),
                   packed.begin() + static_cast<std::ptrdiff_t>(i + n));
    }
    out.push_back(0);
    return out;
}

namespace {

int tableBits(std::size_t entries) {
    int bits = 1;
    while ((std::size_t{1} << bits) < entries) ++bits;
    return bits;
}

void putPalette(ByteVector& out, const std::vector<Pixel>& palette, int bits) {
    for (int i = 0; i < (1 << bits); ++i) {
        const Pixel p = i < static_cast<int>(palette.size()) ? palette[i] : 0;
        out.push_back(static_cast<std::uint8_t>(pixelRed(p)));
        out.push_back(static_cast<std::uint8_t>(pixelGreen(p)));
        out.push_back(static_cast<std::uint8_t>(pixelBlue(p)));
    }
}

}  // namespace

ByteVector gifPlainLzw(const std::vector<std::uint8_t>& indices) {
    ByteVector packed;
    std::uint32_t acc = 0;
    int bits = 0;
    auto put = [&](int code) {
        acc |= static_cast<std::uint32_t>(code) << bits;
        bits += 9;
        while (bits >= 8) {
            packed.push_back(static_cast<std::uint8_t>(acc));
            acc >>= 8;
            bits -= 8;
        }
    };
    for (std::size_t i = 0; i < indices.size(); ++i) {
        if (i % 250 == 0) put(256);
        put(indices[i]);
    }
    put(257);
    if (bits > 0) packed.push_back(static_cast<std::uint8_t>(acc));
    ByteVector out{8};
    for (std::size_t at = 0; at < packed.size(); at += 255) {
        const std::size_t n = std::min<std::size_t>(255, packed.size() - at);
        out.push_back(static_cast<std::uint8_t>(n));
        out.insert(out.end(), packed.begin() + static_cast<std::ptrdiff_t>(at),
                   packed.begin() + static_cast<std::ptrdiff_t>(at + n));
    }
    out.push_back(0);
    return out;
}

ByteVector makeGif(int width, int height, const std::vector<Pixel>& globalPalette,
                   const std::vector<GifFramePlan>& frames, bool trailer) {
    ByteVector out{'G', 'I', 'F', '8', '9', 'a'};
    put16(out, static_cast<unsigned>(width));
    put16(out, static_cast<unsigned>(height));
    const int globalBits = globalPalette.empty() ? 0 : tableBits(globalPalette.size());
    out.push_back(static_cast<std::uint8_t>(globalPalette.empty() ? 0 : 0x80 | (globalBits - 1)));
    out.push_back(0);
    out.push_back(0);
    if (!globalPalette.empty()) putPalette(out, globalPalette, globalBits);
    for (const auto& f : frames) {
        if (f.controlExtension) {
            out.insert(out.end(), {0x21, 0xF9, 4});
            out.push_back(
                static_cast<std::uint8_t>((f.disposal << 2) | (f.transparentIndex >= 0 ? 1 : 0)));
            put16(out, static_cast<unsigned>(f.delay));
            out.push_back(
                static_cast<std::uint8_t>(f.transparentIndex >= 0 ? f.transparentIndex : 0));
            out.push_back(0);
        }
        out.push_back(0x2C);
        put16(out, static_cast<unsigned>(f.left));
        put16(out, static_cast<unsigned>(f.top));
        put16(out, static_cast<unsigned>(f.width));
        put16(out, static_cast<unsigned>(f.height));
        const int localBits = f.localPalette.empty() ? 0 : tableBits(f.localPalette.size());
        std::uint8_t packed = f.interlaced ? 0x40 : 0;
        if (localBits) packed |= static_cast<std::uint8_t>(0x80 | (localBits - 1));
        out.push_back(packed);
        if (localBits) putPalette(out, f.localPalette, localBits);
        std::vector<std::uint8_t> stored;
        if (f.interlaced) {
            for (int pass = 0; pass < 4; ++pass) {
                static constexpr int kStart[4] = {0, 4, 2, 1};
                static constexpr int kStep[4] = {8, 8, 4, 2};
                for (int y = kStart[pass]; y < f.height; y += kStep[pass])
                    stored.insert(stored.end(), f.indices.begin() + y * f.width,
                                  f.indices.begin() + (y + 1) * f.width);
            }
        } else {
            stored = f.indices;
        }
        const int bits = std::max(2, std::max(localBits, globalBits));
        const ByteVector lzw = f.uncompressed ? gifPlainLzw(stored) : gifLzw(stored, bits);
        out.insert(out.end(), lzw.begin(), lzw.end());
    }
    if (trailer) out.push_back(0x3B);
    return out;
}

ByteVector makePng(const Image& image, unsigned format) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(image.width);
    png.height = static_cast<png_uint_32>(image.height);
    // Convert the test's pixels to 8-bit RGBA, then let libpng write the wanted format.
    std::vector<std::uint8_t> rgba;
    for (Pixel p : image.pixels) {
        rgba.push_back(static_cast<std::uint8_t>(pixelRed(p)));
        rgba.push_back(static_cast<std::uint8_t>(pixelGreen(p)));
        rgba.push_back(static_cast<std::uint8_t>(pixelBlue(p)));
        rgba.push_back(static_cast<std::uint8_t>(pixelAlpha(p)));
    }
    std::vector<std::uint16_t> wide;
    const void* buffer = rgba.data();
    std::vector<std::uint8_t> gray;
    if (format == PNG_FORMAT_LINEAR_RGB_ALPHA) {
        for (std::size_t i = 0; i < rgba.size(); ++i)
            wide.push_back(static_cast<std::uint16_t>(rgba[i] * 257));
        buffer = wide.data();
    } else if (format == PNG_FORMAT_GRAY) {
        for (std::size_t i = 0; i < rgba.size(); i += 4) gray.push_back(rgba[i]);
        buffer = gray.data();
    } else {
        format = PNG_FORMAT_RGBA;
    }
    png.format = format;
    png_alloc_size_t size = 0;
    if (!png_image_write_get_memory_size(png, size, 0, buffer, 0, nullptr))
        throw std::runtime_error("png size");
    ByteVector out(size);
    if (!png_image_write_to_memory(&png, out.data(), &size, 0, buffer, 0, nullptr))
        throw std::runtime_error("png write");
    out.resize(size);
    return out;
}

ByteVector makePng16(int width, int height, int channels,
                     const std::vector<std::uint16_t>& samples) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    ByteVector out;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        throw std::runtime_error("png16 write");
    }
    png_set_write_fn(
        png, &out,
        [](png_structp p, png_bytep data, png_size_t n) {
            auto* o = static_cast<ByteVector*>(png_get_io_ptr(p));
            o->insert(o->end(), data, data + n);
        },
        nullptr);
    const int type = channels == 1   ? PNG_COLOR_TYPE_GRAY
                     : channels == 3 ? PNG_COLOR_TYPE_RGB
                                     : PNG_COLOR_TYPE_RGB_ALPHA;
    png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 16,
                 type, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    ByteVector row(static_cast<std::size_t>(width * channels * 2));
    for (int y = 0; y < height; ++y) {
        for (int i = 0; i < width * channels; ++i) {
            const std::uint16_t v = samples[static_cast<std::size_t>(y * width * channels + i)];
            row[static_cast<std::size_t>(2 * i)] = static_cast<std::uint8_t>(v >> 8);
            row[static_cast<std::size_t>(2 * i + 1)] = static_cast<std::uint8_t>(v);
        }
        png_write_row(png, row.data());
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

ByteVector makeJpeg(const Image& image, JpegKind kind, int quality) {
    jpeg_compress_struct cinfo;
    jpeg_error_mgr err;
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* mem = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &mem, &size);
    cinfo.image_width = static_cast<JDIMENSION>(image.width);
    cinfo.image_height = static_cast<JDIMENSION>(image.height);
    const bool gray = kind == JpegKind::Gray;
    const bool cmyk = kind == JpegKind::Cmyk;
    cinfo.input_components = gray ? 1 : (cmyk ? 4 : 3);
    cinfo.in_color_space = gray ? JCS_GRAYSCALE : (cmyk ? JCS_CMYK : JCS_RGB);
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    if (kind == JpegKind::Progressive) jpeg_simple_progression(&cinfo);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(image.width * cinfo.input_components));
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const Pixel p = image.at(x, y);
            std::uint8_t* o = row.data() + x * cinfo.input_components;
            if (gray) {
                o[0] = static_cast<std::uint8_t>(pixelRed(p));
            } else if (cmyk) {
                // Adobe-style inverted CMYK with no black, which libjpeg writes with its
                // Adobe marker: the stored value is 255 - ink.
                o[0] = static_cast<std::uint8_t>(pixelRed(p));
                o[1] = static_cast<std::uint8_t>(pixelGreen(p));
                o[2] = static_cast<std::uint8_t>(pixelBlue(p));
                o[3] = 255;
            } else {
                o[0] = static_cast<std::uint8_t>(pixelRed(p));
                o[1] = static_cast<std::uint8_t>(pixelGreen(p));
                o[2] = static_cast<std::uint8_t>(pixelBlue(p));
            }
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    ByteVector out(mem, mem + size);
    jpeg_destroy_compress(&cinfo);
    std::free(mem);
    return out;
}

}  // namespace kerbilo::testing
