#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "picture/decoders.h"
#include "test_images.h"

namespace kerbilo {
namespace {

using testing::BmpPlan;
using testing::makeBmp;

const std::vector<Pixel> kPalette16 = [] {
    std::vector<Pixel> p;
    for (int i = 0; i < 16; ++i) p.push_back(makePixel(i * 16, 255 - i * 16, i * 5));
    return p;
}();

struct BmpCase {
    const char* name;
    int bits;
    bool topDown;
    std::uint32_t coloursUsed;
    int paletteSize;
};
// Names the case in test listings instead of a byte dump.
void PrintTo(const BmpCase& c, std::ostream* os) {
    *os << c.name;
}

class Bmp : public ::testing::TestWithParam<BmpCase> {};

// Every depth, both row orders, and widths that need row padding.
TEST_P(Bmp, DecodesKnownPixels) {
    const auto& c = GetParam();
    BmpPlan s;
    s.width = 5;
    s.height = 3;
    s.bits = c.bits;
    s.topDown = c.topDown;
    s.coloursUsed = c.coloursUsed;
    s.palette.assign(kPalette16.begin(), kPalette16.begin() + c.paletteSize);
    std::vector<Pixel> expected;
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x) {
            if (c.bits <= 8) {
                const std::uint32_t index = static_cast<std::uint32_t>(x + 2 * y) %
                                            static_cast<std::uint32_t>(c.paletteSize);
                s.values.push_back(index);
                expected.push_back(s.palette[index]);
            } else {
                const Pixel p = makePixel(x * 50, y * 80, 200 - x * 10);
                // The fourth byte of 32-bit rows is junk to the decoder.
                s.values.push_back((p & 0xFFFFFF) | 0x12000000u);
                expected.push_back(p);
            }
        }
    const auto image = decodeBmp(makeBmp(s));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->kind, ImageKind::Colour);
    ASSERT_EQ(image->width, 5);
    ASSERT_EQ(image->height, 3);
    EXPECT_EQ(image->pixels, expected);
}

INSTANTIATE_TEST_SUITE_P(Depths, Bmp,
                         ::testing::Values(BmpCase{"OneBit", 1, false, 0, 2},
                                           BmpCase{"FourBit", 4, false, 0, 16},
                                           BmpCase{"FourBitColoursUsed", 4, false, 5, 5},
                                           BmpCase{"EightBitColoursUsed", 8, false, 16, 16},
                                           BmpCase{"EightBitTopDown", 8, true, 16, 16},
                                           BmpCase{"TwentyFour", 24, false, 0, 0},
                                           BmpCase{"TwentyFourTopDown", 24, true, 0, 0},
                                           BmpCase{"ThirtyTwo", 32, false, 0, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

BmpPlan plain24(int w, int h) {
    BmpPlan s;
    s.width = w;
    s.height = h;
    s.values.assign(static_cast<std::size_t>(w * h), 0x336699);
    return s;
}

TEST(BmpRefused, UnsupportedVariantsAndDamage) {
    BmpPlan rle = plain24(4, 4);
    rle.bits = 8;
    rle.compression = 1;
    rle.palette = {makePixel(1, 2, 3)};
    rle.values.assign(16, 0);
    EXPECT_FALSE(decodeBmp(makeBmp(rle)));

    BmpPlan sixteen = plain24(4, 4);
    sixteen.bits = 16;
    EXPECT_FALSE(decodeBmp(makeBmp(sixteen)));

    auto truncated = makeBmp(plain24(4, 4));
    truncated.resize(truncated.size() - 1);
    EXPECT_FALSE(decodeBmp(truncated));

    auto header = makeBmp(plain24(4, 4));
    header.resize(53);
    EXPECT_FALSE(decodeBmp(header));

    EXPECT_TRUE(decodeBmp(makeBmp(plain24(4, 4))));
}

TEST(BmpRefused, HostileSizesBeforeAllocating) {
    auto huge = makeBmp(plain24(1, 1));
    const std::int32_t w = 40000, h = 40000;
    std::memcpy(huge.data() + 18, &w, 4);
    std::memcpy(huge.data() + 22, &h, 4);
    EXPECT_FALSE(decodeBmp(huge));
    const std::int32_t minHeight = INT32_MIN;
    std::memcpy(huge.data() + 22, &minHeight, 4);
    EXPECT_FALSE(decodeBmp(huge));

    DecodeLimits small;
    small.maxPixels = 15;
    EXPECT_FALSE(decodeBmp(makeBmp(plain24(4, 4)), small));
    EXPECT_TRUE(decodeBmp(makeBmp(plain24(3, 5)), small));
}

}  // namespace
}  // namespace kerbilo
