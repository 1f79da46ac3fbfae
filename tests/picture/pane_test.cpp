#include <png.h>

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
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
    testing::BmpPlan s;
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
    ASSERT_TRUE(pane.waitUntilReady());
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
    testing::GifFramePlan a, b;
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
    ASSERT_TRUE(pane.waitUntilReady());
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
    ASSERT_TRUE(pane.waitUntilReady());
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
    ASSERT_TRUE(pane.waitUntilReady());
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
    ASSERT_TRUE(pane.waitUntilReady());
    EXPECT_EQ(pane.state(), PictureState::Still);
    EXPECT_FALSE(pane.animating());
    pane.setAnimated(true);
    ASSERT_TRUE(pane.waitUntilReady());
    EXPECT_TRUE(pane.animating());
    EXPECT_EQ(pane.compose(2, 2).pixels[0], makePixel(255, 0, 0));
}

// A big picture whose decode takes a while, then a small one chosen before it is done: the
// small one shows, the big one never does, and choosing did not wait for the big decode.
TEST(PaneWorker, NewerDataSupersedesADecodeStillRunning) {
    const ByteBuffer big = toBuffer(
        testing::makeJpeg(testing::patternImage(3000, 3000), testing::JpegKind::Colour, 90));
    const auto decodeStart = std::chrono::steady_clock::now();
    ASSERT_TRUE(decodeJpeg(bytesOf(big)));
    const auto decodeTime = std::chrono::steady_clock::now() - decodeStart;
    const ByteBuffer red = toBuffer(
        testing::makePng(Image{1, 1, ImageKind::Colour, {makePixel(255, 0, 0)}}, PNG_FORMAT_RGBA));

    for (bool viewKnown : {false, true}) {
        SCOPED_TRACE(viewKnown ? "view size known" : "no view size");
        PicturePane pane;
        pane.setBackground(kBackground);
        if (viewKnown) pane.setViewSize(9, 9);
        std::mutex mutex;
        std::vector<Pixel> shownWhenReady;
        pane.setPictureReadyCallback([&] {
            std::lock_guard lock(mutex);
            shownWhenReady.push_back(pane.compose(9, 9).at(4, 4));
        });
        pane.setData(big);
        EXPECT_EQ(pane.state(), PictureState::Decoding);
        EXPECT_EQ(pane.compose(9, 9).pixels, std::vector<Pixel>(81, kBackground));
        const auto start = std::chrono::steady_clock::now();
        pane.setData(red);
        EXPECT_LT(std::chrono::steady_clock::now() - start, decodeTime / 2);
        ASSERT_TRUE(pane.waitUntilReady());
        EXPECT_EQ(pane.state(), PictureState::Still);
        EXPECT_EQ(pane.compose(9, 9).at(4, 4), makePixel(255, 0, 0));
        std::this_thread::sleep_for(decodeTime + 50ms);  // the big decode would be over
        std::lock_guard lock(mutex);
        EXPECT_EQ(shownWhenReady, std::vector<Pixel>{makePixel(255, 0, 0)});
    }
}

// Composed once per picture, size, background and display mode: painting the same pane
// again gets the same buffer instead of scaling the picture again.
TEST(PaneWorker, RepaintDoesNotScaleAgain) {
    const ByteBuffer png =
        toBuffer(testing::makePng(testing::patternImage(300, 200), PNG_FORMAT_RGBA));
    PaneSettings settings;
    settings.background = kBackground;
    PicturePane pane(settings);
    pane.setViewSize(50, 40);
    pane.setData(png);
    ASSERT_TRUE(pane.waitUntilReady());
    const auto first = pane.composed(50, 40);
    EXPECT_EQ(pane.composed(50, 40), first);
    EXPECT_EQ(first->pixels, renderPane(png, settings, 50, 40).pixels);

    // Another background or mode is another pane, composed anew and then kept.
    pane.setBackground(makePixel(1, 2, 3));
    settings.background = makePixel(1, 2, 3);
    const auto other = pane.composed(50, 40);
    EXPECT_NE(other, first);
    EXPECT_EQ(other->pixels, renderPane(png, settings, 50, 40).pixels);
    EXPECT_EQ(pane.composed(50, 40), other);
    pane.setDisplayMode(DisplayMode::Stretched);
    settings.mode = DisplayMode::Stretched;
    EXPECT_EQ(pane.composed(50, 40)->pixels, renderPane(png, settings, 50, 40).pixels);
    EXPECT_EQ(pane.composed(31, 7)->pixels, renderPane(png, settings, 31, 7).pixels);
}

// With the view size known, each frame arrives composed at that size; what the pane shows
// for frame K is what renderPane shows after K frames.
TEST(PaneWorker, FramesArriveComposedAtTheViewSize) {
    std::vector<testing::GifFramePlan> frames;
    for (int i = 0; i < 3; ++i) {
        testing::GifFramePlan f;
        f.left = i * 20;
        f.width = 30;
        f.height = 25;
        f.delay = 1;
        f.disposal = i;
        f.indices.assign(30 * 25, static_cast<std::uint8_t>(i));
        frames.push_back(f);
    }
    const ByteBuffer gif = toBuffer(testing::makeGif(
        70, 25, {makePixel(255, 0, 0), makePixel(0, 255, 0), makePixel(0, 0, 255)}, frames));
    PaneSettings settings;
    settings.background = kBackground;
    PicturePane pane(settings);
    pane.setViewSize(23, 17);
    std::mutex mutex;
    std::vector<std::pair<std::size_t, std::shared_ptr<const Image>>> seen;
    const auto record = [&] {
        // On the worker, between two frames: the frame count and the pane agree.
        std::lock_guard lock(mutex);
        seen.emplace_back(pane.framesShown(), pane.composed(23, 17));
    };
    pane.setPictureReadyCallback(record);
    pane.setFrameReadyCallback(record);
    pane.setData(gif);
    ASSERT_TRUE(pane.waitUntilReady());
    std::this_thread::sleep_for(150ms);
    pane.setData({});
    ASSERT_GE(seen.size(), 5u);
    for (const auto& [count, image] : seen)
        ASSERT_EQ(image->pixels, renderPane(gif, settings, 23, 17, count).pixels) << count;
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
