// Decode-and-compose times for large PNG and JPEG images into the default pane, and the
// per-frame cost of a 1500 x 1500 animation against its 50 ms delay.

#include <png.h>

#include <chrono>
#include <cstdio>
#include <memory>

#include "../tests/picture/test_images.h"
#include "picture/gif.h"
#include "picture/picture_pane.h"

using namespace kerbilo;
using Clock = std::chrono::steady_clock;

namespace {

double millisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

Image photo(int w, int h) {
    Image image;
    image.width = w;
    image.height = h;
    image.kind = ImageKind::Alpha;
    image.pixels.resize(static_cast<std::size_t>(w) * static_cast<std::size_t>(h));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            image.at(x, y) =
                makePixel((x / 7) & 0xFF, (y / 5) & 0xFF, (x + y) & 0xFF, 200 + (x & 31));
    return image;
}

void timePane(const char* name, const ByteBuffer& data, int runs) {
    double best = 1e9;
    for (int i = 0; i < runs; ++i) {
        const auto start = Clock::now();
        PictureState state{};
        const Image pane = renderPane(data, PaneSettings{}, 464, 312, 1, &state);
        const double ms = millisecondsSince(start);
        if (state != PictureState::Still || pane.empty()) std::printf("%s: not decoded!\n", name);
        best = std::min(best, ms);
    }
    std::printf("%-34s %8.1f ms (best of %d, %zu bytes)\n", name, best, runs, data.size());
}

}  // namespace

int main() {
    const Image big = photo(4000, 3000);
    const ByteBuffer png = testing::toBuffer(testing::makePng(big, PNG_FORMAT_RGBA));
    const ByteBuffer jpeg =
        testing::toBuffer(testing::makeJpeg(big, testing::JpegKind::Colour, 90));
    timePane("PNG 4000x3000 -> 464x312", png, 3);
    timePane("JPEG 4000x3000 -> 464x312", jpeg, 3);

    Image decoded = *decodePng(bytesOf(png));
    auto start = Clock::now();
    const Image pane =
        composePane(&decoded, DisplayMode::Centred, kDefaultPaneBackground, 464, 312);
    std::printf("%-34s %8.1f ms\n", "compose only, 4000x3000 -> 416x312", millisecondsSince(start));

    // The window's worst case: full-screen 1500x1500 frames, stored uncompressed.
    constexpr int kSide = 1500;
    std::vector<testing::GifFramePlan> frames;
    for (int i = 0; i < 8; ++i) {
        testing::GifFramePlan f;
        f.width = f.height = kSide;
        f.disposal = i % 4;
        f.uncompressed = true;
        for (int p = 0; p < kSide * kSide; ++p)
            f.indices.push_back(
                static_cast<std::uint8_t>((p / kSide / 8 + p % kSide / 8 + i * 9) & 0xFF));
        frames.push_back(f);
    }
    std::vector<Pixel> palette;
    for (int i = 0; i < 256; ++i) palette.push_back(makePixel(i, 255 - i, i / 2));
    auto gif =
        GifAnimation::parse(testing::toBuffer(testing::makeGif(kSide, kSide, palette, frames)));
    if (!gif) return 1;
    GifPlayer player(std::make_shared<const GifAnimation>(std::move(*gif)));
    player.setView(DisplayMode::Centred, kDefaultPaneBackground, 464, 312);
    constexpr int kFrames = 40;
    double worst = 0, total = 0;
    for (int i = 0; i < kFrames; ++i) {
        start = Clock::now();
        // What the pane's worker does per frame: draw, compose what changed, hand over.
        player.drawNextFrame();
        (void)std::make_shared<const Image>(player.view());
        const double ms = millisecondsSince(start);
        worst = std::max(worst, ms);
        total += ms;
    }
    std::printf("%-34s %8.1f ms mean, %.1f ms worst (delay 50 ms)\n",
                "GIF 1500x1500 frame -> 464x312", total / kFrames, worst);
    return worst < 50 ? 0 : 1;
}
