// Every decoder says why it gives no picture, so kerbilo-cli render can tell the user more
// than "could not be decoded".

#include <png.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>

#include "picture/decoders.h"
#include "test_images.h"

namespace kerbilo {
namespace {

using testing::ByteVector;

ByteVector cut(ByteVector bytes, std::size_t keep) {
    bytes.resize(keep);
    return bytes;
}

ByteVector flipped(ByteVector bytes, std::size_t at) {
    bytes[at] ^= 0x55;
    return bytes;
}

struct FailureCase {
    const char* name;
    ByteVector data;
    DecodeFailure expected;
    DecodeLimits limits = {};
};

DecodeLimits tiny() {
    DecodeLimits l;
    l.maxDimension = 2;
    return l;
}

// A JPEG over the limits is decoded at a fraction of its size; over these, no fraction fits.
DecodeLimits none() {
    DecodeLimits l;
    l.maxPixels = 0;
    return l;
}

// A picture nobody waits for any more: PNG and JPEG give up as soon as they look.
DecodeLimits stopped() {
    static const std::atomic<bool> stop{true};
    DecodeLimits l;
    l.stop = &stop;
    return l;
}

std::vector<FailureCase> failureCases() {
    const Image picture = testing::patternImage(8, 8);
    const ByteVector png = testing::makePng(picture, PNG_FORMAT_RGBA);
    const ByteVector jpeg = testing::makeJpeg(picture, testing::JpegKind::Colour);
    testing::BmpPlan bmp;
    bmp.width = bmp.height = 4;
    bmp.values.assign(16, 0x123456);
    testing::BmpPlan sixteen = bmp;
    sixteen.bits = 16;
    testing::BmpPlan rle = bmp;
    rle.bits = 8;
    rle.compression = 1;
    rle.palette = {makePixel(1, 2, 3)};
    rle.values.assign(16, 0);
    testing::GifFramePlan frame;
    frame.width = frame.height = 2;
    frame.indices = {0, 1, 1, 0};
    const ByteVector gif =
        testing::makeGif(2, 2, {makePixel(0, 0, 0), makePixel(9, 9, 9)}, {frame});
    const ByteVector pcx = testing::makePcx256(4, 4, std::vector<std::uint8_t>(16, 1),
                                               {makePixel(1, 1, 1), makePixel(2, 2, 2)});
    const ByteVector icon = testing::makeIcon(
        {{4, 16, testing::makeIconDib(testing::patternImage(4, 4), std::vector<bool>(16, false))}});
    return {
        {"text", {'h', 'e', 'l', 'l', 'o', ' ', 'y', 'o', 'u'}, DecodeFailure::NotRecognised},
        {"png cut in its data", cut(png, png.size() / 2), DecodeFailure::Truncated},
        {"png with a broken CRC", flipped(png, png.size() / 2), DecodeFailure::Corrupt},
        {"png over the limits", png, DecodeFailure::OverLimits, tiny()},
        {"jpeg cut in its header", cut(jpeg, 20), DecodeFailure::Truncated},
        {"jpeg over the limits", jpeg, DecodeFailure::OverLimits, none()},
        {"png nobody waits for", png, DecodeFailure::Stopped, stopped()},
        {"jpeg nobody waits for", jpeg, DecodeFailure::Stopped, stopped()},
        {"bmp header cut", cut(testing::makeBmp(bmp), 53), DecodeFailure::Truncated},
        {"bmp rows cut", cut(testing::makeBmp(bmp), 60), DecodeFailure::Truncated},
        {"bmp 16 bits", testing::makeBmp(sixteen), DecodeFailure::Unsupported},
        {"bmp run-length", testing::makeBmp(rle), DecodeFailure::Unsupported},
        {"bmp over the limits", testing::makeBmp(bmp), DecodeFailure::OverLimits, tiny()},
        {"gif cut in its screen", cut(gif, 12), DecodeFailure::Truncated},
        {"gif cut before its image", cut(gif, 13 + 6), DecodeFailure::Truncated},
        {"gif over the limits", gif, DecodeFailure::OverLimits,
         [] {
             DecodeLimits l;
             l.maxDimension = 1;
             return l;
         }()},
        {"pcx cut", cut(pcx, 100), DecodeFailure::Truncated},
        {"pcx over the limits", pcx, DecodeFailure::OverLimits, tiny()},
        {"icon directory cut", cut(icon, 10), DecodeFailure::Truncated},
        {"icon image cut", cut(icon, icon.size() - 4), DecodeFailure::Truncated},
    };
}

TEST(DecodeFailures, EachDecoderSaysWhy) {
    for (const FailureCase& c : failureCases()) {
        SCOPED_TRACE(c.name);
        const Decoded d = decodePicture(c.data, c.limits);
        EXPECT_FALSE(d);
        EXPECT_EQ(d.failure(), c.expected) << decodeFailureText(d.failure());
    }
}

TEST(DecodeFailures, EveryReasonReadsAsText) {
    for (DecodeFailure f :
         {DecodeFailure::NotRecognised, DecodeFailure::Truncated, DecodeFailure::Unsupported,
          DecodeFailure::OverLimits, DecodeFailure::OutOfMemory, DecodeFailure::Corrupt,
          DecodeFailure::Stopped})
        EXPECT_STRNE(decodeFailureText(f), decodeFailureText(DecodeFailure::None));
}

}  // namespace
}  // namespace kerbilo
