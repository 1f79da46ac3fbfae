#include <png.h>

#include <gtest/gtest.h>

#include "picture/compose.h"
#include "picture/decoders.h"
#include "test_images.h"

namespace kerbilo {
namespace {

using testing::IconEntryPlan;
using testing::makeIcon;
using testing::makeIconDib;

Image solid(int w, int h, Pixel colour) {
    Image image;
    image.width = w;
    image.height = h;
    image.pixels.assign(static_cast<std::size_t>(w * h), colour);
    return image;
}

IconEntryPlan bitmapEntry(int directoryWidth, int colours, int size, Pixel colour) {
    return {directoryWidth, colours,
            makeIconDib(solid(size, size, colour),
                        std::vector<bool>(static_cast<std::size_t>(size * size)))};
}

struct ChoiceCase {
    const char* name;
    std::vector<std::pair<int, int>> entries;  // directory width, colour count
    int expected;
};
// Names the case in test listings instead of a byte dump.
void PrintTo(const ChoiceCase& c, std::ostream* os) {
    *os << c.name;
}

class IconChoice : public ::testing::TestWithParam<ChoiceCase> {};

TEST_P(IconChoice, FirstThirtyTwoWideWithSixteenColoursElseLast) {
    std::vector<IconEntryPlan> entries;
    for (auto [w, c] : GetParam().entries) entries.push_back(bitmapEntry(w, c, 2, 0));
    EXPECT_EQ(chooseIconEntry(makeIcon(entries)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Entries, IconChoice,
    ::testing::Values(ChoiceCase{"Single", {{16, 16}}, 0},
                      ChoiceCase{"ThirtyTwoSixteen", {{16, 16}, {32, 16}, {48, 16}}, 1},
                      ChoiceCase{"FirstOfTwoQualifying", {{32, 255}, {32, 16}}, 0},
                      ChoiceCase{"FifteenColoursDoNotCount", {{32, 15}, {16, 16}}, 1},
                      // 256-colour entries store 0 in the colour byte, so they never qualify.
                      ChoiceCase{"ZeroColourByteFallsBackToLast", {{32, 0}, {48, 0}, {16, 0}}, 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Icon, ChosenEntryIsDecodedWithHalvedHeightAndMask) {
    Image colour = solid(4, 3, makePixel(200, 10, 20));
    colour.at(0, 0) = makePixel(1, 2, 3);
    std::vector<bool> mask(12, false);
    mask[0] = true;          // (0,0) lets the background through
    mask[2 * 4 + 3] = true;  // (3,2) as well
    const auto bytes = makeIcon({bitmapEntry(16, 16, 2, makePixel(9, 9, 9)),
                                 {32, 16, makeIconDib(colour, mask)},
                                 bitmapEntry(48, 16, 2, makePixel(9, 9, 9))});
    const auto image = decodeIcon(bytes);
    ASSERT_TRUE(image);
    EXPECT_EQ(image->kind, ImageKind::Icon);
    ASSERT_EQ(image->width, 4);
    ASSERT_EQ(image->height, 3);
    const Image pane = composePane(&*image, DisplayMode::Centred, makePixel(0, 255, 0), 4, 3);
    EXPECT_EQ(pane.at(0, 0), makePixel(0, 255, 0));
    EXPECT_EQ(pane.at(3, 2), makePixel(0, 255, 0));
    EXPECT_EQ(pane.at(1, 0), makePixel(200, 10, 20));
    EXPECT_EQ(pane.at(3, 1), makePixel(200, 10, 20));
}

TEST(Icon, PngStoredEntryAndCursor) {
    Image source = solid(3, 2, makePixel(10, 20, 30));
    source.at(1, 1) = makePixel(10, 20, 30, 0);
    const auto png = testing::makePng(source, PNG_FORMAT_RGBA);
    for (int type : {1, 2}) {
        const auto image = decodeIcon(makeIcon({{0, 0, png}}, type));
        ASSERT_TRUE(image) << type;
        EXPECT_EQ(image->width, 3);
        EXPECT_EQ(image->pixels, source.pixels);
    }
}

TEST(IconRefused, DirectoryOrEntryOutsideData) {
    auto bytes = makeIcon({bitmapEntry(32, 16, 4, 0)});
    auto cut = bytes;
    cut.resize(cut.size() - 1);  // the AND mask's last byte
    EXPECT_FALSE(decodeIcon(cut));
    auto badCount = bytes;
    badCount[4] = 200;  // directory larger than the file
    EXPECT_FALSE(decodeIcon(badCount));
    auto badOffset = bytes;
    badOffset[6 + 12] = 0xFF;
    badOffset[6 + 15] = 0x7F;
    EXPECT_FALSE(decodeIcon(badOffset));
    EXPECT_TRUE(decodeIcon(bytes));
}

TEST(Pcx, TwoHundredFiftySixColoursWithRuns) {
    std::vector<Pixel> palette;
    for (int i = 0; i < 256; ++i) palette.push_back(makePixel(i, 255 - i, (i * 7) & 0xFF));
    // Long runs, single bytes above 0xBF (which must be written as runs) and an odd width.
    std::vector<std::uint8_t> indices;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 71; ++x)
            indices.push_back(static_cast<std::uint8_t>(x < 64 ? 5 : 0xC0 + x + y));
    const auto image = decodePcx(testing::makePcx256(71, 4, indices, palette));
    ASSERT_TRUE(image);
    ASSERT_EQ(image->width, 71);
    ASSERT_EQ(image->height, 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 71; ++x)
            ASSERT_EQ(image->at(x, y), palette[indices[static_cast<std::size_t>(y * 71 + x)]]);
}

TEST(Pcx, Monochrome) {
    std::vector<bool> white;
    for (int i = 0; i < 9 * 3; ++i) white.push_back(i % 3 == 0);
    const auto image = decodePcx(testing::makePcxMono(9, 3, white));
    ASSERT_TRUE(image);
    ASSERT_EQ(image->width, 9);
    for (int i = 0; i < 27; ++i)
        EXPECT_EQ(image->pixels[static_cast<std::size_t>(i)], white[static_cast<std::size_t>(i)]
                                                                  ? makePixel(255, 255, 255)
                                                                  : makePixel(0, 0, 0));
}

TEST(PcxRefused, ShortOrTruncated) {
    std::vector<Pixel> palette(256, makePixel(1, 1, 1));
    const auto bytes = testing::makePcx256(8, 8, std::vector<std::uint8_t>(64, 3), palette);
    EXPECT_TRUE(decodePcx(bytes));
    // The header alone and the header plus a palette with no pixel data.
    EXPECT_FALSE(decodePcx(testing::ByteVector(bytes.begin(), bytes.begin() + 128)));
    testing::ByteVector noPixels(bytes.begin(), bytes.begin() + 128);
    noPixels.resize(128 + 769);
    std::copy(bytes.end() - 769, bytes.end(), noPixels.begin() + 128);
    EXPECT_FALSE(decodePcx(noPixels));
}

}  // namespace
}  // namespace kerbilo
