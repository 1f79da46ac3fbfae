// The player keeps its canvas in tiles and its pane up to date frame by frame. Both are
// checked against the way frames were drawn before: one whole canvas per animation, each
// frame composed by composePane from scratch.

#include <gtest/gtest.h>

#include <chrono>
#include <random>

#include "picture/compose.h"
#include "picture/gif.h"
#include "test_images.h"

namespace kerbilo {
namespace {

using testing::GifFramePlan;

// The whole-canvas player, as the pane drew GIFs before.
class ReferencePlayer {
  public:
    explicit ReferencePlayer(const GifAnimation& gif) : gif_(gif) {
        canvas_.width = gif.width();
        canvas_.height = gif.height();
        canvas_.kind = ImageKind::Alpha;
        canvas_.pixels.assign(static_cast<std::size_t>(gif.width()) * gif.height(), 0);
    }
    const Image& canvas() const { return canvas_; }

    void drawNextFrame() {
        if (next_ >= gif_.frames().size()) {
            next_ = 0;
            pending_ = 0;
            std::fill(canvas_.pixels.begin(), canvas_.pixels.end(), Pixel{0});
        }
        for (int y = py0_; pending_ != 0 && y < py1_; ++y)
            for (int x = px0_; x < px1_; ++x)
                canvas_.at(x, y) = pending_ == 2
                                       ? 0
                                       : saved_[static_cast<std::size_t>(y - py0_) * (px1_ - px0_) +
                                                static_cast<std::size_t>(x - px0_)];
        const std::size_t index = next_++;
        const GifFrame& f = gif_.frames()[index];
        const int x0 = std::min(f.left, canvas_.width), y0 = std::min(f.top, canvas_.height);
        const int x1 = std::min(f.left + f.width, canvas_.width);
        const int y1 = std::min(f.top + f.height, canvas_.height);
        const bool visible = x0 < x1 && y0 < y1;
        pending_ = visible && (f.disposal == 2 || f.disposal == 3) ? f.disposal : 0;
        px0_ = x0, py0_ = y0, px1_ = x1, py1_ = y1;
        saved_.clear();
        for (int y = y0; pending_ == 3 && y < y1; ++y)
            for (int x = x0; x < x1; ++x) saved_.push_back(canvas_.at(x, y));
        Pixel palette[256];
        std::vector<std::uint8_t> indices;
        std::size_t decoded = 0;
        if (!visible || !gif_.palette(index, palette) ||
            !gif_.decodeIndices(index, indices, decoded))
            return;
        for (std::size_t i = 0; i < decoded; ++i) {
            const int stored = static_cast<int>(i) / f.width;
            const int row = f.interlaced ? displayedRow(stored, f.height) : stored;
            const int x = f.left + static_cast<int>(i) % f.width, y = f.top + row;
            if (x >= x1 || y >= y1) continue;
            if (f.transparent && indices[i] == f.transparentIndex) continue;
            canvas_.at(x, y) = palette[indices[i]];
        }
    }

  private:
    static int displayedRow(int i, int height) {
        for (const auto& [start, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}}) {
            const int rows = height > start ? (height - start + step - 1) / step : 0;
            if (i < rows) return start + i * step;
            i -= rows;
        }
        return -1;
    }

