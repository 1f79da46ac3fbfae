#include <gtest/gtest.h>

#include "picture/decoders.h"
#include "picture/gif.h"
#include "test_images.h"

namespace kerbilo {
namespace {

using testing::GifFramePlan;
using testing::makeGif;
using testing::toBuffer;

const Pixel kRed = makePixel(255, 0, 0);
const Pixel kGreen = makePixel(0, 255, 0);
const Pixel kBlue = makePixel(0, 0, 255);
const Pixel kWhite = makePixel(255, 255, 255);
const Pixel kClear = 0;  // nothing drawn: alpha 0

GifFramePlan fill(int left, int width, std::uint8_t index, int disposal = 0) {
    GifFramePlan f;
    f.left = left;
    f.width = width;
    f.height = 1;
    f.indices.assign(static_cast<std::size_t>(width), index);
    f.disposal = disposal;
    return f;
}

std::vector<Pixel> canvasAfter(const testing::ByteVector& gif, std::size_t frames) {
    auto parsed = GifAnimation::parse(toBuffer(gif));
    if (!parsed) return {};
    GifPlayer player(std::make_shared<const GifAnimation>(std::move(*parsed)));
    player.drawFrames(frames);
    return player.canvas().pixels;
}

// A well-known 10 x 10 sample written by another encoder, so the decoder is not only
// checked against this file's own LZW writer.
TEST(Gif, DecodesForeignSample) {
    const testing::ByteVector sample = {
        0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x0A, 0x00, 0x0A, 0x00, 0x91, 0x00, 0x00, 0xFF,
        0xFF, 0xFF, 0xFF, 0x00, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00, 0x21, 0xF9, 0x04,
        0x00, 0x00, 0x00, 0x00, 0x00, 0x2C, 0x00, 0x00, 0x00, 0x00, 0x0A, 0x00, 0x0A, 0x00,
        0x00, 0x02, 0x16, 0x8C, 0x2D, 0x99, 0x87, 0x2A, 0x1C, 0xDC, 0x33, 0xA0, 0x02, 0x75,
        0xEC, 0x95, 0xFA, 0xA8, 0xDE, 0x60, 0x8C, 0x04, 0x91, 0x4C, 0x01, 0x00, 0x3B};
    const char* rows[10] = {"1111122222", "1111122222", "1111122222", "1110000222", "1110000222",
                            "2220000111", "2220000111", "2222211111", "2222211111", "2222211111"};
    const Pixel colours[3] = {kWhite, kRed, kBlue};
    const auto image = decodeGifStill(sample);
    ASSERT_TRUE(image);
    ASSERT_EQ(image->width, 10);
    ASSERT_EQ(image->height, 10);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 10; ++x)
            ASSERT_EQ(image->at(x, y), colours[rows[y][x] - '0']) << x << "," << y;
}

// Noisy data fills the 4096-entry table many times over, so full tables, deferred
// clears and the code-equals-next case all occur.
TEST(Gif, LargeNoisyImageRoundTrips) {
    std::vector<Pixel> palette;
    for (int i = 0; i < 256; ++i) palette.push_back(makePixel(i, i ^ 0x5A, 255 - i));
    GifFramePlan f;
    f.width = 300;
    f.height = 200;
    std::uint32_t seed = 12345;
    for (int i = 0; i < f.width * f.height; ++i) {
        seed = seed * 1103515245u + 12345u;
        // Mostly runs with bursts of noise.
        f.indices.push_back(static_cast<std::uint8_t>((i / 7) % 3 == 0 ? (seed >> 16) : (i / 50)));
    }
    const auto pixels = canvasAfter(makeGif(300, 200, palette, {f}), 1);
    ASSERT_EQ(pixels.size(), f.indices.size());
    for (std::size_t i = 0; i < pixels.size(); ++i)
        ASSERT_EQ(pixels[i], palette[f.indices[i]]) << i;
}

TEST(Gif, InterlacedRowsArePlaced) {
    GifFramePlan f;
    f.width = 3;
    f.height = 11;
    f.interlaced = true;
    std::vector<Pixel> palette;
    for (int y = 0; y < 11; ++y) {
        palette.push_back(makePixel(y * 20, 0, 0));
        for (int x = 0; x < 3; ++x) f.indices.push_back(static_cast<std::uint8_t>(y));
    }
    const auto pixels = canvasAfter(makeGif(3, 11, palette, {f}), 1);
    ASSERT_EQ(pixels.size(), 33u);
    for (int y = 0; y < 11; ++y)
        EXPECT_EQ(pixels[static_cast<std::size_t>(y * 3 + 1)], makePixel(y * 20, 0, 0)) << y;
}

TEST(Gif, LocalTableTransparencyAndPosition) {
    GifFramePlan first = fill(0, 4, 0);
    GifFramePlan second;
    second.left = 1;
    second.top = 0;
    second.width = 3;
    second.height = 1;
    second.indices = {1, 0, 1};
    second.transparentIndex = 0;
    second.localPalette = {kWhite, kGreen};
    const auto gif = makeGif(4, 1, {kRed, kBlue}, {first, second});
    EXPECT_EQ(canvasAfter(gif, 1), (std::vector<Pixel>{kRed, kRed, kRed, kRed}));
    EXPECT_EQ(canvasAfter(gif, 2), (std::vector<Pixel>{kRed, kGreen, kRed, kGreen}));
}

struct DisposalCase {
    const char* name;
    int disposal;
    std::vector<Pixel> expected;
};
// Names the case in test listings instead of a byte dump.
void PrintTo(const DisposalCase& c, std::ostream* os) {
    *os << c.name;
}

class GifDisposal : public ::testing::TestWithParam<DisposalCase> {};

// A full red frame, then blue over the middle with the method under test, then green at
// the left edge: what the middle shows under the green frame depends on the method.
TEST_P(GifDisposal, UndoesPreviousFrame) {
    const auto gif = makeGif(4, 1, {kRed, kBlue, kGreen},
                             {fill(0, 4, 0), fill(1, 2, 1, GetParam().disposal), fill(0, 1, 2)});
    EXPECT_EQ(canvasAfter(gif, 3), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Methods, GifDisposal,
    ::testing::Values(DisposalCase{"NoneGiven", 0, {kGreen, kBlue, kBlue, kRed}},
                      DisposalCase{"Keep", 1, {kGreen, kBlue, kBlue, kRed}},
                      DisposalCase{"RestoreBackground", 2, {kGreen, kClear, kClear, kRed}},
                      DisposalCase{"RestorePrevious", 3, {kGreen, kRed, kRed, kRed}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Gif, SequenceRestartsOnClearedCanvasAfterLastFrame) {
    const auto gif = makeGif(3, 1, {kRed, kBlue}, {fill(0, 1, 0), fill(1, 2, 1)});
    EXPECT_EQ(canvasAfter(gif, 2), (std::vector<Pixel>{kRed, kBlue, kBlue}));
    EXPECT_EQ(canvasAfter(gif, 3), (std::vector<Pixel>{kRed, kClear, kClear}));
    EXPECT_EQ(canvasAfter(gif, 4), canvasAfter(gif, 2));
}

TEST(Gif, ZeroByteOrUnknownBlockEndsSequence) {
    auto gif = makeGif(2, 1, {kRed, kBlue}, {fill(0, 2, 0), fill(0, 2, 1)}, false);
    const auto third = makeGif(2, 1, {kRed, kBlue}, {fill(0, 1, 1)}, true);
    for (std::uint8_t stop : {0x00, 0x3B, 0x99}) {
        auto bytes = gif;
        bytes.push_back(stop);
        // A valid image after the stop byte is never reached.
        bytes.insert(bytes.end(), third.begin() + 13 + 6, third.end());
        const auto parsed = GifAnimation::parse(toBuffer(bytes));
        ASSERT_TRUE(parsed);
        EXPECT_EQ(parsed->frames().size(), 2u) << int{stop};
    }
}

TEST(Gif, DelaysAndStillDetection) {
    GifFramePlan a = fill(0, 1, 0);
    a.delay = 7;
    const auto parsed = GifAnimation::parse(toBuffer(makeGif(1, 1, {kRed}, {a, fill(0, 1, 0)})));
    ASSERT_TRUE(parsed);
    EXPECT_FALSE(parsed->isStill());
    EXPECT_EQ(GifAnimation::delayMilliseconds(parsed->frames()[0]), 70);
    EXPECT_EQ(GifAnimation::delayMilliseconds(parsed->frames()[1]), 50);
    const auto single = GifAnimation::parse(toBuffer(makeGif(1, 1, {kRed}, {a})));
    ASSERT_TRUE(single);
    EXPECT_TRUE(single->isStill());
}

TEST(GifRefused, TruncationAndHostileSizes) {
    const auto gif = makeGif(2, 2, {kRed, kBlue, kGreen, kWhite}, {[] {
                                 GifFramePlan f;
                                 f.width = 2;
                                 f.height = 2;
                                 f.indices = {0, 1, 2, 3};
                                 return f;
                             }()});
    EXPECT_TRUE(GifAnimation::parse(toBuffer(gif)));
    // Inside the colour table, inside the first image's data, just before its terminator.
    for (std::size_t keep : {std::size_t{13}, std::size_t{20}, gif.size() - 6, gif.size() - 2})
        EXPECT_FALSE(GifAnimation::parse(
            toBuffer({gif.begin(), gif.begin() + static_cast<std::ptrdiff_t>(keep)})))
            << keep;
    auto huge = gif;
    huge[6] = 0x41;  // 40001 wide
    huge[7] = 0x9C;
    EXPECT_FALSE(GifAnimation::parse(toBuffer(huge)));
    DecodeLimits small;
    small.maxPixels = 3;
    EXPECT_FALSE(GifAnimation::parse(toBuffer(gif), small));
}

}  // namespace
}  // namespace kerbilo
