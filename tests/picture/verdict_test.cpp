// Verdict and reason for pictures of every kind of soundness, each made here at test time:
// whole ones, ones whose structure walks but whose pixel data does not decode, icons with
// an impossible entry, junk that merely starts like a picture, a GIF without its trailer.

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <string_view>

#include "picture/decoders.h"
#include "picture/inspect.h"
#include "test_images.h"

namespace kerbilo {
namespace {

using testing::ByteVector;

ByteVector icon32Dib() {
    const Image colour = testing::patternImage(32, 32);
    return testing::makeIconDib(colour, std::vector<bool>(32 * 32, false));
}

ByteVector pattern(int width, int height) {
    return testing::makePng(testing::patternImage(width, height), 3 /* PNG_FORMAT_RGBA */);
}

// Where `text` first occurs; the bytes compare unsigned.
std::size_t find(const ByteVector& bytes, std::string_view text) {
    const auto at =
        std::search(bytes.begin(), bytes.end(), text.begin(), text.end(),
                    [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); });
    EXPECT_NE(at, bytes.end()) << text;
    return static_cast<std::size_t>(at - bytes.begin());
}

void put32be(ByteVector& bytes, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + static_cast<std::size_t>(i)] = v >> (24 - 8 * i) & 0xFF;
}
void put32le(ByteVector& bytes, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes[at + static_cast<std::size_t>(i)] = v >> (8 * i) & 0xFF;
}

// The chunk whose type starts at typeAt gets the CRC its bytes now need, as a tool that
// rewrites chunks would give it: the damage is then in the data alone.
void fixCrc(ByteVector& png, std::size_t typeAt) {
    std::uint32_t length = 0;
    for (int i = 0; i < 4; ++i)
        length = length << 8 | png[typeAt - 4 + static_cast<std::size_t>(i)];
    const auto crc = crc32(0L, png.data() + typeAt, length + 4);
    put32be(png, typeAt + 4 + length, static_cast<std::uint32_t>(crc));
}

ByteVector pngWithDamagedIdat() {
    ByteVector png = pattern(64, 64);
    const std::size_t idat = find(png, "IDAT");
    for (std::size_t i = idat + 40; i < idat + 60; ++i) png[i] ^= 0x5A;
    fixCrc(png, idat);
    return png;
}

// The zlib stream's single IDAT split in two, the second holding its last `last` bytes, and
// the byte `flip` places from the stream's end (0: none) changed: a trailer may straddle
// chunks, and the Adler-32 sum in it is all that tells a changed row byte.
ByteVector pngWithIdatSplit(std::size_t last, std::size_t flip) {
    ByteVector png = pattern(64, 64);
    const std::size_t idat = find(png, "IDAT");
    std::uint32_t length = 0;
    for (int i = 0; i < 4; ++i) length = length << 8 | png[idat - 4 + static_cast<std::size_t>(i)];
    if (flip > 0) png[idat + 4 + length - flip] ^= 0x01;
    const ByteVector data(png.begin() + static_cast<std::ptrdiff_t>(idat + 4),
                          png.begin() + static_cast<std::ptrdiff_t>(idat + 4 + length));
    ByteVector out(png.begin(), png.begin() + static_cast<std::ptrdiff_t>(idat - 4));
    for (const auto& [from, to] : {std::pair{std::size_t{0}, data.size() - last},
                                   std::pair{data.size() - last, data.size()}}) {
        const std::size_t at = out.size();
        out.resize(at + 12 + (to - from));
        put32be(out, at, static_cast<std::uint32_t>(to - from));
        std::memcpy(out.data() + at + 4, "IDAT", 4);
        std::copy(data.begin() + static_cast<std::ptrdiff_t>(from),
                  data.begin() + static_cast<std::ptrdiff_t>(to), out.begin() + at + 8);
        fixCrc(out, at + 4);
    }
    out.insert(out.end(), png.begin() + static_cast<std::ptrdiff_t>(idat + 8 + length), png.end());
    return out;
}

// The header promises twice the rows the zlib stream holds.
ByteVector pngWithTooFewRows() {
    ByteVector png = pattern(64, 32);
    const std::size_t ihdr = find(png, "IHDR");
    put32be(png, ihdr + 8, 64);
    fixCrc(png, ihdr);
    return png;
}

ByteVector iconOfTwo(ByteVector first, ByteVector second, int firstWidth = 0) {
    return testing::makeIcon({{firstWidth, 0, std::move(first)}, {32, 0, std::move(second)}});
}

