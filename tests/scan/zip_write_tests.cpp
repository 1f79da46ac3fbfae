// An entry replaced and the archive written back as splices: read back by the reader with
// the new content and every other entry's bytes unchanged, and accepted whole by unzip and
// by Python's zipfile.

#include <gtest/gtest.h>

#include <fstream>

#include <functional>
#include <string>
#include <vector>

#include "printers.h"
#include "scan/zip_archive.h"
#include "temp_folder.h"
#include "zip_builder.h"

namespace kerbilo::testing {
namespace {

using zip::Stop;
using zip::WriteStatus;

const ByteBuffer kWriteText = textBytes(4000, 51);
const ByteBuffer kWriteNoise = randomBytes(2500, 52);

ByteBuffer readAll(const ByteBuffer& b, const zip::Entry& e) {
    std::uint64_t spent = 0;
    const zip::Inflated got = zip::readEntry(b.data(), b.size(), e, {}, spent);
    EXPECT_EQ(got.stop, Stop::None) << e.name;
    return got.bytes;
}

void expectOrdered(const std::vector<Splice>& splices, std::size_t size) {
    for (std::size_t i = 0; i < splices.size(); ++i) {
        EXPECT_GE(splices[i].offset, 0);
        EXPECT_LE(splices[i].offset + splices[i].oldLength, static_cast<std::int64_t>(size));
        if (i > 0) {
            EXPECT_LT(splices[i - 1].offset + splices[i - 1].oldLength, splices[i].offset);
        }
    }
}

class ZipReplace : public TempFolderTest {
  protected:
    // Replaces entry `index` of the one archive in `bytes` (after `prefix` bytes, with
    // `suffix` bytes after it) and checks the result every way: the reader, the bytes
    // around and between, unzip -t and Python's zipfile on the archive cut out alone (with
    // the prefix when its offsets count from the start of the bytes).
    void replaceAndCheck(const ByteBuffer& bytes, std::size_t index, const ByteBuffer& content,
                         std::size_t prefix = 0, std::size_t suffix = 0,
                         bool offsetsFromStart = false) {
        const auto before = zip::findArchives(bytes.data(), bytes.size());
        ASSERT_EQ(before.size(), 1u);
        const zip::Archive& a = before[0];
        ASSERT_LT(index, a.entries.size());
        const zip::Rewritten r = zip::replaceEntry(bytes.data(), bytes.size(), a, index, content);
        ASSERT_EQ(r.status, WriteStatus::Written);
        expectOrdered(r.splices, bytes.size());
        const ByteBuffer out = applySplices(bytes.data(), bytes.size(), r.splices);
        EXPECT_EQ(out.slice(0, prefix), bytes.slice(0, prefix));
        EXPECT_EQ(out.slice(out.size() - suffix, suffix),
                  bytes.slice(bytes.size() - suffix, suffix));

        const auto after = zip::findArchives(out.data(), out.size());
        ASSERT_EQ(after.size(), 1u);
        const zip::Archive& b = after[0];
        EXPECT_FALSE(b.damaged);
        EXPECT_EQ(b.begin, a.begin);
        EXPECT_EQ(b.zip64EndRecord >= 0, a.zip64EndRecord >= 0);
        ASSERT_EQ(b.entries.size(), a.entries.size());
        for (std::size_t i = 0; i < a.entries.size(); ++i) {
            SCOPED_TRACE(a.entries[i].name);
            const zip::Entry& x = a.entries[i];
            const zip::Entry& y = b.entries[i];
            EXPECT_EQ(y.name, x.name);
            EXPECT_EQ(y.method, x.method);
            EXPECT_EQ(y.flags, x.flags);
            if (i == index) {
                EXPECT_EQ(y.crc32, crcOf(content));
                EXPECT_EQ(y.size, content.size());
                EXPECT_EQ(readAll(out, y), content);
                continue;
            }
            EXPECT_EQ(y.crc32, x.crc32);
            const auto n = static_cast<std::size_t>(x.compressedSize);
            EXPECT_EQ(out.slice(static_cast<std::size_t>(y.data), n),
                      bytes.slice(static_cast<std::size_t>(x.data), n));
            EXPECT_EQ(readAll(out, y), readAll(bytes, x));
        }

        const std::string path = home + "/out.zip";
        const std::int64_t from = offsetsFromStart ? 0 : b.begin;
        writeFile(path, out.slice(static_cast<std::size_t>(from),
                                  static_cast<std::size_t>(b.end - from)));
        std::string said;
        EXPECT_EQ(runCommand("unzip -t " + path, &said), 0) << said;
        EXPECT_EQ(runCommand("/usr/bin/python3 -m zipfile -t " + path, &said), 0) << said;
        EXPECT_EQ(said.find("corrupted"), std::string::npos) << said;
    }
};

// Archives of each layout, each entry replaced by shorter, longer and empty content.
TEST_F(ZipReplace, EveryLayoutEntryAndSize) {
    ZipPlan mixed;
    mixed.entries = {{"stored.txt", kWriteText, 0},
                     {"deflate.txt", kWriteText},
                     ZipEntryPlan("descriptor.txt", kWriteText).withDescriptor(),
                     ZipEntryPlan("unsigned-descriptor.bin", kWriteNoise).withDescriptor(false),
                     ZipEntryPlan("stored-descriptor.bin", kWriteNoise, 0).withDescriptor(),
                     ZipEntryPlan("zip64.txt", kWriteText).withZip64(),
                     ZipEntryPlan("zip64-descriptor.txt", kWriteText).withDescriptor().withZip64(),
                     ZipEntryPlan("名前.txt", kWriteText).withUtf8()};
    ZipPlan zip64 = mixed;
    zip64.zip64End = true;
    zip64.comment = "with a comment";
    const std::vector<ByteBuffer> contents = {textBytes(100, 53), randomBytes(20000, 54), {}};
    for (const ZipPlan* plan : {&mixed, &zip64}) {
        const ByteBuffer bytes = buildZip(*plan).bytes;
        for (std::size_t index = 0; index < plan->entries.size(); ++index)
            for (std::size_t c = 0; c < contents.size(); ++c) {
                SCOPED_TRACE(plan->entries[index].name + " content " + std::to_string(c) +
                             (plan->zip64End ? " zip64 end" : ""));
                replaceAndCheck(bytes, index, contents[c]);
            }
    }
}

// Growing an entry of an archive between other bytes: what comes before stays, what comes
// after moves with the splices; with offsets counted from the archive's start or from the
// start of the bytes.
TEST_F(ZipReplace, GrowingBetweenOtherBytes) {
    const ByteBuffer prefix = randomBytes(1234, 55), suffix = randomBytes(4321, 56);
    for (const bool fixed : {false, true}) {
        SCOPED_TRACE(fixed);
        ZipPlan plan;
        plan.entries = {{"a", kWriteText},
                        {"b", kWriteNoise, 0},
                        ZipEntryPlan("c", kWriteText).withDescriptor()};
        plan.base = fixed ? prefix.size() : 0;
        const ByteBuffer bytes = join({prefix, buildZip(plan).bytes, suffix});
        for (std::size_t index = 0; index < 3; ++index)
            replaceAndCheck(bytes, index, randomBytes(30000, 57), prefix.size(), suffix.size(),
                            fixed);
    }
}

// Archives written by Python: ZIP64 extra fields forced, and a data descriptor of its
// streaming writer.
TEST_F(ZipReplace, ArchivesPythonWrites) {
    const std::string script = R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:
    z.writestr('first.txt', b'first ' * 200)
    with z.open('forced.bin', 'w', force_zip64=True) as f:
        f.write(bytes(range(256)) * 20)
    z.writestr(zipfile.ZipInfo('stored.txt'), b'stored ' * 100, zipfile.ZIP_STORED)
class Pipe:
    def __init__(self, f): self.f = f
    def write(self, b): return self.f.write(b)
    def flush(self): self.f.flush()
with open(sys.argv[2], 'wb') as raw:
    with zipfile.ZipFile(Pipe(raw), 'w', zipfile.ZIP_DEFLATED) as z:
        z.writestr('streamed.txt', b'streamed ' * 300)
        with z.open('streamed64.bin', 'w', force_zip64=True) as f:
            f.write(bytes(range(256)) * 10)
)";
    writeFile(home + "/make.py", ByteBuffer::fromText(script));
    ASSERT_EQ(
        runCommand("/usr/bin/python3 " + home + "/make.py " + home + "/a.zip " + home + "/b.zip"),
        0);
    for (const char* name : {"a.zip", "b.zip"}) {
        SCOPED_TRACE(name);
        const ByteBuffer bytes = readFile(home + "/" + name);
        const auto archives = zip::findArchives(bytes.data(), bytes.size());
        ASSERT_EQ(archives.size(), 1u);
        for (std::size_t index = 0; index < archives[0].entries.size(); ++index) {
            replaceAndCheck(bytes, index, randomBytes(9000, 58));
            replaceAndCheck(bytes, index, textBytes(10, 59));
        }
    }
}

// Offsets that pass 32 bits when an entry grows get ZIP64 fields, and the directory's a
// ZIP64 end record: shown on an archive whose offsets count from just under 4 GiB before
// its bytes, as one seen through a window of a larger file would.
TEST_F(ZipReplace, OffsetsPassingThirtyTwoBits) {
    ZipPlan plan;
    plan.entries = {{"grows", kWriteText, 0}, {"b", kWriteNoise}, {"c", kWriteText, 0}};
    plan.base = 0xFFFFFFFFull - 20000;
    const ByteBuffer bytes = buildZip(plan).bytes;
    const auto before = zip::findArchives(bytes.data(), bytes.size());
    ASSERT_EQ(before.size(), 1u);
    EXPECT_LT(before[0].zip64EndRecord, 0);
    const ByteBuffer content = randomBytes(30000, 60);
    const zip::Rewritten r = zip::replaceEntry(bytes.data(), bytes.size(), before[0], 0, content);
    ASSERT_EQ(r.status, WriteStatus::Written);
    const ByteBuffer out = applySplices(bytes.data(), bytes.size(), r.splices);
    const auto after = zip::findArchives(out.data(), out.size());
    ASSERT_EQ(after.size(), 1u);
    const zip::Archive& a = after[0];
    EXPECT_FALSE(a.damaged);
    EXPECT_GE(a.zip64EndRecord, 0);
    ASSERT_EQ(a.entries.size(), 3u);
    EXPECT_FALSE(a.entries[0].zip64);
    EXPECT_TRUE(a.entries[1].zip64);
    EXPECT_TRUE(a.entries[2].zip64);
    EXPECT_EQ(readAll(out, a.entries[0]), content);
    EXPECT_EQ(readAll(out, a.entries[1]), kWriteNoise);
    EXPECT_EQ(readAll(out, a.entries[2]), kWriteText);
    // Back below 32 bits: the fields stay ZIP64, which every reader takes.
    const zip::Rewritten back = zip::replaceEntry(out.data(), out.size(), a, 0, {});
    ASSERT_EQ(back.status, WriteStatus::Written);
    const ByteBuffer small = applySplices(out.data(), out.size(), back.splices);
    const auto last = zip::findArchives(small.data(), small.size());
    ASSERT_EQ(last.size(), 1u);
    EXPECT_FALSE(last[0].damaged);
    EXPECT_EQ(readAll(small, last[0].entries[2]), kWriteText);

    // Python reads it where its offsets point: after a hole as long as the window's start
    // (a sparse file, nearly nothing on disk). It refuses records that point before them.
    const std::string path = home + "/window.zip";
    {
        std::ofstream file(path, std::ios::binary);
        file.seekp(static_cast<std::streamoff>(plan.base));
        file.write(reinterpret_cast<const char*>(out.data()),
                   static_cast<std::streamsize>(out.size()));
        ASSERT_TRUE(file.good());
    }
    std::string said;
    EXPECT_EQ(runCommand("/usr/bin/python3 -m zipfile -t " + path, &said), 0) << said;
    EXPECT_EQ(said.find("corrupted"), std::string::npos) << said;
}

TEST(ZipReplaceRefused, WhatCannotBeWritten) {
    ZipPlan plan;
    plan.entries = {ZipEntryPlan("secret", kWriteText).storedAs(kWriteNoise.slice(0, 900), true),
                    ZipEntryPlan("bzip2", kWriteText, 12).storedAs(kWriteNoise.slice(0, 700)),
                    {"plain", kWriteText}};
    const ByteBuffer bytes = buildZip(plan).bytes;
    const zip::Archive a = zip::findArchives(bytes.data(), bytes.size())[0];
    const auto status = [&](const zip::Archive& x, std::size_t i, const ByteBuffer& b) {
        const zip::Rewritten r = zip::replaceEntry(b.data(), b.size(), x, i, kWriteText);
        EXPECT_TRUE(r.status == WriteStatus::Written || r.splices.empty());
        return r.status;
    };
    EXPECT_EQ(status(a, 0, bytes), WriteStatus::Encrypted);
    EXPECT_EQ(status(a, 1, bytes), WriteStatus::Unsupported);
    EXPECT_EQ(status(a, 2, bytes), WriteStatus::Written);
    EXPECT_EQ(status(a, 3, bytes), WriteStatus::Damaged);  // no such entry
    zip::Archive damaged = a;
    damaged.damaged = true;
    EXPECT_EQ(status(damaged, 2, bytes), WriteStatus::Damaged);
    // Found by its local headers alone.
    const ByteBuffer cut = bytes.slice(0, static_cast<std::size_t>(a.centralDirectory));
    const zip::Archive walked = zip::findArchives(cut.data(), cut.size())[0];
    EXPECT_EQ(status(walked, 2, cut), WriteStatus::Damaged);
    // An Archive that does not describe these bytes.
    const ByteBuffer other = join({ByteBuffer{1, 2, 3}, bytes});
    EXPECT_EQ(status(a, 2, other), WriteStatus::Damaged);
}

}  // namespace
}  // namespace kerbilo::testing
