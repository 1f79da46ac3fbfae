// Reading ZIP archives found in any bytes: each way an entry may be laid out, archives
// wherever they are put, a directory that disagrees with the local headers, archives cut
// short at every length, and the limits that end a read.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "allocation_count.h"
#include "printers.h"
#include "scan/zip_archive.h"
#include "temp_folder.h"
#include "zip_builder.h"

namespace kerbilo::testing {
namespace {

using zip::Stop;

// Found with a pass of its own, and checked against the search from landmarks, which must
// find the same in every case here.
std::vector<zip::Archive> find(const ByteBuffer& b) {
    std::vector<zip::Archive> found = zip::findArchives(b.data(), b.size());
    if (const auto landmarks = findLandmarks(b.data(), b.size())) {
        const std::vector<zip::Archive> same = zip::findArchives(b.data(), b.size(), &*landmarks);
        EXPECT_EQ(same.size(), found.size());
        for (std::size_t i = 0; i < std::min(same.size(), found.size()); ++i) {
            EXPECT_EQ(same[i].begin, found[i].begin);
            EXPECT_EQ(same[i].end, found[i].end);
            EXPECT_EQ(same[i].entries.size(), found[i].entries.size());
        }
    }
    return found;
}

zip::Inflated read(const ByteBuffer& b, const zip::Entry& e,
                   const zip::InflateLimits& limits = {}) {
    std::uint64_t spent = 0;
    return zip::readEntry(b.data(), b.size(), e, limits, spent);
}

const ByteBuffer kText = textBytes(5000, 1);
const ByteBuffer kNoise = randomBytes(3000, 2);

// An entry of each layout, with the content that must read back from it.
const struct Layout {
    const char* what;
    ZipEntryPlan made;
} kLayouts[] = {
    {"stored", ZipEntryPlan("a.txt", kText, 0)},
    {"deflate", ZipEntryPlan("dir/b.bin", kNoise)},
    {"deflate, descriptor", ZipEntryPlan("c.txt", kText).withDescriptor()},
    {"deflate, descriptor without signature", ZipEntryPlan("d.txt", kText).withDescriptor(false)},
    {"stored, descriptor", ZipEntryPlan("e.txt", kText, 0).withDescriptor()},
    {"stored, descriptor without signature", ZipEntryPlan("f.txt", kText, 0).withDescriptor(false)},
    {"zip64 extra fields", ZipEntryPlan("g.txt", kText).withZip64()},
    {"zip64, descriptor", ZipEntryPlan("h.txt", kNoise).withDescriptor().withZip64()},
    {"utf-8 name", ZipEntryPlan("图片/ü.png", kText).withUtf8()},
    {"empty", ZipEntryPlan("empty", {})},
    {"empty stored", ZipEntryPlan("empty0", {}, 0)},
};

void expectReads(const ByteBuffer& bytes, const zip::Entry& e, const ZipEntryPlan& made) {
    EXPECT_EQ(e.name, made.name);
    EXPECT_EQ(e.method, made.method);
    EXPECT_EQ(e.utf8, made.utf8);
    EXPECT_EQ(e.size, made.content.size());
    EXPECT_EQ(e.crc32, crcOf(made.content));
    const zip::Inflated got = read(bytes, e);
    EXPECT_EQ(got.stop, Stop::None);
    EXPECT_EQ(got.bytes, made.content);
    EXPECT_EQ(got.consumed, e.compressedSize);
}

// Each layout read through the central directory, and again with the directory gone, when
// the local headers alone must say where each entry ends.
TEST(ZipEntries, EachLayoutReadsBackWithAndWithoutDirectory) {
    for (const Layout& l : kLayouts) {
        SCOPED_TRACE(l.what);
        ZipPlan plan;
        plan.entries = {{"first", kText}, l.made, {"last", kText, 0}};
        const BuiltZip z = buildZip(plan);
        const auto archives = find(z.bytes);
        ASSERT_EQ(archives.size(), 1u);
        const zip::Archive& a = archives[0];
        EXPECT_FALSE(a.damaged);
        EXPECT_TRUE(a.hasCentralDirectory);
        EXPECT_EQ(a.begin, 0);
        EXPECT_EQ(a.end, static_cast<std::int64_t>(z.bytes.size()));
        EXPECT_EQ(a.centralDirectory, z.centralDirectory);
        EXPECT_EQ(a.endRecord, z.endRecord);
        ASSERT_EQ(a.entries.size(), 3u);
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(a.entries[i].localHeader, z.localHeaders[i]);
            EXPECT_EQ(a.entries[i].data, z.data[i]);
            EXPECT_EQ(a.entries[i].centralHeader, z.centralHeaders[i]);
        }
        EXPECT_EQ(a.entries[1].zip64, l.made.zip64);
        expectReads(z.bytes, a.entries[1], l.made);
        expectReads(z.bytes, a.entries[2], plan.entries[2]);

        const ByteBuffer cut = z.bytes.slice(0, static_cast<std::size_t>(z.centralDirectory));
        const auto walked = find(cut);
        ASSERT_EQ(walked.size(), 1u);
        EXPECT_TRUE(walked[0].damaged);
        EXPECT_FALSE(walked[0].hasCentralDirectory);
        EXPECT_EQ(walked[0].end, z.centralDirectory);
        ASSERT_EQ(walked[0].entries.size(), 3u);
        expectReads(cut, walked[0].entries[1], l.made);
        expectReads(cut, walked[0].entries[2], plan.entries[2]);
    }
}

TEST(ZipEntries, EncryptedAndOtherMethodsAreListedNotRead) {
    ZipPlan plan;
    plan.entries = {ZipEntryPlan("secret", kText).storedAs(kNoise.slice(0, 900), true),
                    ZipEntryPlan("bzip2", kText, 12).storedAs(kNoise.slice(0, 700)),
                    {"plain", kText}};
    const BuiltZip z = buildZip(plan);
    const auto archives = find(z.bytes);
    ASSERT_EQ(archives.size(), 1u);
    ASSERT_EQ(archives[0].entries.size(), 3u);
    const zip::Entry& secret = archives[0].entries[0];
    EXPECT_TRUE(secret.encrypted);
    EXPECT_EQ(secret.compressedSize, 900u);
    EXPECT_EQ(read(z.bytes, secret).stop, Stop::Encrypted);
    EXPECT_TRUE(read(z.bytes, secret).bytes.empty());
    EXPECT_EQ(archives[0].entries[1].method, 12);
    EXPECT_EQ(read(z.bytes, archives[0].entries[1]).stop, Stop::Unsupported);
    EXPECT_EQ(read(z.bytes, archives[0].entries[2]).bytes, kText);
}

// ---- where archives lie ---------------------------------------------------------------------

ZipPlan twoEntries(std::uint64_t base = 0) {
    ZipPlan plan;
    plan.entries = {{"one.txt", kText}, {"two.bin", kNoise, 0}};
    plan.base = base;
    plan.comment = "a comment";
    return plan;
}

TEST(ZipPlacement, FoundWhereverTheBytesPutIt) {
    const ByteBuffer prefix = randomBytes(777, 3);
    const ByteBuffer suffix = randomBytes(555, 4);
    const ByteBuffer plain = buildZip(twoEntries()).bytes;
    const ByteBuffer fixed = buildZip(twoEntries(prefix.size())).bytes;  // offsets from 0
    const ByteBuffer zip64 = [] {
        ZipPlan p = twoEntries();
        p.zip64End = true;
        p.entries[0].withZip64();
        return buildZip(p).bytes;
    }();
    const struct {
        const char* what;
        ByteBuffer bytes;
        std::vector<std::int64_t> begins;
    } cases[] = {
        {"alone", plain, {0}},
        {"after random bytes", join({prefix, plain}), {777}},
        {"appended, offsets from the start of the bytes", join({prefix, fixed}), {777}},
        {"between random bytes", join({prefix, plain, suffix}), {777}},
        {"zip64 records, after random bytes", join({prefix, zip64, suffix}), {777}},
        {"two in a row", join({plain, plain}), {0, static_cast<std::int64_t>(plain.size())}},
        {"two apart",
         join({plain, suffix, zip64}),
         {0, static_cast<std::int64_t>(plain.size() + suffix.size())}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto archives = find(c.bytes);
        ASSERT_EQ(archives.size(), c.begins.size());
        for (std::size_t i = 0; i < archives.size(); ++i) {
            const zip::Archive& a = archives[i];
            EXPECT_EQ(a.begin, c.begins[i]);
            EXPECT_FALSE(a.damaged);
            EXPECT_TRUE(a.hasCentralDirectory);
            ASSERT_EQ(a.entries.size(), 2u);
            EXPECT_EQ(a.entries[0].localHeader, a.begin);
            EXPECT_EQ(read(c.bytes, a.entries[0]).bytes, kText);
            EXPECT_EQ(read(c.bytes, a.entries[1]).bytes, kNoise);
            EXPECT_EQ(ByteBuffer(c.bytes.data() + a.end - 9, 9), ByteBuffer::fromText("a comment"));
        }
    }
}

// An archive stored whole in another's entry is part of the outer one, not one of its own;
// read out, it is found again.
TEST(ZipPlacement, ArchiveInsideAnEntryBelongsToTheOuter) {
    const ByteBuffer inner = buildZip(twoEntries()).bytes;
    ZipPlan outer;
    outer.entries = {{"a", kText}, {"inner.zip", inner, 0}, {"b", kText, 0}};
    const ByteBuffer bytes = buildZip(outer).bytes;
    const auto archives = find(bytes);
    ASSERT_EQ(archives.size(), 1u);
    ASSERT_EQ(archives[0].entries.size(), 3u);
    const ByteBuffer got = read(bytes, archives[0].entries[1]).bytes;
    ASSERT_EQ(got, inner);
    const auto nested = find(got);
    ASSERT_EQ(nested.size(), 1u);
    EXPECT_EQ(nested[0].entries.size(), 2u);
}

// End records inside an archive (stored in an entry, in its comment) or before it, whose
// own extent runs over the archive's, do not hide it.
TEST(ZipPlacement, EndRecordsAroundDoNotHideTheArchive) {
    // An empty archive whose comment claims to run far past where it is.
    const ByteBuffer longComment =
        ByteBuffer{'P', 'K', 5, 6, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    for (const std::string where : {"in an entry", "in the comment", "before"}) {
        SCOPED_TRACE(where);
        ZipPlan plan = twoEntries();
        if (where == "in the comment") {
            plan.comment = std::string(longComment.view()) + "rest of the comment";
        } else if (where == "in an entry") {
            plan.entries.insert(plan.entries.begin() + 1, {"odd", longComment, 0});
        }
        const ByteBuffer prefix =
            where == "before" ? join({randomBytes(478, 12), longComment}) : randomBytes(500, 12);
        const ByteBuffer bytes = join({prefix, buildZip(plan).bytes, randomBytes(300, 13)});
        const auto archives = find(bytes);
        ASSERT_FALSE(archives.empty());
        const zip::Archive& a = archives.back();
        EXPECT_EQ(a.begin, 500);
        EXPECT_FALSE(a.damaged);
        EXPECT_EQ(a.entries.size(), plan.entries.size());
    }
}

TEST(ZipPlacement, NothingInRandomOrTextBytes) {
    EXPECT_TRUE(find(randomBytes(4 << 20, 9)).empty());
    EXPECT_TRUE(find(textBytes(1 << 20, 9)).empty());
    // The signatures alone, with nothing sensible after them.
    ByteBuffer b = randomBytes(1 << 16, 10);
    for (std::size_t at = 0; at + 64 < b.size(); at += 1000)
        b = overwrite(b, at,
                      ByteBuffer{'P', 'K', static_cast<std::uint8_t>(at % 3 == 0 ? 3 : 5),
                                 static_cast<std::uint8_t>(at % 3 == 0 ? 4 : 6)});
    for (const zip::Archive& a : find(b)) EXPECT_TRUE(a.damaged) << a.begin;
}

// Archives the outside tools write, at test time.
class ZipFromTools : public TempFolderTest {};

// Python's own writer, run at test time: stored and deflated entries, ZIP64 forced, names
// in UTF-8, a comment.
TEST_F(ZipFromTools, PythonsArchives) {
    const std::string script = R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w') as z:
    z.comment = b'made by python'
    z.writestr(zipfile.ZipInfo('stored.txt'), b'hello ' * 300)
    z.writestr('deflated.txt', b'deflate me ' * 500, compress_type=zipfile.ZIP_DEFLATED)
    z.writestr('名前.txt', 'utf-8 名前'.encode(), compress_type=zipfile.ZIP_DEFLATED)
    with z.open('big.bin', 'w', force_zip64=True) as f:
        f.write(bytes(range(256)) * 40)
)";
    writeFile(home + "/make.py", ByteBuffer::fromText(script));
    ASSERT_EQ(runCommand("/usr/bin/python3 " + home + "/make.py " + home + "/p.zip"), 0);
    const ByteBuffer bytes = readFile(home + "/p.zip");
    const auto archives = find(bytes);
    ASSERT_EQ(archives.size(), 1u);
    EXPECT_FALSE(archives[0].damaged);
    ASSERT_EQ(archives[0].entries.size(), 4u);
    const auto& e = archives[0].entries;
    EXPECT_EQ(e[0].name, "stored.txt");
    EXPECT_EQ(e[0].method, 0);
    EXPECT_EQ(read(bytes, e[1]).bytes.size(), 5500u);
    EXPECT_EQ(e[2].name, "名前.txt");
    EXPECT_TRUE(e[2].utf8);
    EXPECT_EQ(read(bytes, e[2]).bytes, ByteBuffer::fromText("utf-8 名前"));
    EXPECT_EQ(e[3].size, 10240u);
    for (const zip::Entry& x : e) EXPECT_EQ(read(bytes, x).stop, Stop::None) << x.name;
}

// Info-ZIP writing to a pipe leaves sizes to data descriptors.
TEST_F(ZipFromTools, WhatZipWritesToAPipe) {
    writeFile(home + "/a.txt", kText);
    writeFile(home + "/b.bin", kNoise);
    ASSERT_EQ(runCommand("cd " + home + " && zip -q - a.txt b.bin | cat > piped.zip"), 0);
    const ByteBuffer bytes = readFile(home + "/piped.zip");
    const auto whole = find(bytes);
    ASSERT_EQ(whole.size(), 1u);
    for (const bool directory : {true, false}) {
        SCOPED_TRACE(directory);
        const auto archives =
            find(directory ? bytes
                           : bytes.slice(0, static_cast<std::size_t>(whole[0].centralDirectory)));
        ASSERT_EQ(archives.size(), 1u);
        ASSERT_EQ(archives[0].entries.size(), 2u);
        EXPECT_TRUE(archives[0].entries[0].flags & 8);
        EXPECT_EQ(read(bytes, archives[0].entries[0]).bytes, kText);
        EXPECT_EQ(read(bytes, archives[0].entries[1]).bytes, kNoise);
    }
}

// ---- the directory and the local headers disagreeing ------------------------------------------

// Puts a 32-bit value into the bytes.
ByteBuffer with32(ByteBuffer b, std::int64_t at, std::uint32_t v) {
    return overwrite(
        b, static_cast<std::size_t>(at),
        ByteBuffer{static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                   static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)});
}

TEST(ZipDisagreement, DirectoryAndLocalHeadersDisagreeing) {
    ZipPlan plan;
    plan.entries = {{"one", kText}, {"two", kNoise, 0}, {"six", kText, 0}};
    const BuiltZip z = buildZip(plan);
    const auto c = z.centralHeaders;
    const struct {
        const char* what;
        ByteBuffer bytes;
        std::vector<std::string> names;
        bool damaged;
        bool directory;
    } cases[] = {
        {"a record names no local header",
         with32(z.bytes, c[1] + 42, 5),
         {"one", "six"},
         true,
         true},
        {"a local header of another name",
         overwrite(z.bytes, static_cast<std::size_t>(z.localHeaders[1] + 30),
                   ByteBuffer::fromText("TWO")),
         {"one", "six"},
         true,
         true},
        {"a compressed size running into the directory",
         with32(z.bytes, c[1] + 20, static_cast<std::uint32_t>(z.bytes.size())),
         {"one", "six"},
         true,
         true},
        {"every offset wrong: the local headers decide",
         with32(with32(with32(z.bytes, c[0] + 42, 9), c[1] + 42, 9), c[2] + 42, 9),
         {"one", "two", "six"},
         true,
         false},
        {"end record's count wrong",
         overwrite(z.bytes, static_cast<std::size_t>(z.endRecord + 10), ByteBuffer{7, 0}),
         {"one", "two", "six"},
         true,
         true},
        {"end record's directory size wrong, its offset right",
         with32(z.bytes, z.endRecord + 12, 3),
         {"one", "two", "six"},
         false,
         true},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        const auto archives = find(k.bytes);
        ASSERT_EQ(archives.size(), 1u);
        EXPECT_EQ(archives[0].damaged, k.damaged);
        EXPECT_EQ(archives[0].hasCentralDirectory, k.directory);
        std::vector<std::string> names;
        for (const zip::Entry& e : archives[0].entries) names.push_back(e.name);
        EXPECT_EQ(names, k.names);
        for (const zip::Entry& e : archives[0].entries) {
            if (e.name == "six") {
                EXPECT_EQ(read(k.bytes, e).bytes, kText);
            }
        }
    }
}

// ---- damaged and hostile bytes ---------------------------------------------------------------

// Every entry found lies inside the bytes, and reading it stops inside them too.
void expectInside(const ByteBuffer& b) {
    for (const zip::Archive& a : find(b)) {
        EXPECT_GE(a.begin, 0);
        EXPECT_LE(a.end, static_cast<std::int64_t>(b.size()));
        EXPECT_LE(a.begin, a.end);
        for (const zip::Entry& e : a.entries) {
            EXPECT_GE(e.localHeader, a.begin);
            EXPECT_LE(e.data, a.end);
            const zip::Inflated got = read(b, e);
            EXPECT_LE(got.consumed, b.size() - static_cast<std::size_t>(e.data));
        }
    }
}

TEST(ZipDamage, CutAtEveryLength) {
    ZipPlan plan;
    plan.entries = {ZipEntryPlan("a", kText.slice(0, 300)).withDescriptor(),
                    {"b", kNoise.slice(0, 100), 0},
                    ZipEntryPlan("c", kText.slice(0, 200)).withZip64()};
    plan.zip64End = true;
    const ByteBuffer whole = buildZip(plan).bytes;
    for (std::size_t n = 0; n < whole.size(); ++n) {
        SCOPED_TRACE(n);
        const ByteBuffer cut = whole.slice(0, n);
        expectInside(cut);
        for (const zip::Archive& a : find(cut)) {
            EXPECT_TRUE(a.damaged);
            for (const zip::Entry& e : a.entries) {
                const zip::Inflated got = read(cut, e);
                // What was read is the start of the content, however far it got.
                const ZipEntryPlan& made = plan.entries[static_cast<std::size_t>(e.name[0] - 'a')];
                EXPECT_EQ(got.bytes, made.content.slice(0, got.bytes.size()));
                if (got.stop == Stop::None) {
                    EXPECT_EQ(got.bytes, made.content);
                }
            }
        }
    }
}

TEST(ZipDamage, EveryByteChangedInTurn) {
    ZipPlan plan;
    plan.entries = {ZipEntryPlan("a", kText.slice(0, 100)).withDescriptor(false),
                    {"b", kNoise.slice(0, 50), 0}};
    const ByteBuffer whole = buildZip(plan).bytes;
    for (std::size_t at = 0; at < whole.size(); ++at)
        for (const std::uint8_t v : {0x00, 0xFF, 0x80}) {
            SCOPED_TRACE(at);
            expectInside(overwrite(whole, at, ByteBuffer{v}));
        }
}

// An end record that claims four billion entries in a directory of a hundred bytes is
// believed no further than the bytes go.
TEST(ZipDamage, DeclaredCountsReserveNothing) {
    ZipPlan plan;
    plan.entries = {{"a", kText.slice(0, 10), 0}};
    plan.zip64End = true;
    BuiltZip z = buildZip(plan);
    const std::int64_t zip64 = z.endRecord - 76;
    ByteBuffer b = z.bytes;
    for (const std::int64_t at : {zip64 + 24, zip64 + 32})
        b = with32(with32(b, at, 0xFFFFFFFF), at + 4, 0xFFFFFFFF);
    AllocationCount count;
    const auto archives = find(b);
    EXPECT_LT(count.bytes(), std::size_t{64} << 10);
    ASSERT_EQ(archives.size(), 1u);
    EXPECT_TRUE(archives[0].damaged);
    EXPECT_EQ(archives[0].entries.size(), 1u);
}

// Thousands of end records that each name a directory ending where they stand, all inside
// one long directory: each record of it is walked once, not once per end record.
TEST(ZipDamage, ManyEndRecordsOverOneDirectory) {
    ZipPlan plan;
    for (int i = 0; i < 20000; ++i) plan.entries.push_back({"e" + std::to_string(i), {}, 0});
    const BuiltZip z = buildZip(plan);
    std::vector<std::uint8_t> bytes(z.bytes.begin(), z.bytes.begin() + z.endRecord);
    ByteBuffer end(z.bytes.data() + z.endRecord, 22);
    for (int i = 0; i < 20000; ++i) {
        const auto size = static_cast<std::uint32_t>(bytes.size() - z.centralDirectory);
        ByteBuffer e = with32(end, 12, size);
        bytes.insert(bytes.end(), e.begin(), e.end());
    }
    const ByteBuffer b(bytes.data(), bytes.size());
    const auto t0 = std::chrono::steady_clock::now();
    const auto archives = find(b);
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(), 2.0);
    EXPECT_FALSE(archives.empty());
}

