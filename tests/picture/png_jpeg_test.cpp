#include <png.h>

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <iterator>

#include "picture/decoders.h"
#include "test_images.h"

namespace kerbilo {
namespace {

using testing::JpegKind;
using testing::makeJpeg;
using testing::makePng;
using testing::patternImage;

Image withAlpha(int w, int h) {
    Image image = patternImage(w, h, ImageKind::Alpha);
    for (std::size_t i = 0; i < image.pixels.size(); ++i)
        image.pixels[i] =
            (image.pixels[i] & 0xFFFFFF) | (static_cast<Pixel>((i * 41) & 0xFF) << 24);
    return image;
}

struct PngCase {
    const char* name;
    unsigned format;
};
// Names the case in test listings instead of a byte dump.
void PrintTo(const PngCase& c, std::ostream* os) {
    *os << c.name;
}

class Png : public ::testing::TestWithParam<PngCase> {};

// Whatever the stored colour type and depth, the result is straight 8-bit BGRA.
TEST_P(Png, DecodesToStraightAlpha) {
    Image source = withAlpha(7, 5);
    if (GetParam().format == PNG_FORMAT_GRAY)
        for (Pixel& p : source.pixels) p = makePixel(pixelRed(p), pixelRed(p), pixelRed(p));
    const auto image = decodePng(makePng(source, GetParam().format));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->kind, ImageKind::Alpha);
    ASSERT_EQ(image->width, 7);
    ASSERT_EQ(image->height, 5);
    for (std::size_t i = 0; i < source.pixels.size(); ++i) {
        const Pixel want = GetParam().format == PNG_FORMAT_GRAY ? source.pixels[i] | 0xFF000000u
                                                                : source.pixels[i];
        ASSERT_EQ(image->pixels[i], want) << "pixel " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(ColourTypes, Png,
                         ::testing::Values(PngCase{"Rgba8", PNG_FORMAT_RGBA},
                                           PngCase{"Gray8", PNG_FORMAT_GRAY}),
                         [](const auto& info) { return std::string(info.param.name); });

struct Png16Case {
    const char* name;
    int channels;
};
void PrintTo(const Png16Case& c, std::ostream* os) {
    *os << c.name;
}

class Png16 : public ::testing::TestWithParam<Png16Case> {};

// Most 16-bit files carry no gAMA, sRGB or iCCP chunk and mean sRGB samples, as their 8-bit
// counterparts do: a 16-bit value of v * 257 shows as the 8-bit value v, not lighter.
TEST_P(Png16, ShowsLikeTheEightBitFile) {
    const int channels = GetParam().channels;
    const int w = 16, h = 4;
    Image reference = withAlpha(w, h);
    std::vector<std::uint16_t> samples;
    for (Pixel& p : reference.pixels) {
        const int grey = pixelRed(p);
        // Alpha stays high enough that straight colour keeps all its 8 bits.
        const int alpha = channels == 4 ? 128 + (pixelAlpha(p) & 127) : 255;
        p = channels == 1 ? makePixel(grey, grey, grey) : (p & 0xFFFFFF) | (Pixel(alpha) << 24);
        const int values[4] = {pixelRed(p), pixelGreen(p), pixelBlue(p), alpha};
        for (int c = 0; c < channels; ++c)
            samples.push_back(static_cast<std::uint16_t>(values[c] * 257));
    }
    reference.pixels[0] = channels == 4 ? makePixel(128, 128, 128, 255) : makePixel(128, 128, 128);
    for (int c = 0; c < channels; ++c) samples[static_cast<std::size_t>(c)] = 0x8080;
    if (channels == 4) samples[3] = 0xFFFF;

    const auto image = decodePng(testing::makePng16(w, h, channels, samples));
    ASSERT_TRUE(image);
    ASSERT_EQ(image->pixels.size(), reference.pixels.size());
    EXPECT_EQ(image->pixels[0], reference.pixels[0]) << "a grey of 0x8080 is 128";
    for (std::size_t i = 0; i < reference.pixels.size(); ++i) {
        const Pixel got = image->pixels[i], want = reference.pixels[i];
        ASSERT_LE(std::abs(pixelRed(got) - pixelRed(want)), 1) << "pixel " << i;
        ASSERT_LE(std::abs(pixelGreen(got) - pixelGreen(want)), 1) << "pixel " << i;
        ASSERT_LE(std::abs(pixelBlue(got) - pixelBlue(want)), 1) << "pixel " << i;
        ASSERT_EQ(pixelAlpha(got), pixelAlpha(want)) << "pixel " << i;
    }
}

INSTANTIATE_TEST_SUITE_P(ColourTypes, Png16,
                         ::testing::Values(Png16Case{"Grey16", 1}, Png16Case{"Rgb16", 3},
                                           Png16Case{"Rgba16", 4}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PngRefused, TruncatedAndCorrupt) {
    auto bytes = makePng(withAlpha(9, 9), PNG_FORMAT_RGBA);
    auto truncated = bytes;
    truncated.resize(bytes.size() / 2);
    EXPECT_FALSE(decodePng(truncated));
    auto corrupt = bytes;
    corrupt[bytes.size() / 2] ^= 0x55;  // breaks the data chunk's CRC
    EXPECT_FALSE(decodePng(corrupt));
    DecodeLimits small;
    small.maxDimension = 8;
    EXPECT_FALSE(decodePng(bytes, small));
}

// A chunk before the pixels that claims far more than the file holds ends the decode as
// cut short, without libpng first taking what it claims: 83 bytes claiming a text chunk of
// 1.8 GB had the decode touch 1.8 GB. Measured in a child, whose peak is its own.
TEST(PngRefused, HeaderChunkClaimingMoreThanTheFile) {
    auto bytes = makePng(withAlpha(9, 9), PNG_FORMAT_RGBA);
    bytes.resize(8 + 25);  // the signature and IHDR
    const std::uint8_t text[] = {0x6F, 0x72, 0x79, 0x55, 't', 'E', 'X', 't', 'k', 'e', 'y', 0};
    bytes.insert(bytes.end(), std::begin(text), std::end(text));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        struct rusage before {
        }, after{};
        ::getrusage(RUSAGE_SELF, &before);
        const Decoded d = decodePng(bytes);
        ::getrusage(RUSAGE_SELF, &after);
        if (d) ::_exit(3);
        if (d.failure() != DecodeFailure::Truncated) ::_exit(4);
        ::_exit(after.ru_maxrss - before.ru_maxrss < (64 << 10) ? 0 : 5);  // in KiB
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "3 decoded, 4 another reason, 5 over 64 MiB";
}

TEST(Png, EncoderRoundTripsThroughDecoder) {
    const Image source = withAlpha(6, 4);
    const ByteBuffer file = encodePng(source);
    const auto back = decodePng(bytesOf(file));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->pixels, source.pixels);
}

Image smoothImage(int w, int h) {
    // JPEG keeps smooth gradients within a few levels, so the tolerance can stay tight.
    Image image;
    image.width = w;
    image.height = h;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) image.pixels.push_back(makePixel(x * 8, y * 8, 128));
    return image;
}

int maxDifference(const Image& a, const Image& b) {
    int worst = 0;
    for (std::size_t i = 0; i < a.pixels.size(); ++i) {
        worst = std::max(worst, std::abs(pixelRed(a.pixels[i]) - pixelRed(b.pixels[i])));
        worst = std::max(worst, std::abs(pixelGreen(a.pixels[i]) - pixelGreen(b.pixels[i])));
        worst = std::max(worst, std::abs(pixelBlue(a.pixels[i]) - pixelBlue(b.pixels[i])));
    }
    return worst;
}

struct JpegCase {
    const char* name;
    JpegKind kind;
};
// Names the case in test listings instead of a byte dump.
void PrintTo(const JpegCase& c, std::ostream* os) {
    *os << c.name;
}

class Jpeg : public ::testing::TestWithParam<JpegCase> {};

TEST_P(Jpeg, DecodesCloseToSource) {
    Image source = smoothImage(32, 24);
    if (GetParam().kind == JpegKind::Gray)
        for (Pixel& p : source.pixels) p = makePixel(pixelRed(p), pixelRed(p), pixelRed(p));
    const auto image = decodeJpeg(makeJpeg(source, GetParam().kind));
    ASSERT_TRUE(image);
    EXPECT_EQ(image->kind, ImageKind::Colour);
    ASSERT_EQ(image->width, 32);
    ASSERT_EQ(image->height, 24);
    EXPECT_LE(maxDifference(*image, source), 12);
    for (Pixel p : image->pixels) ASSERT_EQ(pixelAlpha(p), 255);
}

INSTANTIATE_TEST_SUITE_P(Variants, Jpeg,
                         ::testing::Values(JpegCase{"Colour", JpegKind::Colour},
                                           JpegCase{"Gray", JpegKind::Gray},
                                           JpegCase{"Cmyk", JpegKind::Cmyk},
                                           JpegCase{"Progressive", JpegKind::Progressive}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(JpegRefused, DamagedHeadersAndLimits) {
    const auto bytes = makeJpeg(smoothImage(16, 16), JpegKind::Colour);
    EXPECT_FALSE(decodeJpeg(testing::ByteVector(bytes.begin(), bytes.begin() + 20)));
    EXPECT_FALSE(decodeJpeg(testing::ByteVector{0xFF, 0xD8, 0xFF, 0xD9, 0, 0, 0, 0}));
    // Even at an eighth of its size, 2x2, the picture is over these limits.
    DecodeLimits small;
    small.maxPixels = 3;
    EXPECT_FALSE(decodeJpeg(bytes, small));
}

struct ScaledCase {
    const char* name;
    DecodeLimits limits;
    int width, height;  // 0: refused
};
void PrintTo(const ScaledCase& c, std::ostream* os) {
    *os << c.name;
}

DecodeLimits pixelLimit(std::int64_t pixels, int dimension = 32768) {
    DecodeLimits limits;
    limits.maxPixels = pixels;
    limits.maxDimension = dimension;
    return limits;
}

class JpegOverLimits : public ::testing::TestWithParam<ScaledCase> {};

// A 64x48 photograph under shrinking limits: the largest of 1/1, 1/2, 1/4 and 1/8 that
// fits, looking like the picture, not like a crop of it.
TEST_P(JpegOverLimits, DecodesAtTheLargestScaleWithin) {
    Image source;
    source.width = 64;
    source.height = 48;
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x) source.pixels.push_back(makePixel(x * 4, y * 4, 128));
    const auto image = decodeJpeg(makeJpeg(source, JpegKind::Colour), GetParam().limits);
    if (GetParam().width == 0) {
        ASSERT_FALSE(image);
        EXPECT_EQ(image.failure(), DecodeFailure::OverLimits);
        return;
    }
    ASSERT_TRUE(image);
    ASSERT_EQ(image->width, GetParam().width);
    ASSERT_EQ(image->height, GetParam().height);
    const int step = 64 / image->width;
    for (int y = 0; y < image->height; ++y)
        for (int x = 0; x < image->width; ++x) {
            // The mean of the block the scaled pixel stands for.
            const Pixel centre = source.at(x * step + step / 2, y * step + step / 2);
            const int wantRed = std::max(0, pixelRed(centre) - (step > 1 ? 2 : 0));
            ASSERT_LE(std::abs(pixelRed(image->at(x, y)) - wantRed), 12) << x << "," << y;
            ASSERT_LE(std::abs(pixelBlue(image->at(x, y)) - 128), 12) << x << "," << y;
        }
}

INSTANTIATE_TEST_SUITE_P(
    Limits, JpegOverLimits,
    ::testing::Values(ScaledCase{"Within", pixelLimit(64 * 48), 64, 48},
                      ScaledCase{"Half", pixelLimit(64 * 48 - 1), 32, 24},
                      ScaledCase{"Quarter", pixelLimit(32 * 24 - 1), 16, 12},
                      ScaledCase{"Eighth", pixelLimit(16 * 12 - 1), 8, 6},
                      ScaledCase{"TooLargeEvenAtAnEighth", pixelLimit(8 * 6 - 1), 0, 0},
                      ScaledCase{"WidthOverMaxDimension", pixelLimit(1 << 20, 63), 32, 24}),
    [](const auto& info) { return std::string(info.param.name); });

// The default limits: a 9000x8000 photograph (72 megapixels, over the 64 Mi limit) is
// decoded at half its size. A small file whose frame header claims that size will do: the
// missing scan data decodes as grey.
TEST(JpegOverLimits, SeventyTwoMegapixelsShowAtHalfSize) {
    auto bytes = makeJpeg(smoothImage(16, 16), JpegKind::Colour);
    bool patched = false;
    for (std::size_t i = 0; i + 9 < bytes.size() && !patched; ++i)
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xC0) {
            bytes[i + 5] = 8000 >> 8;
            bytes[i + 6] = 8000 & 0xFF;
            bytes[i + 7] = 9000 >> 8;
            bytes[i + 8] = 9000 & 0xFF;
            patched = true;
        }
    ASSERT_TRUE(patched);
    const auto image = decodeJpeg(bytes);
    ASSERT_TRUE(image) << decodeFailureText(image.failure());
    EXPECT_EQ(image->width, 4500);
    EXPECT_EQ(image->height, 4000);
}

}  // namespace
}  // namespace kerbilo