// An entry's offset is the fourth field of its 16 bytes, after the 6-byte header.
std::size_t entryOffsetAt(int entry) {
    return 6 + 16 * static_cast<std::size_t>(entry) + 12;
}

ByteVector iconEntryPastTheFile() {
    ByteVector ico = iconOfTwo(pattern(48, 48), icon32Dib(), 48);
    put32le(ico, entryOffsetAt(1), 0x00020000);
    return ico;
}

// A dword somewhere else taken for the image: a header size of 40 and then nonsense, as
// in icons whose entries point 100 KB too far.
ByteVector iconEntryWithWrongSizes() {
    ByteVector ico = iconOfTwo(pattern(48, 48), icon32Dib(), 48);
    const std::size_t dib = ico.size() - icon32Dib().size();
    put32le(ico, dib + 4, 1012924416);
    put32le(ico, dib + 8, 110);
    return ico;
}

ByteVector iconEntryWithBitCount(int bits) {
    ByteVector ico = iconOfTwo(pattern(48, 48), icon32Dib(), 48);
    const std::size_t dib = ico.size() - icon32Dib().size();
    ico[dib + 14] = static_cast<std::uint8_t>(bits);
    return ico;
}

ByteVector iconEntryShort() {
    ByteVector ico = iconOfTwo(pattern(48, 48), icon32Dib(), 48);
    // The entry's size no longer covers its mask rows.
    put32le(ico, 6 + 16 + 8, static_cast<std::uint32_t>(icon32Dib().size() - 200));
    ico.resize(ico.size() - 200);
    return ico;
}

ByteVector gifOf(int width, int height, std::size_t pixels, bool trailer = true) {
    testing::GifFramePlan frame;
    frame.width = width;
    frame.height = height;
    frame.indices.assign(pixels, 1);
    frame.controlExtension = false;
    return testing::makeGif(width, height, {makePixel(0, 0, 0), makePixel(255, 0, 0)}, {frame},
                            trailer);
}

// The 12 bytes a font file holds by chance: the JPEG start, a marker, a length of 65487.
ByteVector jpegLikeRun() {
    return {0xFF, 0xD8, 0xFF, 0xDF, 0xFF, 0xCF, 0x12, 0x34, 0x56, 0x78, 0xFF, 0xD9};
}

// Half the entropy-coded data gone, the end marker kept: libjpeg meets the marker early.
ByteVector jpegMissingData() {
    ByteVector jpeg = testing::makeJpeg(testing::patternImage(64, 64), testing::JpegKind::Colour);
    const std::size_t scan = find(jpeg, "\xFF\xDA");
    const std::size_t data = scan + 2 + (jpeg[scan + 2] << 8 | jpeg[scan + 3]);
    const std::size_t end = jpeg.size() - 2;
    jpeg.erase(jpeg.begin() + static_cast<std::ptrdiff_t>(data + (end - data) / 2),
               jpeg.begin() + static_cast<std::ptrdiff_t>(end));
    return jpeg;
}

// A few hundred bytes whose frame header claims 60000 x 60000: far too little data for
// that many blocks, whatever their coding; found without decoding a block.
ByteVector jpegClaimingTooMuch(testing::JpegKind kind) {
    ByteVector jpeg = testing::makeJpeg(testing::patternImage(16, 16), kind);
    for (std::size_t at = 2; at + 9 < jpeg.size(); ++at) {
        if (jpeg[at] == 0xFF && (jpeg[at + 1] == 0xC0 || jpeg[at + 1] == 0xC2)) {
            for (const std::size_t field : {at + 5, at + 7}) {
                jpeg[field] = 60000 >> 8;
                jpeg[field + 1] = 60000 & 0xFF;
            }
            break;
        }
    }
    return jpeg;
}

struct Case {
    const char* name;
    std::function<ByteVector()> make;
    Verdict verdict;
    const char* reason;  // describeReason's words
    int width;           // 0: none given
    int height;
    int frames;
    std::size_t after = 64;  // bytes of other data after the picture in the file
};
void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

