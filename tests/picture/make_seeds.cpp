// Writes the seed corpus of the picture fuzz targets: one small valid file per variant
// each decoder knows, so fuzzing starts from every branch of the header checks.
// Usage: make_picture_seeds CORPUS_DIR

#include <png.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "test_images.h"

using namespace kerbilo;
using namespace kerbilo::testing;

namespace {

void save(const std::filesystem::path& dir, const std::string& name, const ByteVector& bytes) {
    std::filesystem::create_directories(dir);
    std::ofstream(dir / name, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

BmpPlan bmp(int bits, bool topDown) {
    BmpPlan s;
    s.width = 5;
    s.height = 3;
    s.bits = bits;
    s.topDown = topDown;
    if (bits <= 8)
        for (int i = 0; i < (1 << std::min(bits, 4)); ++i)
            s.palette.push_back(makePixel(i * 15, 90, 200 - i));
    // Fewer entries than the depth addresses, so the colours-used field must say how many.
    if (bits == 8) s.coloursUsed = static_cast<std::uint32_t>(s.palette.size());
    for (int i = 0; i < 15; ++i)
        s.values.push_back(bits <= 8 ? static_cast<std::uint32_t>(i % (1 << std::min(bits, 4)))
                                     : 0x10203u * static_cast<std::uint32_t>(i));
    return s;
}

GifFramePlan frame(int left, int top, int w, int h, int disposal, int transparent,
                   bool interlaced) {
    GifFramePlan f;
    f.left = left;
    f.top = top;
    f.width = w;
    f.height = h;
    f.disposal = disposal;
    f.transparentIndex = transparent;
    f.interlaced = interlaced;
    for (int i = 0; i < w * h; ++i)
        f.indices.push_back(static_cast<std::uint8_t>((i / 3 + disposal) % 4));
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    const std::filesystem::path root = argv[1];
    for (int bits : {1, 4, 8, 24, 32})
        save(root / "bmp", "bmp" + std::to_string(bits) + ".bmp", makeBmp(bmp(bits, false)));
    save(root / "bmp", "bmp8_topdown.bmp", makeBmp(bmp(8, true)));

    const Image small = patternImage(6, 5);
    save(root / "png", "rgba.png", makePng(small, PNG_FORMAT_RGBA));
    save(root / "png", "gray.png", makePng(small, PNG_FORMAT_GRAY));
    save(root / "png", "rgba16.png", makePng(small, PNG_FORMAT_LINEAR_RGB_ALPHA));

    const Image jpegSource = patternImage(16, 16);
    save(root / "jpeg", "colour.jpg", makeJpeg(jpegSource, JpegKind::Colour, 50));
    save(root / "jpeg", "gray.jpg", makeJpeg(jpegSource, JpegKind::Gray, 50));
    save(root / "jpeg", "cmyk.jpg", makeJpeg(jpegSource, JpegKind::Cmyk, 50));
    save(root / "jpeg", "progressive.jpg", makeJpeg(jpegSource, JpegKind::Progressive, 50));

    const Image iconColour = patternImage(4, 4);
    std::vector<bool> mask(16);
    for (int i = 0; i < 16; i += 3) mask[static_cast<std::size_t>(i)] = true;
    save(root / "icon", "bitmap.ico",
         makeIcon(
             {{16, 16, makeIconDib(iconColour, mask)}, {32, 16, makeIconDib(iconColour, mask)}}));
    save(root / "icon", "png.ico", makeIcon({{0, 0, makePng(small, PNG_FORMAT_RGBA)}}));
    save(root / "icon", "bitmap.cur", makeIcon({{16, 16, makeIconDib(iconColour, mask)}}, 2));

    std::vector<std::uint8_t> indices;
    for (int i = 0; i < 7 * 3; ++i)
        indices.push_back(static_cast<std::uint8_t>(i % 5 == 0 ? 0xC5 : 7));
    std::vector<Pixel> palette(256, makePixel(1, 2, 3));
    save(root / "pcx", "colour256.pcx", makePcx256(7, 3, indices, palette));
    std::vector<bool> white;
    for (int i = 0; i < 9 * 4; ++i) white.push_back(i % 2 == 0);
    save(root / "pcx", "mono.pcx", makePcxMono(9, 4, white));

    const std::vector<Pixel> gifPalette = {makePixel(255, 0, 0), makePixel(0, 255, 0),
                                           makePixel(0, 0, 255), makePixel(9, 9, 9)};
    save(root / "gif", "still.gif", makeGif(6, 4, gifPalette, {frame(0, 0, 6, 4, 0, -1, false)}));
    save(root / "gif", "interlaced.gif",
         makeGif(6, 9, gifPalette, {frame(0, 0, 6, 9, 0, -1, true)}));
    auto local = frame(2, 1, 3, 2, 3, 1, false);
    local.localPalette = {makePixel(1, 1, 1), makePixel(2, 2, 2)};
    save(root / "gif", "animated.gif",
         makeGif(6, 4, gifPalette,
                 {frame(0, 0, 6, 4, 1, -1, false), frame(1, 1, 4, 2, 2, 0, false), local,
                  frame(0, 0, 2, 2, 0, 3, true)}));

    // The pane target starts from every format at once.
    for (const char* dir : {"bmp", "png", "jpeg", "icon", "pcx", "gif"})
        for (const auto& entry : std::filesystem::directory_iterator(root / dir))
            std::filesystem::copy_file(entry.path(),
                                       (std::filesystem::create_directories(root / "pane"),
                                        root / "pane" / entry.path().filename()),
                                       std::filesystem::copy_options::overwrite_existing);
    return 0;
}
