// Draws the program's two pictures and writes them as a C++ source to embed, plus the logo
// as the desktop icon, drawn anew at each size the icon themes ask for.
// Usage: make_pictures OUT.cpp ICON_DIR   (writes ICON_DIR/NxN/apps/kerbilo.png)
//
// The two embedded pictures are padded with an ignorable block (a PNG text chunk, a JPEG
// comment) to the exact byte sizes the window was designed around, so nothing depends on the
// encoder's mood.

// jpeglib.h needs size_t and FILE declared before it.
#include <cstddef>
#include <cstdio>

#include <jpeglib.h>
#include <png.h>
#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::size_t kLogoSize = 109454;
constexpr std::size_t kAboutSize = 9727;
// The sizes desktops look up in the hicolor theme: menus and panels (16 to 32), launchers and
// file managers (48, 64), docks and previews (128, 256). A desktop that scales one large
// picture down blurs the small ones; the motif drawn anew at each size stays sharp.
constexpr int kIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

struct Rgba {
    double r, g, b, a;
};

// A filled shape: coverage at a point, 0 or 1; pictures are supersampled for smooth edges.
double circle(double x, double y, double cx, double cy, double r) {
    return (x - cx) * (x - cx) + (y - cy) * (y - cy) <= r * r ? 1 : 0;
}
double ring(double x, double y, double cx, double cy, double r, double w) {
    const double d = std::hypot(x - cx, y - cy);
    return d <= r && d >= r - w ? 1 : 0;
}
double box(double x, double y, double x0, double y0, double x1, double y1) {
    return x >= x0 && x < x1 && y >= y0 && y < y1 ? 1 : 0;
}
// A thick segment from (x0,y0) to (x1,y1).
double bar(double x, double y, double x0, double y0, double x1, double y1, double w) {
    const double dx = x1 - x0, dy = y1 - y0;
    const double t = std::clamp(((x - x0) * dx + (y - y0) * dy) / (dx * dx + dy * dy), 0.0, 1.0);
    return std::hypot(x - (x0 + t * dx), y - (y0 + t * dy)) <= w / 2 ? 1 : 0;
}

Rgba over(Rgba top, Rgba under) {
    const double a = top.a + under.a * (1 - top.a);
    if (a <= 0) return {0, 0, 0, 0};
    return {(top.r * top.a + under.r * under.a * (1 - top.a)) / a,
            (top.g * top.a + under.g * under.a * (1 - top.a)) / a,
            (top.b * top.a + under.b * under.a * (1 - top.a)) / a, a};
}

// The motif in a unit square: a disc holding a stack of file pages and a magnifying glass,
// for a tool that looks for things inside files.
Rgba motif(double x, double y, Rgba background) {
    Rgba c = background;
    const double disc = circle(x, y, 0.5, 0.5, 0.47);
    if (disc > 0) {
        const double t = std::hypot(x - 0.35, y - 0.3) / 0.8;
        c = over({0.10 + 0.15 * t, 0.35 + 0.25 * t, 0.70 - 0.2 * t, 1}, c);
    }
    for (int i = 0; i < 3; ++i) {
        const double o = 0.04 * i;
        if (box(x, y, 0.24 + o, 0.22 + o, 0.56 + o, 0.66 + o) > 0)
            c = over({0.95 - 0.08 * i, 0.95 - 0.08 * i, 0.92 - 0.05 * i, 1}, c);
    }
    for (int line = 0; line < 5; ++line)
        if (box(x, y, 0.36, 0.36 + 0.05 * line, 0.58, 0.38 + 0.05 * line) > 0)
            c = over({0.55, 0.6, 0.7, 1}, c);
    if (ring(x, y, 0.6, 0.56, 0.15, 0.05) > 0) c = over({0.98, 0.75, 0.15, 1}, c);
    if (circle(x, y, 0.6, 0.56, 0.10) > 0) c = over({0.8, 0.9, 1.0, 0.45}, c);
    if (bar(x, y, 0.7, 0.67, 0.8, 0.79, 0.07) > 0) c = over({0.98, 0.75, 0.15, 1}, c);
    return c;
}

// 8-bit RGBA or RGB rows, 4×4 supersampled. The embedded pictures get a little ordered
// noise (`noiseAmount` 0.03) so they hold real detail for a decoder to get right; the icons none.
Bytes draw(int size, int channels, Rgba background, double noiseAmount = 0.03) {
    Bytes out(static_cast<std::size_t>(size) * size * channels);
    std::uint32_t seed = 0x4b42u;
    for (int py = 0; py < size; ++py)
        for (int px = 0; px < size; ++px) {
            Rgba sum{0, 0, 0, 0};
            for (int sy = 0; sy < 4; ++sy)
                for (int sx = 0; sx < 4; ++sx) {
                    const Rgba s = motif((px + (sx + 0.5) / 4) / size, (py + (sy + 0.5) / 4) / size,
                                         background);
                    sum.r += s.r * s.a / 16;
                    sum.g += s.g * s.a / 16;
                    sum.b += s.b * s.a / 16;
                    sum.a += s.a / 16;
                }
            seed = seed * 1664525u + 1013904223u;
            const double noise = ((seed >> 24) / 255.0 - 0.5) * noiseAmount;
            auto channel = [&](double v) {
                const double straight = sum.a > 0 ? v / sum.a + noise : 0;
                return static_cast<std::uint8_t>(std::lround(std::clamp(straight, 0.0, 1.0) * 255));
            };
            std::uint8_t* p = &out[(static_cast<std::size_t>(py) * size + px) * channels];
            p[0] = channel(sum.r);
            p[1] = channel(sum.g);
            p[2] = channel(sum.b);
            if (channels == 4) p[3] = static_cast<std::uint8_t>(std::lround(sum.a * 255));
        }
    return out;
}

