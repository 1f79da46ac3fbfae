// gzip members and zlib streams found in other bytes, exactly where they are and nowhere
// else, and written back in place.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "printers.h"
#include "scan/zip_archive.h"
#include "temp_folder.h"
#include "zip_builder.h"

namespace kerbilo::testing {
namespace {

using zip::Stop;
using zip::StreamKind;

std::vector<zip::Stream> streams(
    const ByteBuffer& b, const std::vector<std::pair<std::int64_t, std::int64_t>>& skip = {},
    const zip::InflateLimits& limits = {}) {
    std::uint64_t spent = 0;
    std::vector<zip::Stream> found = zip::findStreams(b.data(), b.size(), limits, spent, skip);
    // The search from landmarks must find the same in every case here.
    if (const auto landmarks = findLandmarks(b.data(), b.size())) {
        std::uint64_t again = 0;
        const std::vector<zip::Stream> same =
            zip::findStreams(b.data(), b.size(), limits, again, skip, &*landmarks);
        EXPECT_EQ(again, spent);
        EXPECT_EQ(same.size(), found.size());
        for (std::size_t i = 0; i < std::min(same.size(), found.size()); ++i) {
            EXPECT_EQ(same[i].offset, found[i].offset);
            EXPECT_EQ(same[i].inflated.consumed, found[i].inflated.consumed);
            EXPECT_EQ(same[i].inflated.stop, found[i].inflated.stop);
        }
    }
    return found;
}

const ByteBuffer kStreamText = textBytes(3000, 21);

struct Placed {
    StreamKind kind;
    ByteBuffer bytes;
    ByteBuffer content;
};

// The streams put into random bytes at known places, and what must be found.
TEST(ZipStreamFinding, FoundExactlyWhereTheyAre) {
    const std::vector<Placed> placed = {
        {StreamKind::Gzip, gzipMember(kStreamText), kStreamText},
        {StreamKind::Zlib, zlibStream(kStreamText, 9), kStreamText},
        {StreamKind::Gzip,
         gzipMember(kStreamText, "name.txt", "a comment", true, ByteBuffer{1, 2, 3, 4}),
         kStreamText},
        {StreamKind::Zlib, zlibStream(kStreamText, 1, 10), kStreamText},
        {StreamKind::Zlib, zlibStream(randomBytes(500, 5), 6), randomBytes(500, 5)},
        {StreamKind::Gzip, gzipMember({}), {}},
        {StreamKind::Zlib, zlibStream(ByteBuffer::fromText("short")),
         ByteBuffer::fromText("short")},
        {StreamKind::Zlib, zlibStream({}), {}},
        {StreamKind::Gzip, gzipMember(filledBytes(100000, 'z')), filledBytes(100000, 'z')},
    };
    ByteBuffer bytes = randomBytes(1 << 20, 22);
    std::vector<std::int64_t> offsets;
    std::size_t at = 1000;
    for (const Placed& p : placed) {
        bytes = overwrite(bytes, at, p.bytes);
        offsets.push_back(static_cast<std::int64_t>(at));
        at += p.bytes.size() + 30000 + at % 777;
    }
    // Two gzip members back to back are two streams.
    const ByteBuffer second = gzipMember(ByteBuffer::fromText("second member, right after"));
    bytes = overwrite(bytes, at, join({placed[0].bytes, second}));
    const std::vector<Placed> all = [&] {
        std::vector<Placed> v = placed;
        v.push_back(placed[0]);
        v.push_back({StreamKind::Gzip, second, ByteBuffer::fromText("second member, right after")});
        return v;
    }();
    offsets.push_back(static_cast<std::int64_t>(at));
    offsets.push_back(static_cast<std::int64_t>(at + placed[0].bytes.size()));

    const auto found = streams(bytes);
    ASSERT_EQ(found.size(), all.size());
    for (std::size_t i = 0; i < all.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(found[i].kind, all[i].kind);
        EXPECT_EQ(found[i].offset, offsets[i]);
        EXPECT_EQ(found[i].inflated.stop, Stop::None);
        EXPECT_EQ(found[i].inflated.consumed, all[i].bytes.size());
        EXPECT_EQ(found[i].inflated.bytes, all[i].content);
    }
}

// No junk stream in bytes without any: random bytes of many seeds, text (which holds zlib
// headers such as "x^"), and zeros.
TEST(ZipStreamFinding, NoneWhereThereAreNone) {
    for (std::uint64_t seed = 0; seed < 4; ++seed) {
        SCOPED_TRACE(seed);
        EXPECT_TRUE(streams(randomBytes(4 << 20, 100 + seed)).empty());
        EXPECT_TRUE(streams(textBytes(1 << 20, 200 + seed)).empty());
    }
    EXPECT_TRUE(streams(filledBytes(1 << 20, 0)).empty());
    // Random bytes cut into many pieces: a stream that runs to a piece's end cannot be
    // checked, and chance must not make one there.
    std::vector<std::pair<std::int64_t, std::int64_t>> skip;
    for (std::int64_t at = 100; at < (4 << 20); at += 300) skip.emplace_back(at, at + 1);
    EXPECT_TRUE(streams(randomBytes(4 << 20, 300), skip).empty());
}

TEST(ZipStreamFinding, SkippedRangesAreNotSearched) {
    const ByteBuffer noise = randomBytes(3000, 11);
    const ByteBuffer g = gzipMember(noise);
    const ByteBuffer z = zlibStream(kStreamText);
    const ByteBuffer bytes =
        join({randomBytes(100, 1), g, randomBytes(100, 2), z, randomBytes(100, 3)});
    const auto gAt = std::int64_t{100};
    const auto zAt = static_cast<std::int64_t>(200 + g.size());
    EXPECT_EQ(streams(bytes, {{gAt, gAt + 1}}).size(), 1u);
    EXPECT_EQ(streams(bytes, {{zAt, zAt + 1}, {0, 50}}).size(), 1u);
    EXPECT_EQ(streams(bytes, {{0, static_cast<std::int64_t>(bytes.size())}}).size(), 0u);
    // A stream running into a skipped range is cut there.
    const auto cut = streams(bytes, {{gAt + 2000, gAt + 2001}});
    ASSERT_EQ(cut.size(), 2u);
    EXPECT_EQ(cut[0].inflated.stop, Stop::Truncated);
    EXPECT_EQ(cut[0].inflated.consumed, 2000u);
    EXPECT_GT(cut[0].inflated.bytes.size(), 1900u);
    EXPECT_EQ(cut[0].inflated.bytes, noise.slice(0, cut[0].inflated.bytes.size()));
    EXPECT_EQ(cut[1].offset, zAt);
}

// The end of a stream cut off or changed: what was read, with the verdict.
TEST(ZipStreamFinding, CutOrDamagedStreams) {
    const ByteBuffer g = gzipMember(kStreamText);
    const ByteBuffer z = zlibStream(kStreamText);
    const ByteBuffer lead = randomBytes(64, 7);
    const struct {
        const char* what;
        ByteBuffer bytes;
        std::size_t found;
        Stop stop;
    } cases[] = {
        {"gzip cut in its data", join({lead, g.slice(0, g.size() / 2)}), 1, Stop::Truncated},
        {"gzip cut in its trailer", join({lead, g.slice(0, g.size() - 3)}), 1, Stop::Truncated},
        {"gzip with a wrong CRC", join({lead, overwrite(g, g.size() - 8, ByteBuffer{0})}), 1,
         Stop::Damaged},
        {"gzip with a wrong size", join({lead, overwrite(g, g.size() - 1, ByteBuffer{9})}), 1,
         Stop::Damaged},
        {"zlib cut in its data", join({lead, z.slice(0, z.size() / 2)}), 1, Stop::Truncated},
        {"zlib with a wrong checksum", join({lead, overwrite(z, z.size() - 1, ByteBuffer{0})}), 0,
         Stop::None},
        {"zlib of a few bytes, cut",
         join({lead, zlibStream(ByteBuffer::fromText("abc")).slice(0, 5)}), 0, Stop::None},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto found = streams(c.bytes);
        ASSERT_EQ(found.size(), c.found);
        if (c.found == 0) continue;
        EXPECT_EQ(found[0].offset, 64);
        EXPECT_EQ(found[0].inflated.stop, c.stop);
        EXPECT_EQ(found[0].inflated.bytes, kStreamText.slice(0, found[0].inflated.bytes.size()));
    }
}

// gzip itself, run at test time: a member, and a second appended to it.
class ZipStreamTools : public TempFolderTest {};

TEST_F(ZipStreamTools, MembersGzipWrites) {
    writeFile(home + "/a.txt", kStreamText);
    writeFile(home + "/b.txt", ByteBuffer::fromText("another member"));
    ASSERT_EQ(runCommand("cd " + home + " && gzip -9 -c a.txt > ab.gz && gzip -c b.txt >> ab.gz"),
              0);
    const ByteBuffer gz = readFile(home + "/ab.gz");
    const ByteBuffer bytes = join({randomBytes(333, 8), gz, randomBytes(333, 9)});
    const auto found = streams(bytes);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].offset, 333);
    EXPECT_EQ(found[0].inflated.bytes, kStreamText);
    EXPECT_EQ(found[1].inflated.bytes, ByteBuffer::fromText("another member"));
    EXPECT_EQ(found[1].offset + static_cast<std::int64_t>(found[1].inflated.consumed),
              333 + static_cast<std::int64_t>(gz.size()));
}

