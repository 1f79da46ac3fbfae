#include <gtest/gtest.h>

#include <algorithm>

#include "app/commands.h"
#include "app_helpers.h"
#include "runtime/byte_ops.h"

namespace kerbilo::testing {
namespace {

TEST(Open, OpensAndScansWithTitleNameAndFlags) {
    ScanWorld w;
    w.state.file.modified = true;
    w.ui.messageAnswers = {kResultNo};  // drop the replacements not saved
    ASSERT_TRUE(w.open(join({filler(10), png(filler(4))}), "/data/app.exe"));
    EXPECT_EQ(w.ui.title(), "Kerbilo - /data/app.exe");
    EXPECT_EQ(w.state.file.name, "app.exe");
    EXPECT_FALSE(w.state.file.modified);
    EXPECT_TRUE(w.ui.isDisabled(MenuItem::Save));
    EXPECT_EQ(w.ui.statusText, gbk("文件解析已经完成"));
    EXPECT_EQ(w.ui.expanded, std::vector<int>{0});
    EXPECT_EQ(w.ui.redraws, std::vector<Control>{Control::Tree});
    EXPECT_FALSE(w.state.busy);
}

TEST(Open, CatalogueDataIsAViewIntoTheOpenedBytes) {
    ScanWorld w;
    w.open(join({filler(10), png(filler(4)), png(filler(5))}));
    const ByteBuffer d = w.state.catalogue.data(2);
    EXPECT_EQ(d.data(), w.state.file.bytes.data() + 10 + 28);
    // Changing the in-memory copy detaches it; the view keeps the bytes as opened.
    w.state.file.bytes.mutableData()[10] = 0;
    EXPECT_EQ(w.state.catalogue.data(1), png(filler(4)));
}

struct UnreadableCase {
    const char* name;
    void (*prepare)(ScanWorld&);
};

TEST(Open, UnreadableFileShowsWhyAndChangesNothing) {
    const std::vector<UnreadableCase> cases = {
        {"missing", [](ScanWorld&) {}},
        {"no permission",
         [](ScanWorld& w) {
             w.files.files["/data/b.bin"] = png(filler(1));
             w.files.unreadable.insert("/data/b.bin");
         }},
        {"directory", [](ScanWorld& w) { w.files.directories.insert("/data/b.bin"); }},
    };
    for (const UnreadableCase& c : cases) {
        SCOPED_TRACE(c.name);
        ScanWorld w;
        w.open(png(filler(4)), "/data/a.bin");
        w.state.file.modified = true;
        w.ui.setMenuItemDisabled(MenuItem::Save, false);
        const std::size_t titles = w.ui.titles.size(), statuses = w.ui.statusTexts.size();
        c.prepare(w);
        w.ui.messageAnswers = {kResultNo};  // the close question: open without saving
        EXPECT_FALSE(openAndScan(w.state, "/data/b.bin"));
        ASSERT_EQ(w.ui.messages.size(), 2u);
        EXPECT_EQ(w.ui.messages[1].title, gbk("提示"));
        EXPECT_EQ(w.ui.messages[1].style, MessageStyle::OkInformation);
        EXPECT_NE(w.ui.messages[1].text.find("/data/b.bin"), Text::npos);
        EXPECT_NE(w.ui.messages[1].text.find(w.files.lastError()), Text::npos);
        EXPECT_EQ(w.ui.titles.size(), titles);
        EXPECT_EQ(w.ui.statusTexts.size(), statuses);
        EXPECT_EQ(w.state.file.name, "a.bin");
        EXPECT_EQ(w.state.file.bytes, png(filler(4)));
        EXPECT_TRUE(w.state.file.modified);
        EXPECT_FALSE(w.ui.isDisabled(MenuItem::Save));
        EXPECT_EQ(w.state.catalogue.size(), 1);
        EXPECT_EQ(w.ui.treeItemCount(), 2);
    }
}

TEST(Open, EmptyReadableFileOpens) {
    ScanWorld w;
    w.open(png(filler(4)), "/data/a.bin");
    EXPECT_TRUE(w.open({}, "/data/empty"));
    EXPECT_TRUE(w.ui.messages.empty());
    EXPECT_EQ(w.state.file.name, "empty");
    EXPECT_EQ(w.ui.treeItemCount(), 0);
    EXPECT_EQ(w.state.catalogue.size(), 0);
    EXPECT_EQ(w.ui.statusText, gbk("文件解析已经完成"));
}

TEST(Open, OpenCommandUsesDialogAndCancelChangesNothing) {
    ScanWorld w;
    w.files.files["/data/x.exe"] = png(filler(2));
    w.state.file.modified = true;
    openCommand(w.state);  // no answer scripted: cancelled
    ASSERT_EQ(w.ui.dialogsShown.size(), 1u);
    EXPECT_EQ(w.ui.dialogsShown[0].filter,
              gbk("可执行文件|*.exe|动态链接库文件|*.dll|所有类型文件|*.*"));
    EXPECT_TRUE(w.state.file.modified);
    EXPECT_TRUE(w.ui.titles.empty());

    w.ui.fileDialogAnswers.push_back(Text("/data/x.exe"));
    w.ui.messageAnswers = {kResultNo};
    openCommand(w.state);
    EXPECT_EQ(w.ui.title(), "Kerbilo - /data/x.exe");
    EXPECT_EQ(w.state.catalogue.size(), 1);
}

TEST(Open, DropOpensFirstPathLikeTheMenu) {
    ScanWorld a, b;
    const ByteBuffer data = join({png(filler(2)), png(filler(3))});
    a.files.files["/data/x.exe"] = data;
    b.files.files["/data/x.exe"] = data;
    a.ui.fileDialogAnswers.push_back(Text("/data/x.exe"));
    openCommand(a.state);
    filesDroppedCommand(b.state, {Text("/data/x.exe"), Text("/data/other.exe")});
    EXPECT_EQ(a.ui.title(), b.ui.title());
    EXPECT_EQ(a.listed(), b.listed());
    EXPECT_EQ(a.ui.statusTexts, b.ui.statusTexts);
}

TEST(Open, OpeningTwiceRebuildsTheSameCatalogue) {
    ScanWorld w;
    const ByteBuffer data = join({png(filler(2)), filler(3), png(filler(3))});
    w.open(data);
    const std::vector<Listed> first = w.listed();
    w.open(data);
    EXPECT_EQ(w.listed(), first);
    EXPECT_EQ(w.ui.treeItemCount(), 3);
}

TEST(Busy, CommandsDuringScanAreRefused) {
    ScanWorld w;
    w.files.files["/data/other"] = png(filler(9));
    w.ui.fileDialogAnswers.push_back(Text("/data/other"));
    int yields = 0;
    bool sawBusy = true;
    w.ui.onProcessEvents = [&] {
        ++yields;
        sawBusy = sawBusy && w.state.busy && !commandsAllowed(w.state);
        openCommand(w.state);
        filesDroppedCommand(w.state, {Text("/data/other")});
        EXPECT_FALSE(openAndScan(w.state, "/data/other"));
    };
    w.open(join({png(filler(2)), png(filler(3))}));
    EXPECT_GT(yields, 0);
    EXPECT_TRUE(sawBusy);
    EXPECT_TRUE(w.ui.dialogsShown.empty());
    EXPECT_EQ(w.ui.titles.size(), 1u);
    EXPECT_EQ(w.state.catalogue.size(), 2);
    EXPECT_FALSE(w.state.busy);
    EXPECT_TRUE(commandsAllowed(w.state));
}

TEST(Busy, DeferredWorkRunsOnceWhenTheScanEnds) {
    ScanWorld w;
    std::vector<bool> busyAtEnd;
    w.state.endProgram = [&] { busyAtEnd.push_back(w.state.busy); };
    w.ui.onProcessEvents = [&] { requestClose(w.state); };
    w.open(png(filler(2)));
    EXPECT_EQ(busyAtEnd, std::vector<bool>{false});
}

TEST(Busy, SelectionDuringScanSeesNodesPublishedSoFar) {
    ScanWorld w;
    std::vector<int> shownSizes;
    w.ui.onProcessEvents = [&] {
        if (w.ui.treeItemCount() >= 2) {
            w.ui.select(1);
            showSelectedResource(w.state);
        }
    };
    w.open(join({png(filler(2)), png(filler(3))}));
    ASSERT_NE(w.ui.lastPicture(), nullptr);
    EXPECT_EQ(*w.ui.lastPicture(), png(filler(2)));
}

}  // namespace
}  // namespace kerbilo::testing

