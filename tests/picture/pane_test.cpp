#include <png.h>

#include <gtest/gtest.h>

#include <chrono>
#include <set>
#include <thread>

#include "picture/picture_pane.h"
#include "test_images.h"

namespace kerbilo {
namespace {

using namespace std::chrono_literals;
using testing::toBuffer;

const Pixel kBackground = makePixel(10, 20, 30);

struct EmptyCase {
    const char* name;
    testing::ByteVector bytes;
    PictureState state;
};
// Names the case in test listings instead of a byte dump.
void PrintTo(const EmptyCase& c, std::ostream* os) {
    *os << c.name;
}

testing::ByteVector truncatedPng() {
    auto png = testing::makePng(testing::patternImage(20, 20), PNG_FORMAT_RGBA);
    png.resize(png.size() - 20);
    return png;
}

testing::ByteVector bmpWith(int bits, std::uint32_t compression) {
    testing::BmpSpec s;
    s.width = s.height = 4;
    s.bits = bits;
    s.compression = compression;
    s.values.assign(16, 0x0102);
    if (bits == 8) s.palette = {makePixel(255, 255, 255)};
    return testing::makeBmp(s);
}

class PaneBackgroundOnly : public ::testing::TestWithParam<EmptyCase> {};

TEST_P(PaneBackgroundOnly, ShowsOnlyBackground) {
    PicturePane pane;
    pane.setBackground(kBackground);
    pane.setData(toBuffer(GetParam().bytes));
    EXPECT_EQ(pane.state(), GetParam().state);
    EXPECT_FALSE(pane.currentImage());
    const Image shown = pane.compose(31, 17);
    EXPECT_EQ(shown.pixels, std::vector<Pixel>(31 * 17, kBackground));
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, PaneBackgroundOnly,
    ::testing::Values(EmptyCase{"Empty", {}, PictureState::Empty},
                      EmptyCase{"SevenBytePng",
                                {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A},
                                PictureState::NotRecognised},
                      EmptyCase{"Text",
                                {'p', 'l', 'a', 'i', 'n', ' ', 't', 'e', 'x', 't', '\n'},
                                PictureState::NotRecognised},
                      EmptyCase{"TruncatedPng", truncatedPng(), PictureState::Undecodable},
                      EmptyCase{"RleBmp", bmpWith(8, 1), PictureState::Undecodable},
                      EmptyCase{"SixteenBitBmp", bmpWith(16, 0), PictureState::Undecodable},
                      EmptyCase{"PngSignatureOnly",
                                {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A},
                                PictureState::Undecodable}),
    [](const auto& info) { return std::string(info.param.name); });

testing::ByteVector twoFrameGif(int delay) {
    testing::GifFrameSpec a, b;
    a.width = b.width = 2;
    a.height = b.height = 2;
    a.indices = {0, 0, 0, 0};
    b.indices = {1, 1, 1, 1};
    a.delay = b.delay = delay;
    return testing::makeGif(2, 2, {makePixel(255, 0, 0), makePixel(0, 0, 255)}, {a, b});
}

TEST(Pane, StillPictureIsDrawnAndDataKept) {
    PicturePane pane;
    const auto bytes = testing::makePng(testing::patternImage(3, 3), PNG_FORMAT_RGBA);
    pane.setData(toBuffer(bytes));
    EXPECT_EQ(pane.state(), PictureState::Still);
    EXPECT_EQ(pane.format(), PictureFormat::Png);
    EXPECT_EQ(pane.data(), toBuffer(bytes));
    EXPECT_FALSE(pane.animating());
    EXPECT_EQ(pane.compose(5, 5).at(1, 1), testing::patternImage(3, 3).at(0, 0));
    pane.setData({});
    EXPECT_EQ(pane.state(), PictureState::Empty);
    EXPECT_EQ(pane.compose(2, 2).pixels[0], kDefaultPaneBackground);
}

TEST(Pane, ZeroDelayAnimationAlternatesEveryFiftyMilliseconds) {
    PicturePane pane;
    std::atomic<int> callbacks{0};
    pane.setFrameReadyCallback([&] { ++callbacks; });
    const auto start = std::chrono::steady_clock::now();
    pane.setData(toBuffer(twoFrameGif(0)));
    ASSERT_EQ(pane.state(), PictureState::Animated);
    EXPECT_TRUE(pane.animating());
    std::set<Pixel> seen;
    while (std::chrono::steady_clock::now() - start < 420ms) {
        seen.insert(pane.compose(2, 2).pixels[0]);
        std::this_thread::sleep_for(5ms);
    }
    const std::size_t frames = pane.framesShown();
    // 420 ms at 50 ms a frame: about 9 frames; a loaded machine may lose a few.
    EXPECT_GE(frames, 5u);
    EXPECT_LE(frames, 10u);
    EXPECT_EQ(seen, (std::set<Pixel>{makePixel(255, 0, 0), makePixel(0, 0, 255)}));
    EXPECT_GE(callbacks.load(), 4);

    // Showing something else stops the worker before returning.
    const auto stopStart = std::chrono::steady_clock::now();
    pane.setData(toBuffer(testing::makePng(testing::patternImage(2, 2), PNG_FORMAT_RGBA)));
    EXPECT_LT(std::chrono::steady_clock::now() - stopStart, 40ms);
    EXPECT_FALSE(pane.animating());
    const int after = callbacks.load();
    std::this_thread::sleep_for(120ms);
    EXPECT_EQ(callbacks.load(), after);
}

TEST(Pane, LongDelayIsInterruptedByStop) {
    PicturePane pane;
    pane.setData(toBuffer(twoFrameGif(6000)));  // a minute per frame
    ASSERT_TRUE(pane.animating());
    const auto start = std::chrono::steady_clock::now();
    pane.setData({});
    EXPECT_LT(std::chrono::steady_clock::now() - start, 40ms);
}

TEST(Pane, AnimationFlagOffShowsFirstImageStill) {
    PaneSettings settings;
    settings.animated = false;
    PicturePane pane(settings);
    pane.setData(toBuffer(twoFrameGif(0)));
    EXPECT_EQ(pane.state(), PictureState::Still);
    EXPECT_FALSE(pane.animating());
    pane.setAnimated(true);
    EXPECT_TRUE(pane.animating());
    EXPECT_EQ(pane.compose(2, 2).pixels[0], makePixel(255, 0, 0));
}

TEST(Pane, RenderPaneGivesCanvasAfterFrames) {
    PaneSettings settings;
    settings.background = kBackground;
    PictureState state{};
    const ByteBuffer gif = toBuffer(twoFrameGif(0));
    EXPECT_EQ(renderPane(gif, settings, 4, 4, 1, &state).at(1, 1), makePixel(255, 0, 0));
    EXPECT_EQ(state, PictureState::Animated);
    EXPECT_EQ(renderPane(gif, settings, 4, 4, 2).at(1, 1), makePixel(0, 0, 255));
    EXPECT_EQ(renderPane(gif, settings, 4, 4, 3).at(1, 1), makePixel(255, 0, 0));
    EXPECT_EQ(renderPane(gif, settings, 4, 4, 2).at(0, 0), kBackground);
}

}  // namespace
}  // namespace kerbilo