// ---- writing back --------------------------------------------------------------------------

ByteBuffer applied(const ByteBuffer& b, const zip::Rewritten& r) {
    return applySplices(b.data(), b.size(), r.splices);
}

TEST(ZipStreamWriting, FitsInPlaceOrNoRoom) {
    const ByteBuffer smaller = textBytes(2000, 31);
    const ByteBuffer larger = randomBytes(5000, 32);
    for (const bool gzip : {true, false}) {
        for (const int window : {15, 9}) {
            SCOPED_TRACE(std::to_string(gzip) + " " + std::to_string(window));
            if (gzip && window != 15) continue;
            const ByteBuffer s =
                gzip ? gzipMember(kStreamText, "keep.me") : zlibStream(kStreamText, 6, window);
            const ByteBuffer lead = randomBytes(50, 33), tail = randomBytes(50, 34);
            const ByteBuffer bytes = join({lead, s, tail});
            const auto found = streams(bytes);
            ASSERT_EQ(found.size(), 1u);

            const zip::Rewritten r =
                zip::replaceStream(bytes.data(), bytes.size(), found[0], smaller);
            ASSERT_EQ(r.status, zip::WriteStatus::Written);
            ASSERT_EQ(r.splices.size(), 1u);
            EXPECT_EQ(r.splices[0].offset, 50);
            EXPECT_EQ(r.splices[0].oldLength, static_cast<std::int64_t>(s.size()));
            EXPECT_EQ(r.splices[0].bytes.size(), s.size());
            const ByteBuffer out = applied(bytes, r);
            const auto again = streams(out);
            ASSERT_EQ(again.size(), 1u);
            EXPECT_EQ(again[0].offset, 50);
            EXPECT_EQ(again[0].inflated.stop, Stop::None);
            EXPECT_EQ(again[0].inflated.bytes, smaller);
            EXPECT_EQ(out.slice(out.size() - 50, 50), tail);
            if (gzip) {
                EXPECT_EQ(out.slice(50, 10 + 8), s.slice(0, 18));  // the header with its name
            } else {
                EXPECT_EQ(out[50] >> 4, window - 8);
            }
            // What is left of the old stream's bytes is zeros.
            const std::size_t end = 50 + static_cast<std::size_t>(again[0].inflated.consumed);
            for (std::size_t i = end; i < 50 + s.size(); ++i) EXPECT_EQ(out[i], 0) << i;

            const zip::Rewritten none =
                zip::replaceStream(bytes.data(), bytes.size(), found[0], larger);
            EXPECT_EQ(none.status, zip::WriteStatus::NoRoom);
            EXPECT_TRUE(none.splices.empty());
        }
    }
}

TEST_F(ZipStreamTools, GzipTakesAMemberWrittenBack) {
    const ByteBuffer s = gzipMember(kStreamText, "file.txt");
    const ByteBuffer smaller = textBytes(1000, 41);
    const auto found = streams(s);
    ASSERT_EQ(found.size(), 1u);
    const zip::Rewritten r = zip::replaceStream(s.data(), s.size(), found[0], smaller);
    ASSERT_EQ(r.status, zip::WriteStatus::Written);
    writeFile(home + "/out.gz", applied(s, r));
    std::string text;
    EXPECT_EQ(runCommand("gzip -dc " + home + "/out.gz > " + home + "/out.txt", &text), 0) << text;
    EXPECT_EQ(readFile(home + "/out.txt"), smaller);
}

}  // namespace
}  // namespace kerbilo::testing