const Case kCases[] = {
    {"WholePng", [] { return pattern(40, 30); }, Verdict::Complete, "", 40, 30, 1},
    {"WholeJpeg",
     [] { return testing::makeJpeg(testing::patternImage(40, 30), testing::JpegKind::Colour); },
     Verdict::Complete, "", 40, 30, 1},
    {"ProgressiveJpeg",
     [] {
         return testing::makeJpeg(testing::patternImage(40, 30), testing::JpegKind::Progressive);
     },
     Verdict::Complete, "", 40, 30, 1},
    {"WholeGif", [] { return gifOf(20, 10, 200); }, Verdict::Complete, "", 20, 10, 1},
    {"LargeAndSmallIcon", [] { return iconOfTwo(pattern(256, 256), icon32Dib()); },
     Verdict::Complete, "", 256, 256, 2},
    {"PngDamagedIdatGoodCrc", pngWithDamagedIdat, Verdict::Damaged, "zlib stream is corrupt", 64,
     64, 1},
    {"PngAdlerAcrossChunks", [] { return pngWithIdatSplit(2, 0); }, Verdict::Complete, "", 64, 64,
     1},
    {"PngWrongAdler", [] { return pngWithIdatSplit(0, 1); }, Verdict::Damaged,
     "zlib stream is corrupt", 64, 64, 1},
    {"PngWrongAdlerAcrossChunks", [] { return pngWithIdatSplit(3, 4); }, Verdict::Damaged,
     "zlib stream is corrupt", 64, 64, 1},
    {"PngTooFewRows", pngWithTooFewRows, Verdict::Damaged, "zlib stream ends early", 64, 64, 1},
    {"JpegMissingData", jpegMissingData, Verdict::Damaged, "entropy-coded data is corrupt", 64, 64,
     1},
    {"JpegClaimingTooMuch", [] { return jpegClaimingTooMuch(testing::JpegKind::Colour); },
     Verdict::Damaged, "entropy-coded data ends early", 60000, 60000, 1},
    {"ProgressiveClaimingTooMuch",
     [] { return jpegClaimingTooMuch(testing::JpegKind::Progressive); }, Verdict::Damaged,
     "entropy-coded data ends early", 60000, 60000, 1},
    {"GifShortOfPixels", [] { return gifOf(20, 10, 150); }, Verdict::Damaged,
     "frame 1: LZW data ends before its last pixel", 20, 10, 1},
    {"IconEntryPastTheFile", iconEntryPastTheFile, Verdict::Damaged, "entry 2 points past the file",
     0, 0, 0},
    {"IconEntryWrongSizes", iconEntryWithWrongSizes, Verdict::Damaged,
     "entry 2's size disagrees with the directory", 0, 0, 0},
    {"IconEntryBitCount", [] { return iconEntryWithBitCount(7); }, Verdict::Damaged,
     "entry 2 has an invalid bit count", 0, 0, 0},
    {"IconEntryShort", iconEntryShort, Verdict::Damaged, "entry 2 ends before its pixel data does",
     0, 0, 0},
    {"JpegLikeRun", jpegLikeRun, Verdict::Damaged, "the data ends inside the picture", 0, 0, 0},
    {"GifSignaturesOnly",
     [] { return ByteVector{'G', 'I', 'F', '8', '7', 'a', 0, 'G', 'I', 'F', '8', '9', 'a'}; },
     Verdict::Damaged, "unknown block", 0, 0, 0},
    {"GifWithoutTrailerAtTheEnd", [] { return gifOf(20, 10, 200, false); }, Verdict::Complete,
     "no trailer", 20, 10, 1, 0},
};

class VerdictTable : public ::testing::TestWithParam<Case> {};

// The picture sits in a file between other bytes that hold no picture and no block a
// walker could take; the resource is exactly the picture.
TEST_P(VerdictTable, SaysWhatAndWhy) {
    const Case& c = GetParam();
    const ByteVector picture = c.make();
    ByteVector file = picture;
    file.insert(file.end(), c.after, 0x11);
    const Bytes bytes(file);
    const Inspection r = inspectResource(bytes, static_cast<std::int64_t>(picture.size()),
                                         bytes.first(picture.size()));
    EXPECT_EQ(verdictName(r.verdict), std::string(verdictName(c.verdict)));
    EXPECT_EQ(describeReason(r.reason, r.reasonItem), c.reason);
    EXPECT_EQ(r.width, c.width);
    EXPECT_EQ(r.height, c.height);
    EXPECT_EQ(r.frames, c.frames);
}