namespace kerbilo::testing {
namespace {

// The share a progress bar shows runs from 0 to the last head's place, kind after kind,
// never backwards, and is withdrawn when the scan ends.
TEST(Busy, ProgressFollowsTheScanAcrossKinds) {
    ScanWorld w;
    std::vector<double> shares;
    w.ui.onProcessEvents = [&] { shares.push_back(w.state.progress.share()); };
    const ByteBuffer data = join({filler(500), png(filler(3)), filler(500), png(filler(4))});
    w.open(data);
    ASSERT_FALSE(shares.empty());
    EXPECT_EQ(shares.front(), 0.0);
    for (std::size_t i = 1; i < shares.size(); ++i) {
        EXPECT_GE(shares[i], shares[i - 1]) << i;
        EXPECT_LE(shares[i], 1.0);
    }
    // Reading takes the first quarter and the sweep over the bytes 60% of the rest; then
    // each of the three default kinds a third of what is left: the PNG heads and tree nodes
    // move the share inside the first third; the other kinds find nothing to show.
    EXPECT_TRUE(std::any_of(shares.begin(), shares.end(), [](double s) { return s == 0.25; }));
    EXPECT_TRUE(
        std::any_of(shares.begin(), shares.end(), [](double s) { return s > 0.7 && s < 0.8; }));
    EXPECT_LE(*std::max_element(shares.begin(), shares.end()), 0.8);
    EXPECT_EQ(w.state.progress.share(), -1) << "no loop runs any more";
}

// A file read in steps lets events run between them and moves the share through the
// reading quarter before any kind is scanned; a read that fails leaves everything as it was.
TEST(Busy, ReadingInStepsLetsEventsRunAndMovesTheShare) {
    ScanWorld w;
    w.files.readStep = 1000;
    std::vector<double> shares;
    std::vector<Text> titles;
    w.ui.onProcessEvents = [&] {
        shares.push_back(w.state.progress.share());
        titles.push_back(w.ui.title());
    };
    const ByteBuffer data = join({filler(4500), png(filler(3))});
    w.open(data);
    // One step before reading, then 4.5 kB and more in steps of 1000 bytes: four steps
    // between five reads.
    ASSERT_GE(shares.size(), 5u);
    EXPECT_EQ(shares[0], 0.0);
    shares.erase(shares.begin());
    titles.erase(titles.begin());
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_GT(shares[i], 0.0) << i;
        EXPECT_LT(shares[i], 0.25) << i;
        if (i > 0) {
            EXPECT_GT(shares[i], shares[i - 1]) << i;
        }
        EXPECT_NE(titles[i], "Kerbilo - /data/app.exe") << "shown before the read ended";
    }

