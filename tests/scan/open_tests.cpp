// Opening without dialogs: what the result says, and that a file that cannot be read
// leaves the document and the window as they were.

#include <gtest/gtest.h>

#include "runtime/gbk.h"
#include "scan/open.h"
#include "scan_helpers.h"

namespace kerbilo::testing {
namespace {

TEST(OpenFile, ResultCountsKindsAndOpensTheFile) {
    DocWorld w;
    w.files.files["/data/a.bin"] = join({filler(3), png(filler(4))});
    const OpenResult r = openFile(w.services, w.doc, "/data/a.bin", {}, w.view);
    EXPECT_TRUE(r.opened);
    EXPECT_FALSE(r.error);
    EXPECT_EQ(r.kindCount, 3);
    EXPECT_EQ(r.kindsScanned, 3);
    EXPECT_EQ(w.doc.file.name, "a.bin");
    EXPECT_EQ(w.doc.catalogue.size(), 1);
    EXPECT_EQ(w.ui.title(), "Kerbilo - /data/a.bin");
}

TEST(OpenFile, KindsThatCannotBeScannedAreNotCounted) {
    struct Case {
        const char* name;
        ByteBuffer kinds;  // empty: no resource.config at all
        int count;
        int scanned;
    };
    const Case cases[] = {
        {"no kinds file", {}, 0, 0},
        {"count is letters", kindsFile({"资源种类数=abc"}), 0, 0},
        {"kinds without signatures", kindsFile({"资源种类数=2", "1=A", "2=B", "B_head=AA"}), 2, 0},
        {"one of two complete", kindsFile({"资源种类数=2", "1=A", "A_head=AA", "A_tail=BB", "2=B"}),
         2, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DocWorld w;
        if (c.kinds.empty())
            w.files.files.erase("/prog/resource.config");
        else
            w.setKinds(c.kinds);
        w.files.files["/data/a.bin"] = filler(10);
        const OpenResult r = openFile(w.services, w.doc, "/data/a.bin", {}, w.view);
        EXPECT_TRUE(r.opened);
        EXPECT_EQ(r.kindCount, c.count);
        EXPECT_EQ(r.kindsScanned, c.scanned);
    }
}

TEST(OpenFile, UnreadableFileGivesTheReasonAndChangesNothing) {
    DocWorld w;
    ASSERT_TRUE(w.open(png(filler(4)), "/data/a.bin"));
    w.doc.file.modified = true;
    w.ui.setMenuItemDisabled(MenuItem::Save, false);
    const std::size_t titles = w.ui.titles.size();
    w.files.files["/data/b.bin"] = png(filler(1));
    w.files.unreadable.insert("/data/b.bin");

    const OpenResult r = openFile(w.services, w.doc, "/data/b.bin", {}, w.view);
    EXPECT_FALSE(r.opened);
    EXPECT_EQ(r.error, w.files.lastFailure());
    EXPECT_TRUE(r.error);
    EXPECT_TRUE(w.ui.messages.empty()) << "the operation shows no message";
    EXPECT_EQ(w.ui.titles.size(), titles);
    EXPECT_EQ(w.doc.file.name, "a.bin");
    EXPECT_EQ(w.doc.file.bytes, png(filler(4)));
    EXPECT_TRUE(w.doc.file.modified);
    EXPECT_FALSE(w.ui.isDisabled(MenuItem::Save));
    EXPECT_EQ(w.doc.catalogue.size(), 1);
}

TEST(OpenFile, FileNameOfTakesTheLastComponent) {
    const std::vector<std::pair<Text, Text>> cases = {
        {"/data/app.exe", "app.exe"},
        {"app", "app"},
        {"/a/b/", ""},
        {"", ""},
        {"/x.tar.gz", "x.tar.gz"},
        {"/d/" + Text(255, 'n'), Text(255, 'n')},
        {"/d/" + Text(256, 'n'), ""},
    };
    for (const auto& [path, name] : cases) EXPECT_EQ(fileNameOf(path), name) << path;
}

// One step before every head search and one per tree node: the window repaints often
// enough however many resources a file holds.
TEST(OpenFile, ScanAndTreeFillingLetEventsRun) {
    DocWorld w;
    w.setKinds(kindsFile({"资源种类数=1", "1=A", "A_head=AA", "A_tail=BB", "A头补齐=AA"}));
    ByteBuffer file;
    for (int i = 0; i < 50; ++i) file = join({file, bytes({0xAA, 0x01, 0xBB})});
    const int before = w.ui.processEventsCalls;
    ASSERT_TRUE(w.open(file));
    EXPECT_EQ(w.doc.catalogue.size(), 50);
    // 1 before reading, 1 per kind, 3 signature bytes (no tail fill), 51 head searches, 50
    // tree nodes.
    EXPECT_EQ(w.ui.processEventsCalls - before, 1 + 1 + 3 + 51 + 50);
}

}  // namespace
}  // namespace kerbilo::testing

namespace kerbilo::testing {
namespace {

// The loop over kinds stops at the highest kind the file names: a huge count gives the
// same listing as the true one, in as many steps, and cannot overflow its counter.
TEST(OpenFile, KindLoopEndsAtTheHighestNamedKind) {
    const ByteBuffer file = join({png(filler(3)), filler(4), png(filler(5))});
    DocWorld reference;
    ASSERT_TRUE(reference.open(file));
    for (const char* count : {"3", "4", "1000000", "2147483647", "99999999999"}) {
        SCOPED_TRACE(count);
        DocWorld w;
        Text kinds = w.files.content("/prog/resource.config");
        const Text from = gbk("资源种类数=3");
        kinds.replace(kinds.find(from), from.size(), gbk("资源种类数=") + count);
        w.setKinds(ByteBuffer::fromText(kinds));
        const int before = w.ui.processEventsCalls;
        ASSERT_TRUE(w.open(file));
        EXPECT_EQ(w.listed(), reference.listed());
        EXPECT_EQ(w.ui.statusTexts, reference.ui.statusTexts);
        EXPECT_EQ(w.ui.processEventsCalls - before, reference.ui.processEventsCalls);
    }
}

// One kind: reading takes the first quarter, the sweep over the bytes 60% of the rest, the
// kind's heads most of what is left, and filling the tree the end, node by node, up to the
// whole.
TEST(OpenFile, TreeFillingMovesTheShareToTheEnd) {
    DocWorld w;
    w.setKinds(kindsFile({"资源种类数=1", "1=A", "A_head=AA", "A_tail=BB"}));
    ByteBuffer file;
    for (int i = 0; i < 50; ++i) file = join({file, bytes({0xAA, 0x01, 0xBB})});
    std::vector<double> shares;
    std::vector<int> items;
    w.ui.onProcessEvents = [&] {
        shares.push_back(w.progress.meter.share());
        items.push_back(w.ui.treeItemCount());
    };
    ASSERT_TRUE(w.open(file));
    ASSERT_EQ(shares.size(), 1u + 1 + 2 + 51 + 50);
    for (std::size_t i = 1; i < shares.size(); ++i) EXPECT_GE(shares[i], shares[i - 1]) << i;
    // The last 50 steps come before each node is added; the share grows with the nodes.
    const std::size_t tree = shares.size() - 50;
    EXPECT_EQ(items[tree], 1);
    EXPECT_NEAR(shares[tree], 0.25 + 0.75 * (0.6 + 0.4 * 0.8), 1e-9)
        << "the scan's part ends there";
    for (std::size_t i = tree + 1; i < shares.size(); ++i) EXPECT_GT(shares[i], shares[i - 1]);
    EXPECT_NEAR(w.progress.meter.share(), 1.0, 1e-9);
}

}  // namespace
}  // namespace kerbilo::testing
