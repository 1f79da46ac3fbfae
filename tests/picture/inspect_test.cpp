#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>

#include "picture/decoders.h"
#include "picture/inspect.h"
#include "picture/walk.h"
#include "test_images.h"

namespace kerbilo {
namespace {

using testing::ByteVector;

// Pictures written by real tools (scripts/make_inspect_fixtures.sh); the numbers are
// what ImageMagick's identify reports for them.
struct Fixture {
    const char* file;
    PictureFormat format;
    int width;
    int height;
    int frames;
    int bitsPerPixel;
    bool decodes = true;
};
void PrintTo(const Fixture& f, std::ostream* os) {
    *os << f.file;
}

const Fixture kFixtures[] = {
    {"rose_anim.gif", PictureFormat::Gif, 70, 46, 3, 5},
    {"rose_exif.jpg", PictureFormat::Jpeg, 140, 92, 1, 24},
    {"rose_progressive.jpg", PictureFormat::Jpeg, 70, 46, 1, 24},
    {"rose_restart.jpg", PictureFormat::Jpeg, 70, 46, 1, 24},
    {"rose_text.png", PictureFormat::Png, 70, 46, 1, 24},
    {"rose_idat.png", PictureFormat::Png, 70, 46, 1, 24},
    {"rose_16.png", PictureFormat::Png, 35, 23, 1, 48},
    {"rose_palette.png", PictureFormat::Png, 70, 46, 1, 8},
    {"rose.bmp", PictureFormat::Bmp, 35, 23, 1, 24},
    {"rose_rle.bmp", PictureFormat::Bmp, 35, 23, 1, 8, false},  // the pane has no RLE
    {"rose_v5.bmp", PictureFormat::Bmp, 35, 23, 1, 24},
    // Icons report the entry the pane shows (here the last, 16 x 16 at 32 bits) and
    // count every entry as a frame.
    {"rose.ico", PictureFormat::Ico, 256, 256, 3, 8},  // its largest image, a PNG
    {"rose.cur", PictureFormat::Cur, 32, 32, 2, 32},
};

ByteVector readFixture(const std::string& name) {
    const char* root = std::getenv("KERBILO_TEST_DATA");
    if (!root) return {};
    std::ifstream in(std::filesystem::path(root) / "inspect" / name, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

ByteVector randomBytes(std::size_t n, std::uint32_t seed) {
    std::mt19937 random(seed);
    ByteVector out(n);
    for (auto& b : out) b = static_cast<std::uint8_t>(random());
    return out;
}

// A file holding the picture between random bytes, as the scanner meets it.
struct Embedded {
    ByteVector file;
    std::size_t start = 0;

    Embedded(const ByteVector& picture, std::size_t before, std::size_t after) {
        file = randomBytes(before, 7);
        file.insert(file.end(), picture.begin(), picture.end());
        const ByteVector tail = randomBytes(after, 11);
        file.insert(file.end(), tail.begin(), tail.end());
        start = before;
    }
    Bytes fromStart() const { return Bytes(file).subspan(start); }
    Inspection inspect(std::int64_t length) const {
        return inspectResource(fromStart(), length,
                               fromStart().first(static_cast<std::size_t>(length)));
    }
};

std::int64_t sizeOf(const ByteVector& bytes) {
    return static_cast<std::int64_t>(bytes.size());
}

// Offset of the first `pattern` in bytes at or after `from`, or -1.
std::int64_t findBytes(const ByteVector& bytes, std::initializer_list<std::uint8_t> pattern,
                       std::size_t from = 0) {
    const auto it = std::search(bytes.begin() + static_cast<std::ptrdiff_t>(from), bytes.end(),
                                pattern.begin(), pattern.end());
    return it == bytes.end() ? -1 : static_cast<std::int64_t>(it - bytes.begin());
}

class InspectFixture : public ::testing::TestWithParam<Fixture> {
  protected:
    void SetUp() override {
        picture = readFixture(GetParam().file);
        ASSERT_FALSE(picture.empty()) << "KERBILO_TEST_DATA not set or fixture missing";
    }
    ByteVector picture;
};

TEST_P(InspectFixture, WholeResourceIsCompleteAndDescribed) {
    const Fixture& f = GetParam();
    const Embedded embedded(picture, 300, 300);
    const Inspection r = embedded.inspect(sizeOf(picture));
    EXPECT_EQ(r.verdict, Verdict::Complete) << reasonWords(r.reason);
    EXPECT_EQ(r.extent, sizeOf(picture));
    EXPECT_EQ(r.format, f.format);
    EXPECT_EQ(r.width, f.width);
    EXPECT_EQ(r.height, f.height);
    EXPECT_EQ(r.frames, f.frames);
    EXPECT_EQ(r.bitsPerPixel, f.bitsPerPixel);
    EXPECT_EQ(r.decodes, f.decodes);
    EXPECT_EQ(formatExtent(embedded.fromStart()), sizeOf(picture));
}

TEST_P(InspectFixture, ResourceEndingEarlyOrLateIsTold) {
    const Embedded embedded(picture, 300, 300);
    const Inspection longer = embedded.inspect(sizeOf(picture) + 100);
    EXPECT_EQ(longer.verdict, Verdict::TrailingBytes);
    EXPECT_EQ(longer.extent, sizeOf(picture));
    const Inspection shorter = embedded.inspect(sizeOf(picture) / 2);
    EXPECT_EQ(shorter.verdict, Verdict::CutShort);
    EXPECT_EQ(shorter.extent, sizeOf(picture));
}

// The resource runs to the end of a truncated file: no end can be found anywhere.
TEST_P(InspectFixture, FileEndingInsideThePictureIsDamaged) {
    const ByteVector half(picture.begin(), picture.begin() + sizeOf(picture) / 2);
    const Embedded embedded(half, 300, 0);
    const Inspection r = embedded.inspect(sizeOf(half));
    EXPECT_EQ(r.verdict, Verdict::Damaged);
    EXPECT_FALSE(r.extent);
    EXPECT_FALSE(formatExtent(embedded.fromStart()));
}

// Each prefix sits at the very end of its own allocation, so a read past it is a heap
// overflow under the address sanitizer; and no strict prefix may pass for the picture.
TEST_P(InspectFixture, NoPrefixIsReadPastOrClosed) {
    const PictureFormat format = GetParam().format;
    ByteVector buffer(picture.size());
    for (std::size_t n = 0; n < picture.size(); ++n) {
        std::uint8_t* begin = buffer.data() + buffer.size() - n;
        std::memcpy(begin, picture.data(), n);
        const Bytes prefix(begin, n);
        const PictureWalk walk = walkPicture(format, prefix);
        // A GIF may stop after any whole block: it is then one without its trailer.
        if (walk.end == WalkEnd::Ended && walk.reason == Reason::NoTrailer) {
            ASSERT_EQ(format, PictureFormat::Gif);
            ASSERT_EQ(walk.extent, static_cast<std::int64_t>(n));
            continue;
        }
        ASSERT_NE(walk.end, WalkEnd::Ended) << "prefix of " << n << " bytes";
        ASSERT_LE(walk.extent, sizeOf(picture));
    }
}

INSTANTIATE_TEST_SUITE_P(RealPictures, InspectFixture, ::testing::ValuesIn(kFixtures),
                         [](const auto& info) {
                             std::string name = info.param.file;
                             std::replace(name.begin(), name.end(), '.', '_');
                             return name;
                         });

// The cuts a tail-signature scan makes on real files: the first 00 3B (a GIF's trailer)
// and the first FF D9 (a JPEG's EOI) lie inside the picture.
TEST(InspectInnerTail, CutAtTheFirstTailIsCutShort) {
    struct Case {
        const char* file;
        std::initializer_list<std::uint8_t> tail;
    };
    for (const Case& c :
         {Case{"rose_anim.gif", {0x00, 0x3B}}, Case{"rose_exif.jpg", {0xFF, 0xD9}}}) {
        SCOPED_TRACE(c.file);
        const ByteVector picture = readFixture(c.file);
        ASSERT_FALSE(picture.empty());
        const std::int64_t tail = findBytes(picture, c.tail);
        ASSERT_GT(tail, 0);
        ASSERT_LT(tail + 2, sizeOf(picture)) << "the fixture lost its inner tail";
        const Embedded embedded(picture, 500, 500);
        const Inspection r = embedded.inspect(tail + 2);
        EXPECT_EQ(r.verdict, Verdict::CutShort);
        EXPECT_EQ(r.extent, sizeOf(picture));
    }
}

TEST(InspectInnerTail, ThumbnailLiesInsideTheExifSegment) {
    const ByteVector jpeg = readFixture("rose_exif.jpg");
    ASSERT_EQ(findBytes(jpeg, {0xFF, 0xE1}), 2 + 18) << "APP1 after the JFIF APP0";
    const std::int64_t app1 = findBytes(jpeg, {0xFF, 0xE1});
    const std::int64_t app1End = app1 + 2 + (jpeg[app1 + 2] << 8 | jpeg[app1 + 3]);
    const std::int64_t thumbnail = findBytes(jpeg, {0xFF, 0xD8, 0xFF}, 2);
    EXPECT_GT(thumbnail, app1);
    EXPECT_LT(findBytes(jpeg, {0xFF, 0xD9}), app1End);
    // The thumbnail walks on its own too, so the outer walk really skipped a picture.
    const auto inner = formatExtent(Bytes(jpeg).subspan(static_cast<std::size_t>(thumbnail)));
    ASSERT_TRUE(inner);
    EXPECT_EQ(thumbnail + *inner, findBytes(jpeg, {0xFF, 0xD9}) + 2);
}

// One change that breaks the structure, and what the walk must say about it.
struct Damage {
    const char* name;
    const char* file;
    void (*apply)(ByteVector&);
    const char* problem;      // what the walk must blame
    std::size_t after = 200;  // random bytes after the picture
};
void PrintTo(const Damage& d, std::ostream* os) {
    *os << d.name;
}

void flipIdatByte(ByteVector& png) {
    png[static_cast<std::size_t>(findBytes(png, {'I', 'D', 'A', 'T'})) + 100] ^= 0x40;
}
void shortenQuantTable(ByteVector& jpeg) {
    // One byte short, the next segment starts inside the table's last value.
    --jpeg[static_cast<std::size_t>(findBytes(jpeg, {0xFF, 0xDB})) + 3];
}
void lengthenQuantTable(ByteVector& jpeg) {
    jpeg[static_cast<std::size_t>(findBytes(jpeg, {0xFF, 0xDB})) + 3] += 9;
}
void unknownGifBlock(ByteVector& gif) {
    gif[109] = 0x99;  // the first extension's introducer, after the 32-colour table
}
void wideGifCodes(ByteVector& gif) {
    gif[146] = 9;  // the first image's LZW minimum code size, after its descriptor
}
void overlongGifSubBlock(ByteVector& gif) {
    // The last image's terminator becomes a sub-block longer than what is left of the
    // file, which ends right after the picture.
    gif[gif.size() - 2] = 0x20;
}
void pixelsOverHeaders(ByteVector& bmp) {
    bmp[10] = 20;
}
void iconEntryOverDirectory(ByteVector& ico) {
    ico[6 + 12] = 10;
}
void iconEntryNotAnImage(ByteVector& ico) {
    ico[54 + 1] ^= 0xFF;  // the PNG entry's signature
}

class InspectDamage : public ::testing::TestWithParam<Damage> {};

TEST_P(InspectDamage, IsDamagedWithAReason) {
    ByteVector picture = readFixture(GetParam().file);
    ASSERT_FALSE(picture.empty());
    GetParam().apply(picture);
    const Embedded embedded(picture, 200, GetParam().after);
    const Inspection r = embedded.inspect(sizeOf(picture));
    EXPECT_EQ(r.verdict, Verdict::Damaged);
    EXPECT_FALSE(r.extent);
    EXPECT_EQ(describeReason(r.reason, r.reasonItem), GetParam().problem);
    EXPECT_FALSE(formatExtent(embedded.fromStart()));
}

INSTANTIATE_TEST_SUITE_P(
    Changes, InspectDamage,
    ::testing::Values(
        Damage{"PngCrc", "rose_idat.png", flipIdatByte, "chunk CRC does not match"},
        Damage{"JpegSegmentTooShort", "rose_restart.jpg", shortenQuantTable, "expected a marker"},
        Damage{"JpegSegmentTooLong", "rose_progressive.jpg", lengthenQuantTable,
               "expected a marker"},
        Damage{"GifUnknownBlock", "rose_anim.gif", unknownGifBlock, "unknown block"},
        Damage{"GifCodeSize", "rose_anim.gif", wideGifCodes, "frame 1: LZW code size out of range"},
        Damage{"GifSubBlockRunsOff", "rose_anim.gif", overlongGifSubBlock,
               "the data ends inside the picture", 0},
        Damage{"BmpPixelsOverHeaders", "rose.bmp", pixelsOverHeaders,
               "pixel data overlaps the headers"},
        Damage{"IconEntryOverDirectory", "rose.ico", iconEntryOverDirectory,
               "entry 1 overlaps the directory"},
        Damage{"IconEntryNotAnImage", "rose.ico", iconEntryNotAnImage,
               "entry 1 holds neither a PNG nor a bitmap"}),
    [](const auto& info) { return std::string(info.param.name); });

// The file ends ten bytes before the picture would and the resource ends mid-picture: no
// whole picture goes on past it, so it is not cut short but damaged; its header is sound.
TEST(InspectRunOut, PastTheFileEndIsDamagedWithItsSize) {
    const ByteVector png = readFixture("rose_text.png");
    const ByteVector truncated(png.begin(), png.end() - 10);
    const Embedded embedded(truncated, 100, 0);
    const Inspection r = embedded.inspect(1000);
    EXPECT_EQ(r.verdict, Verdict::Damaged);
    EXPECT_EQ(r.reason, Reason::FileEndsInside);
    EXPECT_FALSE(r.extent);
    EXPECT_EQ(r.width, 70);
}

TEST(InspectOther, NotAPictureAndPcx) {
    const ByteVector noise = randomBytes(4000, 3);
    const Inspection none = inspectResource(noise, 2000, Bytes(noise).first(2000));
    EXPECT_EQ(none.verdict, Verdict::NotAPicture);
    EXPECT_EQ(none.format, PictureFormat::None);
    EXPECT_FALSE(none.extent);
    EXPECT_FALSE(formatExtent(noise));

    std::vector<std::uint8_t> indices(12 * 5);
    for (std::size_t i = 0; i < indices.size(); ++i) indices[i] = static_cast<std::uint8_t>(i);
    const ByteVector pcx =
        testing::makePcx256(12, 5, indices, {makePixel(1, 2, 3), makePixel(200, 100, 50)});
    const Inspection r = inspectResource(pcx, sizeOf(pcx), pcx);
    EXPECT_EQ(r.verdict, Verdict::Unchecked);
    EXPECT_TRUE(r.decodes);
    EXPECT_EQ(r.width, 12);
    EXPECT_EQ(r.height, 5);
    EXPECT_EQ(r.bitsPerPixel, 8);
    EXPECT_FALSE(formatExtent(pcx));
}

// The file-size field widens the extent only when it is plausible.
TEST(WalkBmp, FileSizeFieldRule) {
    const ByteVector bmp = readFixture("rose.bmp");
    ASSERT_FALSE(bmp.empty());
    const std::uint32_t required = static_cast<std::uint32_t>(bmp.size());
    struct Case {
        std::uint32_t field;
        std::size_t after;  // bytes that follow the pixels
        std::int64_t extent;
    };
    for (const Case& c :
         {Case{required, 0, required}, Case{required + 6, 6, required + 6},
          Case{required + 6, 5, required}, Case{100, 50, required}, Case{0, 0, required}}) {
        SCOPED_TRACE(c.field);
        ByteVector file = bmp;
        std::memcpy(file.data() + 2, &c.field, 4);
        file.resize(file.size() + c.after, 0xEE);
        const PictureWalk walk = walkBmp(file);
        ASSERT_EQ(walk.end, WalkEnd::Ended) << reasonWords(walk.reason);
        EXPECT_EQ(walk.extent, c.extent);
    }
}

// A V5 header may place a colour profile after the pixels; the picture ends after it
// even when the file-size field forgot it.
TEST(WalkBmp, EmbeddedProfileAfterPixels) {
    ByteVector bmp = readFixture("rose_v5.bmp");
    ASSERT_FALSE(bmp.empty());
    const std::uint32_t pixelsEnd = static_cast<std::uint32_t>(bmp.size());
    const std::uint32_t fields[3] = {0x4D424544, pixelsEnd - 14 + 8, 500};  // 'MBED', offset, size
    std::memcpy(bmp.data() + 14 + 56, &fields[0], 4);
    std::memcpy(bmp.data() + 14 + 112, &fields[1], 8);
    bmp.resize(pixelsEnd + 8 + 500 + 40, 0x5A);
    const PictureWalk walk = walkBmp(bmp);
    ASSERT_EQ(walk.end, WalkEnd::Ended) << reasonWords(walk.reason);
    EXPECT_EQ(walk.extent, pixelsEnd + 8 + 500);
    EXPECT_EQ(walkBmp(Bytes(bmp).first(pixelsEnd + 300)).end, WalkEnd::RanOut);
}

// Sizes near the top of their fields must not wrap around into small extents.
TEST(WalkHostileSizes, HugeDeclaredSizesNeitherWrapNorEnd) {
    auto put32At = [](ByteVector& v, std::size_t at, std::uint32_t value) {
        std::memcpy(v.data() + at, &value, 4);
    };
    const ByteVector bmp = readFixture("rose.bmp");
    ByteVector wide = bmp;
    put32At(wide, 18, 0x7FFFFFFF);  // width
    put32At(wide, 22, 0x7FFFFFFF);  // height
    wide[28] = 32;
    EXPECT_EQ(walkBmp(wide).end, WalkEnd::RanOut);
    ByteVector tall = bmp;
    put32At(tall, 22, 0x80000001);  // top-down, 2^31 - 1 rows
    EXPECT_EQ(walkBmp(tall).end, WalkEnd::RanOut);

    const ByteVector ico = readFixture("rose.ico");
    ByteVector far = ico;
    put32At(far, 6 + 8, 0xFFFFFFFF);
    put32At(far, 6 + 12, 0xFFFFFFF0);
    EXPECT_EQ(walkIcon(far).end, WalkEnd::Broken);
    EXPECT_EQ(walkIcon(far).reason, Reason::EntryPastFile);

    const ByteVector png = readFixture("rose_text.png");
    const std::size_t idat = static_cast<std::size_t>(findBytes(png, {'I', 'D', 'A', 'T'})) - 4;
    for (auto [length, end] :
         {std::pair{0x7FFFFFFFu, WalkEnd::RanOut}, std::pair{0x80000000u, WalkEnd::Broken},
          std::pair{0xFFFFFFFFu, WalkEnd::Broken}}) {
        ByteVector bad = png;
        const std::uint8_t be[4] = {
            static_cast<std::uint8_t>(length >> 24), static_cast<std::uint8_t>(length >> 16),
            static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length)};
        std::memcpy(bad.data() + idat, be, 4);
        EXPECT_EQ(walkPng(bad).end, end) << length;
    }
}

// Written by this project's own writers rather than ImageMagick: the GIF's frames are
// counted at every image descriptor (one with its own colour table, one without a
// control extension), and an APNG's frame count comes from acTL.
TEST(WalkFrames, GifAndApngCounts) {
    std::vector<testing::GifFramePlan> frames(4);
    for (auto& f : frames) {
        f.width = 3;
        f.height = 2;
        f.indices.assign(6, 1);
    }
    for (int i = 0; i < 256; ++i) frames[1].localPalette.push_back(makePixel(i, 255 - i, i * 7));
    frames[2].controlExtension = false;
    const ByteVector gif = testing::makeGif(3, 2, {makePixel(0, 0, 0), makePixel(9, 9, 9)}, frames);
    EXPECT_EQ(walkGif(gif).frames, 4);
    EXPECT_EQ(walkGif(gif).extent, sizeOf(gif));

    ByteVector png = testing::makePng(testing::patternImage(4, 3), 0);
    // acTL after IHDR: length 8, two frames, endless play; CRC of type and data.
    const std::uint8_t actl[20] = {0, 0, 0, 8, 'a', 'c', 'T',  'L',  0,    0,
                                   0, 2, 0, 0, 0,   0,   0xF3, 0x8D, 0x93, 0x70};
    png.insert(png.begin() + 33, actl, actl + 20);
    const PictureWalk walk = walkPng(png);
    EXPECT_EQ(walk.end, WalkEnd::Ended) << reasonWords(walk.reason);
    EXPECT_EQ(walk.frames, 2);
}

}  // namespace
}  // namespace kerbilo
