#include <gtest/gtest.h>

#include "picture/compose.h"
#include "test_images.h"

namespace kerbilo {
namespace {

struct RectCase {
    const char* name;
    DisplayMode mode;
    int paneW, paneH, imageW, imageH;
    Rect expected;
};
// Names the case in test listings instead of a byte dump.
void PrintTo(const RectCase& c, std::ostream* os) {
    *os << c.name;
}

class ComposeRect : public ::testing::TestWithParam<RectCase> {};

TEST_P(ComposeRect, DestinationRectangle) {
    const auto& c = GetParam();
    EXPECT_EQ(destinationRect(c.mode, c.paneW, c.paneH, c.imageW, c.imageH), c.expected);
}

constexpr auto kC = DisplayMode::Centred;
constexpr auto kS = DisplayMode::Stretched;

INSTANTIATE_TEST_SUITE_P(
    Modes, ComposeRect,
    ::testing::Values(RectCase{"WideShrunk", kC, 300, 300, 600, 300, {0, 75, 300, 150}},
                      RectCase{"SmallCentred", kC, 300, 300, 100, 50, {100, 125, 100, 50}},
                      RectCase{"ExactFit", kC, 300, 300, 300, 300, {0, 0, 300, 300}},
                      RectCase{"TallShrunk", kC, 300, 300, 300, 600, {75, 0, 150, 300}},
                      RectCase{"OddHalvesRoundDown", kC, 300, 300, 101, 51, {99, 124, 101, 51}},
                      RectCase{"BothLarger", kC, 464, 312, 4000, 3000, {24, 0, 416, 312}},
                      // 22 * (15 / 22.0) is just below 15 in floating point; the floor
                      // keeps 14, as the pane has always drawn it.
                      RectCase{"FloatScaleFloors", kC, 15, 15, 22, 22, {0, 0, 14, 14}},
                      RectCase{"StretchShrinks", kS, 128, 128, 238, 238, {0, 0, 128, 128}},
                      RectCase{"StretchEnlarges", kS, 464, 312, 10, 10, {0, 0, 464, 312}},
                      RectCase{"NoImage", kC, 300, 300, 0, 0, {0, 0, 0, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

struct BlendCase {
    const char* name;
    Pixel pixel;
    Pixel expected;  // over a background of (100, 50, 200)
};
// Names the case in test listings instead of a byte dump.
void PrintTo(const BlendCase& c, std::ostream* os) {
    *os << c.name;
}

class ComposeBlend : public ::testing::TestWithParam<BlendCase> {};

TEST_P(ComposeBlend, AlphaAgainstBackgroundRoundedDown) {
    const Pixel background = makePixel(100, 50, 200);
    EXPECT_EQ(resolveOver(GetParam().pixel, ImageKind::Alpha, background), GetParam().expected);
    Image one;
    one.width = one.height = 1;
    one.kind = ImageKind::Alpha;
    one.pixels = {GetParam().pixel};
    EXPECT_EQ(composePane(&one, kC, background, 1, 1).pixels[0], GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Pixels, ComposeBlend,
    ::testing::Values(BlendCase{"Transparent", makePixel(9, 9, 9, 0), makePixel(100, 50, 200)},
                      BlendCase{"Opaque", makePixel(9, 8, 7, 255), makePixel(9, 8, 7)},
                      // (128*200 + 127*100)/255 = 150.19; (128*0 + 127*50)/255 = 24.9
                      BlendCase{"Half", makePixel(200, 0, 255, 128), makePixel(150, 24, 227)},
                      BlendCase{"Faint", makePixel(255, 255, 255, 1), makePixel(100, 50, 200)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Compose, ColourImagesIgnoreAlphaByte) {
    Image one;
    one.width = one.height = 1;
    one.pixels = {makePixel(1, 2, 3, 0)};
    EXPECT_EQ(composePane(&one, kC, makePixel(9, 9, 9), 1, 1).pixels[0], makePixel(1, 2, 3));
}

TEST(Compose, BackgroundAroundImageAndNothingWithoutImage) {
    const Image image = testing::patternImage(100, 50);
    const Pixel bg = makePixel(240, 240, 240);
    const Image pane = composePane(&image, kC, bg, 300, 300);
    ASSERT_EQ(pane.width, 300);
    EXPECT_EQ(pane.at(99, 125), bg);
    EXPECT_EQ(pane.at(100, 124), bg);
    EXPECT_EQ(pane.at(100, 125), image.at(0, 0));
    EXPECT_EQ(pane.at(199, 174), image.at(99, 49));
    EXPECT_EQ(pane.at(200, 174), bg);
    const Image empty = composePane(nullptr, kC, bg, 3, 2);
    EXPECT_EQ(empty.pixels, std::vector<Pixel>(6, bg));
    EXPECT_TRUE(composePane(&image, kC, bg, 0, 10).empty());
}

Image row(std::vector<int> grey) {
    Image image;
    image.width = static_cast<int>(grey.size());
    image.height = 1;
    for (int g : grey) image.pixels.push_back(makePixel(g, g, g));
    return image;
}

TEST(ComposeScale, AreaAveragingWeighsPartialCoverage) {
    // Destination 0 covers source [0, 1.5): (0 + 0.5 * 90) / 1.5 = 30;
    // destination 1 covers [1.5, 3): (0.5 * 90 + 180) / 1.5 = 150.
    const Image source = row({0, 90, 180});
    const Image pane = composePane(&source, kS, 0, 2, 1);
    EXPECT_EQ(pane.pixels, row({30, 150}).pixels);
}

TEST(ComposeScale, UniformColourStaysUniformAtAnyRatio) {
    Image source;
    source.width = 37;
    source.height = 23;
    source.pixels.assign(37 * 23, makePixel(201, 17, 99));
    for (auto [w, h] : {std::pair{5, 3}, {36, 22}, {100, 71}, {1, 1}}) {
        const Image pane = composePane(&source, kS, 0, w, h);
        for (Pixel p : pane.pixels) ASSERT_EQ(p, makePixel(201, 17, 99)) << w << "x" << h;
    }
}

TEST(ComposeScale, EnlargingRepeatsAndShrinkingAverages) {
    const Image pair = row({10, 200});
    EXPECT_EQ(composePane(&pair, kS, 0, 4, 1).pixels, row({10, 10, 200, 200}).pixels);
    // Alternating columns average to the mean, rounded to nearest.
    const Image stripes = row({0, 255, 0, 255});
    EXPECT_EQ(composePane(&stripes, kS, 0, 1, 1).pixels, row({128}).pixels);
}

TEST(ComposeScale, TransparencyResolvedBeforeAveraging) {
    Image source = row({0, 0});
    source.kind = ImageKind::Alpha;
    source.pixels[1] = 0;  // transparent: counts as the background, not as black
    const Image pane = composePane(&source, kS, makePixel(200, 200, 200), 1, 1);
    EXPECT_EQ(pane.pixels[0], makePixel(100, 100, 100));
}

}  // namespace
}  // namespace kerbilo