void put32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

Bytes encodePng(const Bytes& rgba, int size) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(size);
    image.height = static_cast<png_uint_32>(size);
    image.format = PNG_FORMAT_RGBA;
    png_alloc_size_t n = 0;
    if (!png_image_write_to_memory(&image, nullptr, &n, 0, rgba.data(), 0, nullptr)) return {};
    Bytes out(n);
    if (!png_image_write_to_memory(&image, out.data(), &n, 0, rgba.data(), 0, nullptr)) return {};
    out.resize(n);
    return out;
}

// A tEXt chunk before IEND (the last 12 bytes) bringing the file to `target` bytes.
bool padPng(Bytes& png, std::size_t target) {
    const std::size_t overhead = 12 + 8;  // length, type, CRC; keyword "Comment" and its NUL
    if (png.size() + overhead > target) return false;
    const std::size_t textLen = target - png.size() - overhead;
    Bytes chunk(12 + 8 + textLen);
    put32(chunk, 0, static_cast<std::uint32_t>(8 + textLen));
    const char head[] = "tEXtComment";
    std::copy(head, head + 11, chunk.begin() + 4);
    chunk[15] = 0;
    for (std::size_t i = 0; i < textLen; ++i) chunk[16 + i] = "Kerbilo "[i % 8];
    const std::uint32_t crc =
        static_cast<std::uint32_t>(crc32(0, chunk.data() + 4, static_cast<uInt>(chunk.size() - 8)));
    put32(chunk, chunk.size() - 4, crc);
    png.insert(png.end() - 12, chunk.begin(), chunk.end());
    return true;
}

Bytes encodeJpeg(const Bytes& rgb, int size, int quality) {
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    jpeg_create_compress(&cinfo);
    unsigned char* mem = nullptr;
    unsigned long memSize = 0;
    jpeg_mem_dest(&cinfo, &mem, &memSize);
    cinfo.image_width = static_cast<JDIMENSION>(size);
    cinfo.image_height = static_cast<JDIMENSION>(size);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    cinfo.write_JFIF_header = TRUE;
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(&rgb[cinfo.next_scanline * size * 3]);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    Bytes out(mem, mem + memSize);
    jpeg_destroy_compress(&cinfo);
    std::free(mem);
    return out;
}

// A COM segment after the JFIF APP0 segment bringing the file to `target` bytes.
bool padJpeg(Bytes& jpeg, std::size_t target) {
    if (jpeg.size() < 20 || jpeg[2] != 0xFF || jpeg[3] != 0xE0) return false;
    const std::size_t app0End = 4 + (std::size_t{jpeg[4]} << 8 | jpeg[5]);
    if (jpeg.size() + 4 > target || target - jpeg.size() - 4 > 65533) return false;
    const std::size_t textLen = target - jpeg.size() - 4;
    Bytes seg{0xFF, 0xFE, static_cast<std::uint8_t>((textLen + 2) >> 8),
              static_cast<std::uint8_t>((textLen + 2) & 0xFF)};
    for (std::size_t i = 0; i < textLen; ++i) seg.push_back("Kerbilo "[i % 8]);
    jpeg.insert(jpeg.begin() + static_cast<std::ptrdiff_t>(app0End), seg.begin(), seg.end());
    return true;
}

bool writeFile(const std::filesystem::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

// ICON_DIR/NxN/apps/kerbilo.png for every size, as the theme lays its folders out.
bool writeIcons(const std::filesystem::path& iconDir) {
    for (const int size : kIconSizes) {
        const std::string edge = std::to_string(size);
        const std::filesystem::path folder = iconDir / (edge + "x" + edge) / "apps";
        std::error_code error;
        std::filesystem::create_directories(folder, error);
        const Bytes png = encodePng(draw(size, 4, {0, 0, 0, 0}, 0), size);
        if (error || png.empty() || !writeFile(folder / "kerbilo.png", png)) {
            std::fprintf(stderr, "make_pictures: cannot write the %dx%d icon in %s\n", size, size,
                         folder.c_str());
            return false;
        }
    }
    return true;
}

void writeArray(std::ofstream& out, const char* name, const Bytes& bytes) {
    out << "extern const unsigned char " << name << "[] = {";
    for (std::size_t i = 0; i < bytes.size(); ++i)
        out << (i % 20 == 0 ? "\n    " : "") << static_cast<int>(bytes[i]) << ',';
    out << "\n};\nextern const unsigned long " << name << "Size = " << bytes.size() << ";\n";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s OUT.cpp ICON_DIR\n", argv[0]);
        return 2;
    }
    Bytes logo = encodePng(draw(300, 4, {0, 0, 0, 0}), 300);
    int quality = 90;
    Bytes about;
    // The finest quality that still fits the About picture's size.
    do about = encodeJpeg(draw(238, 3, {0.96, 0.96, 0.94, 1}), 238, quality--);
    while (about.size() + 4 > kAboutSize && quality > 10);
    if (logo.empty() || !padPng(logo, kLogoSize) || !padJpeg(about, kAboutSize)) {
        std::fprintf(stderr, "make_pictures: cannot reach the sizes (%zu, %zu)\n", logo.size(),
                     about.size());
        return 1;
    }
    std::ofstream cpp(argv[1], std::ios::binary);
    cpp << "// Generated by make_pictures; do not edit.\nnamespace kerbilo::assets {\n";
    writeArray(cpp, "kLogoPng", logo);
    writeArray(cpp, "kAboutJpeg", about);
    cpp << "}  // namespace kerbilo::assets\n";
    cpp.close();
    return cpp && writeIcons(argv[2]) ? 0 : 1;
}