    const GifAnimation& gif_;
    Image canvas_;
    std::size_t next_ = 0;
    int pending_ = 0;
    int px0_ = 0, py0_ = 0, px1_ = 0, py1_ = 0;
    std::vector<Pixel> saved_;
};

// Frames of every disposal method, with and without transparency, interlaced or not,
// crossing tile borders and the screen's edges.
GifAnimation randomAnimation(unsigned seed, int width, int height, int frames) {
    std::mt19937 rng(seed);
    std::vector<Pixel> palette;
    for (int i = 0; i < 16; ++i)
        palette.push_back(makePixel(static_cast<int>(rng() & 255), static_cast<int>(rng() & 255),
                                    static_cast<int>(rng() & 255)));
    std::vector<GifFramePlan> plans;
    for (int i = 0; i < frames; ++i) {
        GifFramePlan f;
        f.left = static_cast<int>(rng() % static_cast<unsigned>(width));
        f.top = static_cast<int>(rng() % static_cast<unsigned>(height));
        f.width = 1 + static_cast<int>(rng() % static_cast<unsigned>(width));
        f.height = 1 + static_cast<int>(rng() % static_cast<unsigned>(height));
        f.disposal = static_cast<int>(rng() % 4);
        f.interlaced = rng() % 3 == 0;
        f.transparentIndex = rng() % 2 ? static_cast<int>(rng() % 16) : -1;
        for (int p = 0; p < f.width * f.height; ++p)
            f.indices.push_back(static_cast<std::uint8_t>((p / 7 + i + (rng() % 3)) % 16));
        plans.push_back(f);
    }
    return *GifAnimation::parse(testing::toBuffer(testing::makeGif(width, height, palette, plans)));
}

struct ViewCase {
    const char* name;
    int paneWidth, paneHeight;
    DisplayMode mode;
    ViewOptions options = {};
};
void PrintTo(const ViewCase& c, std::ostream* os) {
    *os << c.name;
}

class GifView : public ::testing::TestWithParam<ViewCase> {};

// Three rounds of a 9-frame animation on a 150x130 screen (3x3 tiles): after every frame
// the tiles hold the reference canvas and the view is composePane of it, to the pixel.
TEST_P(GifView, EveryFrameMatchesTheWholeCanvasComposedAgain) {
    const ViewCase& c = GetParam();
    const Pixel background = makePixel(12, 200, 99);
    for (unsigned seed : {1u, 2u, 3u}) {
        const auto gif = std::make_shared<const GifAnimation>(randomAnimation(seed, 150, 130, 9));
        ReferencePlayer reference(*gif);
        GifPlayer player(gif);
        player.setView(c.mode, background, c.paneWidth, c.paneHeight, c.options);
        for (int frame = 1; frame <= 27; ++frame) {
            SCOPED_TRACE("seed " + std::to_string(seed) + " frame " + std::to_string(frame));
            reference.drawNextFrame();
            player.drawNextFrame();
            ASSERT_EQ(player.canvas().pixels, reference.canvas().pixels);
            const Image want = composePane(&reference.canvas(), c.mode, background, c.paneWidth,
                                           c.paneHeight, c.options);
            ASSERT_EQ(player.view().pixels, want.pixels);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Panes, GifView,
    ::testing::Values(ViewCase{"Shrunk", 64, 40, DisplayMode::Centred},
                      ViewCase{"OwnSize", 200, 180, DisplayMode::Centred},
                      ViewCase{"StretchedLarger", 311, 77, DisplayMode::Stretched},
                      ViewCase{"StretchedSmaller", 23, 101, DisplayMode::Stretched},
                      ViewCase{"FittedEnlarged", 311, 200, DisplayMode::Fitted},
                      ViewCase{"ActualCroppedAndPanned", 90, 70, DisplayMode::Actual,
                               ViewOptions{1, -17, 12, false}},
                      ViewCase{"ZoomedWholeOverChecker", 200, 150, DisplayMode::Zoomed,
                               ViewOptions{3, 40, -25, true}},
                      ViewCase{"ZoomedFractionOverChecker", 200, 150, DisplayMode::Zoomed,
                               ViewOptions{1.5, -9, 5, true}},
                      ViewCase{"ZoomedOutOverChecker", 64, 40, DisplayMode::Zoomed,
                               ViewOptions{1.0 / 3, 0, 0, true}}),
    [](const auto& info) { return std::string(info.param.name); });

// A view set after frames were drawn starts from what the canvas holds.
TEST(GifViewLate, StartsFromTheCanvasDrawnSoFar) {
    const auto gif = std::make_shared<const GifAnimation>(randomAnimation(9, 150, 130, 5));
    GifPlayer player(gif);
    player.drawFrames(4);
    player.setView(DisplayMode::Centred, makePixel(1, 2, 3), 70, 50);
    EXPECT_EQ(
        player.view().pixels,
        composePane(&player.canvas(), DisplayMode::Centred, makePixel(1, 2, 3), 70, 50).pixels);
}

// Frame K is frame (K - 1) mod n + 1: the sequence restarts on a cleared canvas, so no
// count, however large, takes more than one round.
TEST(GifRounds, AnyFrameCountCostsAtMostOneRound) {
    const auto gif = std::make_shared<const GifAnimation>(randomAnimation(4, 150, 130, 7));
    for (std::size_t k : {std::size_t{1}, std::size_t{7}, std::size_t{8}, std::size_t{23}}) {
        GifPlayer player(gif), counted(gif);
        player.drawFrames(k);
        for (std::size_t i = 0; i < (k - 1) % 7 + 1; ++i) counted.drawNextFrame();
        EXPECT_EQ(player.canvas().pixels, counted.canvas().pixels) << k;
        EXPECT_EQ(player.framesDrawn(), k);
    }
    GifPlayer far(gif), near(gif);
    const auto start = std::chrono::steady_clock::now();
    far.drawFrames(9223372036854775807u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    near.drawFrames((9223372036854775807u - 1) % 7 + 1);
    EXPECT_EQ(far.canvas().pixels, near.canvas().pixels);
    // Counting on from there goes round as usual.
    far.drawNextFrame();
    near.drawFrames(near.framesDrawn() + 1);
    EXPECT_EQ(far.canvas().pixels, near.canvas().pixels);
}

// Two 1x1 images in the corners of an 8192x8192 screen: the canvas holds two tiles, not
// 256 MiB, and the pane shows where they are.
TEST(GifHugeScreen, SmallImagesCostWhatTheyCover) {
    GifFramePlan a, b;
    a.width = a.height = b.width = b.height = 1;
    a.indices = {0};
    b.indices = {1};
    b.left = b.top = 8191;
    const auto parsed = GifAnimation::parse(testing::toBuffer(
        testing::makeGif(8192, 8192, {makePixel(255, 0, 0), makePixel(0, 0, 255)}, {a, b})));
    ASSERT_TRUE(parsed);
    GifPlayer player(std::make_shared<const GifAnimation>(*parsed));
    player.setView(DisplayMode::Stretched, makePixel(0, 0, 0), 8, 8);
    player.drawFrames(2);
    EXPECT_LE(player.tiles().allocatedBytes(), 2u * 64 * 64 * sizeof(Pixel));
    EXPECT_EQ(player.tiles().at(0, 0), makePixel(255, 0, 0));
    EXPECT_EQ(player.tiles().at(8191, 8191), makePixel(0, 0, 255));
    // One pixel in 1024x1024 moves its pane pixel less than one level: all black.
    EXPECT_EQ(player.view().pixels, std::vector<Pixel>(64, makePixel(0, 0, 0)));
    player.drawNextFrame();  // the third frame starts a new round on a cleared canvas
    EXPECT_LE(player.tiles().allocatedBytes(), 64u * 64 * sizeof(Pixel));
}

}  // namespace
}  // namespace kerbilo
