// The editing operations without dialogs: each returns what happened and why, and a
// failure (out of memory included) changes nothing. Guard bytes around every slot show that
// nothing outside the target stretch moves.

#include <gtest/gtest.h>

#include "edit/edit.h"
#include "runtime/byte_ops.h"
#include "runtime/sha256.h"
#include "scan_helpers.h"

namespace kerbilo::testing {
namespace {

class Operations : public ::testing::Test {
  protected:
    void SetUp() override {
        w.setKinds(slotKinds());
        r1 = res(4, 0x11);
        r2 = res(6, 0x22);
        file = join({guard(), r1, guard(), r2, guard()});
        ASSERT_TRUE(w.open(file));
    }
    void TearDown() override { failAllocationsFrom(0); }
    DocWorld w;
    ByteBuffer r1, r2, file;
};

TEST_F(Operations, PutWritesTheSlotOrSaysWhyNot) {
    struct Case {
        const char* name;
        ByteBuffer data;
        Growth growth;
        PutStatus status;
        ByteBuffer slotAfter;  // what then stands where resource 2 stood
    };
    const std::vector<Case> cases = {
        {"shrink", bytes({1, 2}), Growth::Refuse, PutStatus::Put,
         join({bytes({1, 2}), filler(8, 0)})},
        {"equal", filler(10, 0x44), Growth::Refuse, PutStatus::Put, filler(10, 0x44)},
        {"grow allowed", filler(12, 0x55), Growth::Allow, PutStatus::Put, filler(12, 0x55)},
        {"grow refused", filler(12, 0x55), Growth::Refuse, PutStatus::NeedsGrowth, r2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        const PutResult put = putResourceData(w.doc, 2, c.data, c.growth);
        EXPECT_EQ(put.status, c.status);
        EXPECT_EQ(put.newLength, bufferLength(c.data));
        EXPECT_EQ(put.slotLength, 10);
        EXPECT_EQ(w.doc.file.bytes, join({guard(), r1, guard(), c.slotAfter, guard()}));
        EXPECT_EQ(w.doc.catalogue.data(2), c.status == PutStatus::Put ? c.data : r2);
        EXPECT_EQ(w.doc.catalogue.data(1), r1);
        EXPECT_FALSE(w.doc.file.modified) << "the flag is the command's";
    }
}

// The copy of the file cannot be made: a shrinking put detaches from the bytes as opened,
// a growing one builds a longer copy. Either way nothing changes.
TEST_F(Operations, PutOutOfMemoryChangesNothing) {
    for (const ByteBuffer& data : {bytes({1}), filler(30, 0x66)}) {
        SCOPED_TRACE(data.size());
        SetUp();
        failAllocationsFrom(bufferLength(file) - 1);
        const PutResult put = putResourceData(w.doc, 2, data, Growth::Allow);
        failAllocationsFrom(0);
        EXPECT_EQ(put.status, PutStatus::OutOfMemory);
        EXPECT_EQ(w.doc.file.bytes, file);
        EXPECT_EQ(w.doc.catalogue.data(2), r2);
        EXPECT_EQ(w.doc.catalogue.slot(2).length, 10);
    }
}

// Resource 1 at 40 (172 bytes) encloses resource 2 at 112 (100 bytes); both end at 212.
// Replacing the outer one rewrites the inner one's bytes: the inner one is then no longer in
// the file, and putting data there would write into the outer one's new bytes. Replacing
// the inner one first only grows the outer one, which stays.
TEST(Nested, AReplacementOverwritesWhatLayInsideItsStretch) {
    const ByteBuffer inner = res(96, 0x22);
    const ByteBuffer outer = join({bytes({0xAA, 0x01}), filler(70, 0x33), inner});
    const ByteBuffer file = join({filler(40), outer, filler(40)});
    struct Step {
        int n;
        std::size_t length;
        PutStatus status;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
        ByteBuffer innerExport;  // what exporting resource 2 writes at the end
    };
    const std::vector<Case> cases = {
        {"outer grows, then inner",
         {{1, 350, PutStatus::Put}, {2, 50, PutStatus::Overwritten}},
         inner},
        {"outer fits, then inner",
         {{1, 100, PutStatus::Put}, {2, 50, PutStatus::Overwritten}},
         inner},
        {"outer same length, then inner",
         {{1, 172, PutStatus::Put}, {2, 100, PutStatus::Overwritten}},
         inner},
        {"inner grows, then outer, then inner",
         {{2, 150, PutStatus::Put}, {1, 222, PutStatus::Put}, {2, 10, PutStatus::Overwritten}},
         filler(150, 0x61)},
        {"inner fits, inner again",
         {{2, 50, PutStatus::Put}, {2, 90, PutStatus::Put}},
         filler(90, 0x62)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DocWorld w;
        w.setKinds(slotKinds());
        ASSERT_TRUE(w.open(file));
        ASSERT_EQ(w.doc.catalogue.size(), 2);
        ASSERT_EQ(w.doc.catalogue.slot(1).offset, 40);
        ASSERT_EQ(w.doc.catalogue.slot(1).length, 172);
        ASSERT_EQ(w.doc.catalogue.slot(2).offset, 112);
        ASSERT_EQ(w.doc.catalogue.slot(2).length, 100);
        std::uint8_t fill = 0x60;
        for (const Step& step : c.steps) {
            SCOPED_TRACE(step.n);
            const ByteBuffer before = w.doc.file.bytes;
            const ByteBuffer dataBefore = w.doc.catalogue.data(step.n);
            const ByteBuffer data = filler(step.length, ++fill);
            EXPECT_EQ(putResourceData(w.doc, step.n, data, Growth::Allow).status, step.status);
            if (step.status == PutStatus::Put) {
                const Slot slot = w.doc.catalogue.slot(step.n);
                EXPECT_EQ(w.doc.file.bytes.slice(slot.offset, step.length), data);
                continue;
            }
            EXPECT_EQ(w.doc.file.bytes, before);
            EXPECT_EQ(w.doc.catalogue.data(step.n), dataBefore);
        }
        EXPECT_FALSE(w.doc.catalogue.overwritten(1)) << "the encloser stays";
        w.files.directories.insert("/out");
        EXPECT_TRUE(exportResourceTo(w.files, w.doc.catalogue, 2, "/out/2.bin").written);
        EXPECT_EQ(w.files.files["/out/2.bin"], c.innerExport);
    }
}

TEST_F(Operations, GrowthWarningNamesBothSizes) {
    EXPECT_EQ(growthWarning(301, 300),
              gbk("您欲替换的资源的大小:301超过原资源的大小:300\r\n"
                  "如果要替换该资源有可能导致原文件不能正确的运行,您是否要执行替换"));
}

TEST_F(Operations, WritesReportTheReasonOfAFailure) {
    w.files.directories.insert("/out");
    struct Case {
        const char* name;
        std::function<WriteResult(const Text&)> write;
        ByteBuffer expected;
    };
    const std::vector<Case> cases = {
        {"export one",
         [&](const Text& p) { return exportResourceTo(w.files, w.doc.catalogue, 2, p); }, r2},
        {"save", [&](const Text& p) { return saveCopy(w.files, w.doc.file, p); }, file},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const WriteResult ok = c.write("/out/x");
        EXPECT_TRUE(ok.written);
        EXPECT_FALSE(ok.error);
        EXPECT_EQ(w.files.files["/out/x"], c.expected);
        const WriteResult failed = c.write("/nowhere/x");
        EXPECT_FALSE(failed.written);
        EXPECT_TRUE(failed.error);
        EXPECT_EQ(failed.error, w.files.lastFailure());
    }
}

TEST_F(Operations, ExportAllWritesEveryNodeAndListsFailures) {
    w.files.directories.insert("/out");
    w.files.unwritable.insert("/out/app.exe/19.bin");
    ExportAllOptions options;
    std::vector<int> told;
    options.written = [&](int n) { told.push_back(n); };
    const ExportReport report = exportAllInto(w.services, w.doc, "/out", options);
    EXPECT_EQ(report.written, 1);
    ASSERT_EQ(report.failures.size(), 1u);
    EXPECT_EQ(report.failures[0].path, "/out/app.exe/19.bin");
    EXPECT_TRUE(report.failures[0].error);
    EXPECT_EQ(w.files.files["/out/app.exe/9.bin"], r1);
    EXPECT_EQ(told, (std::vector<int>{1, 2})) << "each resource told, the failed one too";
    EXPECT_TRUE(w.ui.messages.empty());
}

// The manifest records every file written with its digest, so an export can be checked
// against the files on disk and against other tools' output.
TEST_F(Operations, ExportAllWritesAManifestOfWhatItWrote) {
    w.files.directories.insert("/out");
    w.files.unwritable.insert("/out/deep/9.bin");
    ExportAllOptions options;
    options.subfolder = "deep";
    options.jsonLinesManifest = true;
    w.files.directories.insert("/out/deep");
    const ExportReport report = exportAllInto(w.services, w.doc, "/out", options);
    ASSERT_EQ(report.written, 1);
    EXPECT_FALSE(report.manifestFailure);
    const ByteBuffer written = w.files.files["/out/deep/19.bin"];
    ASSERT_EQ(written, r2);
    const std::string sha = sha256Hex(written.data(), written.size());
    EXPECT_EQ(w.files.content("/out/deep/manifest.tsv"),
              "number\tkind\tlabel\toffset\tlength\tsha256\tpath\tformat\twidth\theight\t"
              "frames\tverdict\n"
              "2\tA\t19\t24\t10\t" +
                  sha + "\t/out/deep/19.bin\t\t\t\t\tnot-a-picture\n");
    EXPECT_EQ(w.files.content("/out/deep/manifest.jsonl"),
              "{\"number\":2,\"kind\":\"A\",\"label\":\"19\",\"offset\":24,\"length\":10,"
              "\"sha256\":\"" +
                  sha +
                  "\",\"path\":\"/out/deep/19.bin\",\"format\":null,\"width\":null,"
                  "\"height\":null,\"frames\":null,\"verdict\":\"not-a-picture\"}\n");

    w.files.unwritable.insert("/out/deep/manifest.tsv");
    w.files.unwritable.erase("/out/deep/9.bin");
    const ExportReport again = exportAllInto(w.services, w.doc, "/out", options);
    ASSERT_TRUE(again.manifestFailure);
    EXPECT_EQ(again.manifestFailure->path, "/out/deep/manifest.tsv");
    EXPECT_EQ(again.written, 2);
}

TEST_F(Operations, OutputFolderIsUsedEvenWhenItCannotBeStored) {
    Text folder;
    StoreResult stored = storeOutputFolder(w.files, folder, "/out");
    EXPECT_TRUE(stored.written);
    EXPECT_EQ(folder, "/out");
    EXPECT_NE(w.files.content("/prog/Resource.ini").find("/out"), Text::npos);

    const ByteBuffer before = w.files.files["/prog/Resource.ini"];
    stored = storeOutputFolder(w.files, folder, "/a\nb");
    EXPECT_FALSE(stored.written);
    EXPECT_TRUE(stored.unstorable);
    EXPECT_EQ(describeError(stored.error), gbk("名称中含有回车或换行符,设置文件无法保存它"));
    EXPECT_EQ(folder, "/a\nb");
    EXPECT_EQ(w.files.files["/prog/Resource.ini"], before);

    w.files.unwritable.insert("/prog/Resource.ini");
    stored = storeOutputFolder(w.files, folder, "/elsewhere");
    EXPECT_FALSE(stored.written);
    EXPECT_FALSE(stored.unstorable);
    EXPECT_TRUE(stored.error);
    EXPECT_EQ(folder, "/elsewhere");
}

}  // namespace
}  // namespace kerbilo::testing