INSTANTIATE_TEST_SUITE_P(Made, VerdictTable, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The pane refuses such a progressive file before libjpeg allocates coefficients for all
// the blocks it claims (gigabytes for 60000 x 60000); a baseline one still shows grey rows.
TEST(JpegClaimingTooMuch, ProgressiveIsRefusedBeforeAllocating) {
    const Decoded progressive = decodeJpeg(jpegClaimingTooMuch(testing::JpegKind::Progressive));
    EXPECT_FALSE(progressive);
    EXPECT_EQ(progressive.failure(), DecodeFailure::Truncated);
}

// Inside a file, a GIF without its trailer ends after its last block, whatever follows; a
// resource that a later 00 3B ended has bytes after it.
TEST(GifWithoutTrailer, EndsAfterItsLastBlockInsideAFile) {
    const ByteVector gif = gifOf(20, 10, 200, false);
    ByteVector file = gif;
    const ByteVector rest = {'x', 'y', 'z', 0x00, 0x3B};
    file.insert(file.end(), rest.begin(), rest.end());
    const Inspection r = inspectResource(file, static_cast<std::int64_t>(file.size()), file);
    EXPECT_EQ(r.verdict, Verdict::TrailingBytes);
    EXPECT_EQ(r.extent, static_cast<std::int64_t>(gif.size()));
    EXPECT_EQ(formatExtent(file), static_cast<std::int64_t>(gif.size()));
}

// What a user's system holds, from Debian packages (idle-python3.11, fonts-dejavu-extra):
// every picture of IDLE's is whole; its icon reports its largest image; a copy of a GIF
// without its trailer byte is still whole; the JPEG start in a font is no picture.
std::filesystem::path idleIcons() {
    return "/usr/lib/python3.11/idlelib/Icons";
}

ByteVector readAll(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return ByteVector(std::istreambuf_iterator<char>(in), {});
}

Inspection inspectWhole(const ByteVector& bytes) {
    return inspectResource(bytes, static_cast<std::int64_t>(bytes.size()), bytes);
}

TEST(RealPictures, IdleIconsAreWholeAndTheIconIsItsLargest) {
    if (!std::filesystem::is_directory(idleIcons())) GTEST_SKIP() << "idle-python3.11 missing";
    int seen = 0;
    for (const auto& entry : std::filesystem::directory_iterator(idleIcons())) {
        const std::string ext = entry.path().extension();
        if (ext != ".gif" && ext != ".png" && ext != ".ico") continue;
        SCOPED_TRACE(entry.path().string());
        const Inspection r = inspectWhole(readAll(entry.path()));
        EXPECT_EQ(r.verdict, Verdict::Complete) << describeReason(r.reason, r.reasonItem);
        EXPECT_GT(r.width, 0);
        ++seen;
    }
    EXPECT_GT(seen, 5);
    const Inspection ico = inspectWhole(readAll(idleIcons() / "idle.ico"));
    EXPECT_EQ(ico.width, 256);
    EXPECT_EQ(ico.frames, 4);

    ByteVector minus = readAll(idleIcons() / "minusnode.gif");
    ASSERT_EQ(minus.back(), 0x3B);
    minus.pop_back();
    const Inspection cut = inspectWhole(minus);
    EXPECT_EQ(cut.verdict, Verdict::Complete);
    EXPECT_EQ(cut.reason, Reason::NoTrailer);
    EXPECT_EQ(cut.width, 11);
}

TEST(RealPictures, JpegStartInAFontIsDamagedWithoutASize) {
    const std::filesystem::path font =
        "/usr/share/fonts/truetype/dejavu/DejaVuSansMono-BoldOblique.ttf";
    if (!std::filesystem::exists(font)) GTEST_SKIP() << "fonts-dejavu-extra missing";
    const ByteVector bytes = readAll(font);
    const ByteVector start = {0xFF, 0xD8, 0xFF};
    int found = 0;
    for (auto at = std::search(bytes.begin(), bytes.end(), start.begin(), start.end());
         at != bytes.end(); at = std::search(at + 1, bytes.end(), start.begin(), start.end())) {
        const Bytes from(&*at, static_cast<std::size_t>(bytes.end() - at));
        const auto length = std::min<std::size_t>(12, from.size());
        const Inspection r =
            inspectResource(from, static_cast<std::int64_t>(length), from.first(length));
        EXPECT_NE(r.verdict, Verdict::CutShort);
        EXPECT_NE(r.verdict, Verdict::Complete);
        EXPECT_EQ(r.width, 0);
        ++found;
    }
    EXPECT_GT(found, 0);
}

}  // namespace
}  // namespace kerbilo