    const Text before = w.ui.title();
    const int items = w.ui.treeItemCount();
    w.files.unreadable.insert("/data/other.exe");
    w.files.files["/data/other.exe"] = data;
    shares.clear();
    EXPECT_FALSE(openAndScan(w.state, "/data/other.exe"));
    EXPECT_EQ(w.ui.title(), before);
    EXPECT_EQ(w.ui.treeItemCount(), items);
    EXPECT_EQ(w.state.file.bytes, data);
}

}  // namespace
}  // namespace kerbilo::testing

namespace kerbilo::testing::recent_file_tests {

// Only a file that opened joins the recent files, at the front and once.
TEST(Open, OpenedFilesBecomeRecent) {
    ScanWorld w;
    ASSERT_TRUE(w.open(png(filler(4)), "/data/a.bin"));
    ASSERT_TRUE(w.open(png(filler(4)), "/data/b.bin"));
    ASSERT_TRUE(w.open(png(filler(4)), "/data/a.bin"));
    EXPECT_EQ(readRecentFiles(w.files), (std::vector<Text>{"/data/a.bin", "/data/b.bin"}));
    EXPECT_FALSE(openAndScan(w.state, "/data/missing.bin"));
    EXPECT_EQ(readRecentFiles(w.files), (std::vector<Text>{"/data/a.bin", "/data/b.bin"}));
}

}  // namespace kerbilo::testing::recent_file_tests

namespace kerbilo::testing::refused_kind_tests {

// A kind whose suffix would lead an export out of its folder is not searched for, and the
// window says which; the other kinds are.
TEST(Open, KindWithAnUnsafeSuffixIsRefusedByName) {
    ScanWorld w;
    w.setKinds(ByteBuffer::fromText(
        utf8ToGbk("[Config]\r\n资源种类数=2\r\n1=坏\r\n坏_head=89504E47\r\n坏_tail=AE426082\r\n"
                  "坏文件后缀=png/../../escaped\r\n2=PNG\r\nPNG_head=89504E47\r\n"
                  "PNG_tail=AE426082\r\n")));
    ASSERT_TRUE(w.open(join({filler(3), png(filler(4))})));
    ASSERT_EQ(w.state.catalogue.size(), 1);
    EXPECT_EQ(w.state.catalogue.kindNameOf(1), "PNG");
    ASSERT_EQ(w.ui.messages.size(), 1u);
    EXPECT_NE(w.ui.messages[0].text.find(utf8ToGbk("以下资源种类没有搜索:坏")), Text::npos);
}

}  // namespace kerbilo::testing::refused_kind_tests