// ---- limits ----------------------------------------------------------------------------------

TEST(ZipLimits, EachLimitStopsTheRead) {
    const ByteBuffer zeros = filledBytes(1 << 20, 0);
    ZipPlan plan;
    plan.entries = {{"zeros", zeros}, {"stored", zeros, 0}};
    const BuiltZip z = buildZip(plan);
    const auto archives = find(z.bytes);
    ASSERT_EQ(archives.size(), 1u);
    const struct {
        const char* what;
        zip::InflateLimits limits;
        std::uint64_t spentBefore;
        Stop stop;
        std::size_t bytes;
    } cases[] = {
        {"none reached", {}, 0, Stop::None, 1 << 20},
        {"stream", {1000, 1 << 30, 1032, 0}, 0, Stop::StreamLimit, 1000},
        {"total", {1 << 30, 5000, 1032, 0}, 1000, Stop::TotalLimit, 4000},
        {"total spent already", {1 << 30, 5000, 1032, 0}, 5000, Stop::TotalLimit, 0},
        {"ratio", {1 << 30, 1 << 30, 50, 0}, 0, Stop::RatioLimit, 0},
        // A megabyte of zeros is under the grace a ratio allows by default.
        {"ratio within its grace", {1 << 30, 1 << 30, 50}, 0, Stop::None, 1 << 20},
    };
    for (const auto& c : cases) {
        for (std::size_t i = 0; i < 2; ++i) {
            SCOPED_TRACE(std::string(c.what) + (i ? " stored" : " deflate"));
            std::uint64_t spent = c.spentBefore;
            const zip::Inflated got = zip::readEntry(z.bytes.data(), z.bytes.size(),
                                                     archives[0].entries[i], c.limits, spent);
            if (c.stop == Stop::RatioLimit && i == 1) {
                EXPECT_EQ(got.stop, Stop::None);  // stored data has a ratio of one
                continue;
            }
            EXPECT_EQ(got.stop, c.stop);
            if (c.stop == Stop::RatioLimit) {
                EXPECT_LT(got.bytes.size(), 1u << 20);
            } else {
                EXPECT_EQ(got.bytes.size(), c.bytes);
            }
            EXPECT_EQ(got.bytes, zeros.slice(0, got.bytes.size()));
            EXPECT_EQ(spent, c.spentBefore + got.bytes.size());
        }
    }
}

TEST(ZipLimits, WrongCrcOrSizeIsDamage) {
    ZipPlan plan;
    plan.entries = {{"a", kText}, {"b", kText, 0}};
    BuiltZip z = buildZip(plan);
    for (std::size_t i = 0; i < 2; ++i) {
        zip::Entry e = find(z.bytes)[0].entries[i];
        e.crc32 ^= 1;
        EXPECT_EQ(read(z.bytes, e).stop, Stop::Damaged);
        EXPECT_EQ(read(z.bytes, e).bytes, kText);
        e = find(z.bytes)[0].entries[i];
        e.size += 1;
        EXPECT_EQ(read(z.bytes, e).stop, Stop::Damaged);
        e = find(z.bytes)[0].entries[i];
        e.compressedSize -= 5;  // the deflate data goes on past it
        EXPECT_EQ(read(z.bytes, e).stop, Stop::Damaged);
    }
}

}  // namespace
}  // namespace kerbilo::testing
