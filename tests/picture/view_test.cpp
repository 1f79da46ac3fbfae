#include <png.h>

#include <gtest/gtest.h>

#include "picture/compose.h"
#include "picture/picture_pane.h"
#include "test_images.h"

namespace kerbilo {
namespace {

constexpr auto kFit = DisplayMode::Fitted;
constexpr auto kActual = DisplayMode::Actual;
constexpr auto kZoom = DisplayMode::Zoomed;
const Pixel kBackground = makePixel(10, 20, 30);

ViewOptions zoomed(double zoom, int panX = 0, int panY = 0) {
    return {zoom, panX, panY, false};
}

struct RectCase {
    const char* name;
    DisplayMode mode;
    ViewOptions options;
    int paneW, paneH, imageW, imageH;
    Rect expected;
};
void PrintTo(const RectCase& c, std::ostream* os) {
    *os << c.name;
}

class ViewRect : public ::testing::TestWithParam<RectCase> {};

TEST_P(ViewRect, WhereThePictureLies) {
    const auto& c = GetParam();
    EXPECT_EQ(destinationRect(c.mode, c.paneW, c.paneH, c.imageW, c.imageH, c.options), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, ViewRect,
    ::testing::Values(
        RectCase{"FitEnlargesSmall", kFit, {}, 300, 200, 16, 16, {50, 0, 200, 200}},
        RectCase{"FitWide", kFit, {}, 300, 300, 600, 300, {0, 75, 300, 150}},
        RectCase{"FitTall", kFit, {}, 300, 300, 10, 30, {100, 0, 100, 300}},
        // 22 x 22 into 15 x 15: whole numbers fill the pane where floating point fell short.
        RectCase{"FitFillsExactly", kFit, {}, 15, 15, 22, 22, {0, 0, 15, 15}},
        RectCase{"ActualSmallCentred", kActual, {}, 300, 300, 16, 16, {142, 142, 16, 16}},
        RectCase{"ActualLargeCropped", kActual, {}, 100, 80, 400, 200, {-150, -60, 400, 200}},
        RectCase{
            "ActualPanned", kActual, zoomed(1, 20, -5), 100, 80, 400, 200, {-130, -65, 400, 200}},
        // At most until the picture's left or top edge meets the pane's.
        RectCase{
            "ActualPanStops", kActual, zoomed(1, 9999, 9999), 100, 80, 400, 200, {0, 0, 400, 200}},
        RectCase{"ActualPanStopsOtherWay",
                 kActual,
                 zoomed(1, -9999, -9999),
                 100,
                 80,
                 400,
                 200,
                 {-300, -120, 400, 200}},
        RectCase{"ActualFittingDoesNotPan",
                 kActual,
                 zoomed(1, 30, 30),
                 100,
                 80,
                 40,
                 20,
                 {30, 30, 40, 20}},
        RectCase{"ActualIgnoresZoom", kActual, zoomed(4), 100, 80, 40, 20, {30, 30, 40, 20}},
        RectCase{"ZoomWhole", kZoom, zoomed(4), 300, 200, 16, 16, {118, 68, 64, 64}},
        RectCase{"ZoomFraction", kZoom, zoomed(1.5), 300, 200, 14, 14, {139, 89, 21, 21}},
        RectCase{"ZoomOut", kZoom, zoomed(0.125), 300, 200, 160, 80, {140, 95, 20, 10}},
        RectCase{"ZoomNeverBelowOnePixel", kZoom, zoomed(0.125), 300, 200, 3, 3, {149, 99, 1, 1}},
        RectCase{"ZoomLimited", kZoom, zoomed(1000), 300, 200, 2, 2, {118, 68, 64, 64}},
        RectCase{"ZoomPannedOneAxis",
                 kZoom,
                 zoomed(8, -1000, 77),
                 300,
                 200,
                 100,
                 10,
                 {-500, 60, 800, 80}},
        RectCase{"CentredIgnoresOptions",
                 DisplayMode::Centred,
                 zoomed(4, 10, 10),
                 300,
                 300,
                 100,
                 50,
                 {100, 125, 100, 50}}),
    [](const auto& info) { return std::string(info.param.name); });

// Zooming keeps the picture point under the pointer where it is, as far as the pan allows.
TEST(ViewZoomAt, PointUnderThePointerStays) {
    struct Case {
        DisplayMode from;
        ViewOptions options;
        double zoom;
        int x, y;
    };
    const int paneW = 200, paneH = 100, imageW = 80, imageH = 80;
    for (const Case& c :
         {Case{DisplayMode::Centred, {}, 4, 95, 50}, Case{kZoom, zoomed(4), 8, 60, 20},
          Case{kZoom, zoomed(8, 100, -60), 3, 30, 80}, Case{kFit, {}, 6, 130, 70}}) {
        const Rect before = destinationRect(c.from, paneW, paneH, imageW, imageH, c.options);
        const ViewOptions after =
            zoomedAt(c.from, paneW, paneH, imageW, imageH, c.options, c.zoom, c.x, c.y);
        EXPECT_EQ(after.zoom, c.zoom);
        const Rect now = destinationRect(kZoom, paneW, paneH, imageW, imageH, after);
        // The picture point under the pointer, in picture pixels, before and after.
        const double u0 = (c.x - before.x) * double(imageW) / before.width;
        const double u1 = (c.x - now.x) * double(imageW) / now.width;
        const double v0 = (c.y - before.y) * double(imageH) / before.height;
        const double v1 = (c.y - now.y) * double(imageH) / now.height;
        EXPECT_NEAR(u1, u0, 0.5) << c.x << "," << c.y;
        EXPECT_NEAR(v1, v0, 0.5) << c.x << "," << c.y;
    }
    // Zoomed out so far that the picture fits: centred, whatever the pointer.
    const ViewOptions out = zoomedAt(kZoom, 200, 100, 80, 80, zoomed(8, 50, 50), 1, 0, 0);
    EXPECT_EQ(out, zoomed(1));
}

TEST(ViewZoomStep, WheelNotchesGoThroughTheLadder) {
    struct Case {
        double from;
        int notches;
        double expected;
    };
    for (const Case& c :
         {Case{1, 1, 1.5}, Case{1.5, 1, 2}, Case{2, 1, 3}, Case{3, 2, 6}, Case{1, -1, 2.0 / 3},
          Case{1, -6, 0.125}, Case{0.125, -1, 0.125}, Case{32, 1, 32}, Case{24, 5, 32},
          Case{2.7, 1, 3}, Case{2.7, -1, 2}, Case{1.0 / 3, 1, 0.5}, Case{1, 0, 1}})
        EXPECT_DOUBLE_EQ(zoomStep(c.from, c.notches), c.expected) << c.from << " by " << c.notches;
}

// Every picture pixel becomes a k x k block of exactly its own colour, whatever the kind,
// over the background or the checkerboard.
struct BlockCase {
    const char* name;
    int factor;
    ImageKind kind;
    bool checkerboard;
};
void PrintTo(const BlockCase& c, std::ostream* os) {
    *os << c.name;
}

// Distinct colours and every sort of alpha: opaque, transparent and in between.
Image translucentPattern(int width, int height, ImageKind kind) {
    Image image = testing::patternImage(width, height, kind);
    for (std::size_t i = 0; i < image.pixels.size(); ++i) {
        static constexpr int kAlpha[] = {255, 0, 128, 255, 1, 200, 0};
        image.pixels[i] = (image.pixels[i] & 0xFFFFFFu) | (Pixel(kAlpha[i % 7]) << 24);
    }
    return image;
}

class ViewWholeZoom : public ::testing::TestWithParam<BlockCase> {};

TEST_P(ViewWholeZoom, EachPixelBecomesABlock) {
    const auto& c = GetParam();
    const Image image = translucentPattern(16, 12, c.kind);
    ViewOptions options = zoomed(c.factor);
    options.checkerboard = c.checkerboard;
    const int paneW = 16 * c.factor + 10, paneH = 12 * c.factor + 6;
    const Image pane = composePane(&image, kZoom, kBackground, paneW, paneH, options);
    const Rect r = destinationRect(kZoom, paneW, paneH, 16, 12, options);
    ASSERT_EQ(r, (Rect{5, 3, 16 * c.factor, 12 * c.factor}));
    for (int y = 0; y < paneH; ++y)
        for (int x = 0; x < paneW; ++x) {
            const int px = x - r.x, py = y - r.y;
            const bool inside = px >= 0 && py >= 0 && px < r.width && py < r.height;
            Pixel want = kBackground;
            if (inside) {
                const Pixel under = c.checkerboard ? checkerAt(px, py) : kBackground;
                want = resolveOver(image.at(px / c.factor, py / c.factor), c.kind, under);
            }
            ASSERT_EQ(pane.at(x, y), want) << x << "," << y;
        }
}

INSTANTIATE_TEST_SUITE_P(Factors, ViewWholeZoom,
                         ::testing::Values(BlockCase{"OneColour", 1, ImageKind::Colour, false},
                                           BlockCase{"TwoAlpha", 2, ImageKind::Alpha, false},
                                           BlockCase{"ThreeIcon", 3, ImageKind::Icon, false},
                                           BlockCase{"FourColourChecker", 4, ImageKind::Colour,
                                                     true},
                                           BlockCase{"SixAlphaChecker", 6, ImageKind::Alpha, true},
                                           BlockCase{"EightIconChecker", 8, ImageKind::Icon, true},
                                           BlockCase{"OneAlphaChecker", 1, ImageKind::Alpha, true}),
                         [](const auto& info) { return std::string(info.param.name); });

Image greys(std::vector<int> values) {
    Image image;
    image.width = static_cast<int>(values.size());
    image.height = 1;
    for (int g : values) image.pixels.push_back(makePixel(g, g, g));
    return image;
}

TEST(ViewFractionalZoom, OnlyThePixelAcrossTwoIsBlended) {
    // 1.5 x: pane pixel 1 lies half on each picture pixel; 0 and 2 on one each.
    const Image pair = greys({10, 200});
    const Image pane = composePane(&pair, kZoom, kBackground, 3, 1, zoomed(1.5));
    EXPECT_EQ(pane.pixels, greys({10, 105, 200}).pixels);
    // Halved, neighbours are averaged.
    const Image four = greys({0, 100, 50, 250});
    EXPECT_EQ(composePane(&four, kZoom, kBackground, 2, 1, zoomed(0.5)).pixels,
              greys({50, 150}).pixels);
}

TEST(ViewFit, SmallPictureIsEnlargedWholeFactorsInBlocks) {
    const Image image = testing::patternImage(4, 2);
    const Image pane = composePane(&image, kFit, kBackground, 20, 20);
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 20; ++x)
            ASSERT_EQ(pane.at(x, y), y < 5 || y >= 15 ? kBackground : image.at(x / 5, (y - 5) / 5))
                << x << "," << y;
}

TEST(ViewActual, LargePictureIsCroppedAtItsOwnSize) {
    const Image image = testing::patternImage(50, 40);
    const Image pane = composePane(&image, kActual, kBackground, 20, 10, zoomed(1, 3, -2));
    // Centred: picture x 15 at pane x 0, y 15 at 0; panned by (3, -2).
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 20; ++x) ASSERT_EQ(pane.at(x, y), image.at(x + 12, y + 17));
}

// The checkerboard shows only through what is not opaque, in every mode and at any scale.
TEST(ViewChecker, OnlyUnderTransparency) {
    Image image = testing::patternImage(4, 4, ImageKind::Alpha);
    image.pixels[5] &= 0x00FFFFFFu;              // (1, 1) transparent
    image.pixels[10] = makePixel(0, 0, 0, 128);  // (2, 2) half black
    ViewOptions options = zoomed(8);
    options.checkerboard = true;
    const Image pane = composePane(&image, kZoom, kBackground, 40, 40, options);
    // The picture covers (4, 4) to (36, 36); each of its pixels an 8 x 8 square, which
    // lines up with the checkerboard's squares.
    EXPECT_EQ(pane.at(0, 0), kBackground) << "the checkerboard lies only under the picture";
    EXPECT_EQ(pane.at(4, 4), image.pixels[0] | 0xFF000000u);
    EXPECT_EQ(pane.at(12 + 3, 12 + 3), checkerAt(8, 8));
    EXPECT_EQ(pane.at(12, 12), kCheckerLight);
    EXPECT_EQ(pane.at(20, 20), makePixel(127, 127, 127)) << "half black over white";
    EXPECT_EQ(pane.at(30, 30), image.pixels[15] | 0xFF000000u);

    // A transparent picture shows the checkerboard exactly, at any scale.
    Image clear = image;
    for (Pixel& p : clear.pixels) p &= 0x00FFFFFFu;
    for (DisplayMode mode : {DisplayMode::Centred, DisplayMode::Stretched, kFit, kZoom}) {
        ViewOptions o = zoomed(2.7);
        o.checkerboard = true;
        const Image shown = composePane(&clear, mode, kBackground, 33, 21, o);
        const Rect r = destinationRect(mode, 33, 21, 4, 4, o);
        for (int y = r.y; y < r.y + r.height; ++y)
            for (int x = r.x; x < r.x + r.width; ++x)
                ASSERT_EQ(shown.at(x, y), checkerAt(x - r.x, y - r.y))
                    << static_cast<int>(mode) << " " << x << "," << y;
    }

    // Opaque pictures and an opaque kind hide it entirely: the same pane as without it.
    for (ImageKind kind : {ImageKind::Colour, ImageKind::Alpha}) {
        const Image opaque = testing::patternImage(7, 5, kind);
        for (double zoom : {0.5, 1.5, 3.0}) {
            ViewOptions o = zoomed(zoom);
            const Image plain = composePane(&opaque, kZoom, kBackground, 30, 20, o);
            o.checkerboard = true;
            EXPECT_EQ(composePane(&opaque, kZoom, kBackground, 30, 20, o).pixels, plain.pixels)
                << zoom;
        }
    }
    Image colour = image;
    colour.kind = ImageKind::Colour;
    EXPECT_EQ(composePane(&colour, kZoom, kBackground, 40, 40, options).at(12, 12),
              colour.pixels[5] | 0xFF000000u);
}

// The default look of a pane is what it always was, and options the mode does not use
// change nothing, the checkerboard excepted.
TEST(ViewDefault, UnusedOptionsLeaveTheDefaultPaneAlone) {
    Image picture = testing::patternImage(300, 200, ImageKind::Alpha);
    for (std::size_t i = 0; i < picture.pixels.size(); i += 3) picture.pixels[i] &= 0x7FFFFFFFu;
    const ByteBuffer png = testing::toBuffer(testing::makePng(picture, PNG_FORMAT_RGBA));
    for (auto [w, h] : {std::pair{464, 312}, {120, 90}}) {
        const Image before = renderPane(png, PaneSettings{}, w, h);
        PaneSettings settings;
        settings.view = zoomed(6, 40, -40);
        EXPECT_EQ(renderPane(png, settings, w, h).pixels, before.pixels) << w;

        PicturePane pane;
        pane.setData(png);
        ASSERT_TRUE(pane.waitUntilReady());
        EXPECT_EQ(pane.pictureSize(), (std::pair{300, 200}));
        pane.setDisplayMode(kZoom);
        pane.setViewOptions({3, 10, 10, true});
        EXPECT_NE(pane.compose(w, h).pixels, before.pixels);
        pane.setDisplayMode(DisplayMode::Centred);
        pane.setViewOptions({});
        EXPECT_EQ(pane.compose(w, h).pixels, before.pixels) << w;
    }
}

}  // namespace
}  // namespace kerbilo
