// The user's work is never dropped without a word: opening another file over replacements
// not saved yet asks first, a cancelled open puts everything back, and a question whose
// answer would change data is never answered by habit.

#include <gtest/gtest.h>

#include "app/commands.h"
#include "app_helpers.h"
#include "runtime/byte_ops.h"

namespace kerbilo::testing {
namespace {

const ByteBuffer kSmall = bytes({7, 7});

// app.exe opened with one resource replaced by two bytes and not saved.
void openAndReplace(ScanWorld& w) {
    w.files.directories.insert("/out");
    ASSERT_TRUE(w.open(join({filler(4), png(filler(6)), filler(4)}), "/data/app.exe"));
    w.files.files["/data/small"] = kSmall;
    w.files.files["/data/other"] = join({png(filler(3)), png(filler(5))});
    w.ui.fileDialogAnswers.push_back(Text("/data/small"));
    w.ui.select(1);
    ASSERT_EQ(replaceResource(w.state), ReplaceResult::Replaced);
    ASSERT_TRUE(w.state.file.modified);
    w.ui.messages.clear();
}

TEST(UnsavedWork, OpeningAnotherFileAsksTheCloseQuestion) {
    struct Case {
        const char* name;
        int answer;
        std::optional<Text> savePath;
        bool opens;
    };
    const Case cases[] = {
        {"yes, saved", kResultYes, Text("/out/saved.exe"), true},
        {"yes, save cancelled", kResultYes, std::nullopt, false},
        {"yes, save failed", kResultYes, Text("/nowhere/saved.exe"), false},
        {"no", kResultNo, std::nullopt, true},
        {"cancel", kResultCancel, std::nullopt, false},
    };
    for (const bool dropped : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (dropped ? ", dropped" : ", opened"));
            ScanWorld w;
            openAndReplace(w);
            const ByteBuffer copy = w.state.file.bytes;
            w.ui.messageAnswers = {c.answer};
            w.ui.fileDialogAnswers = {c.savePath};
            if (dropped)
                filesDroppedCommand(w.state, {Text("/data/other")});
            else
                EXPECT_EQ(openAndScan(w.state, "/data/other"), c.opens);
            ASSERT_GE(w.ui.messages.size(), 1u);
            EXPECT_EQ(w.ui.messages[0].text, gbk("文件修改还没有保存,是否保存修改?"));
            EXPECT_EQ(w.ui.messages[0].style, MessageStyle::YesNoCancel);
            if (c.savePath && c.opens) {
                EXPECT_EQ(w.files.files[*c.savePath], copy);
            }
            if (c.opens) {
                EXPECT_EQ(w.state.file.name, "other");
                EXPECT_FALSE(w.state.file.modified);
                EXPECT_TRUE(w.ui.isDisabled(MenuItem::Save));
                EXPECT_EQ(w.state.catalogue.size(), 2);
            } else {
                EXPECT_EQ(w.state.file.name, "app.exe");
                EXPECT_EQ(w.state.file.bytes, copy);
                EXPECT_TRUE(w.state.file.modified);
                EXPECT_FALSE(w.ui.isDisabled(MenuItem::Save));
                EXPECT_EQ(w.state.catalogue.data(1), kSmall);
                EXPECT_EQ(w.ui.title(), "Kerbilo - /data/app.exe");
            }
        }
    }
}

TEST(UnsavedWork, NothingUnsavedOpensWithoutAQuestion) {
    ScanWorld w;
    ASSERT_TRUE(w.open(png(filler(2)), "/data/app.exe"));
    ASSERT_TRUE(w.open(png(filler(3)), "/data/other"));
    EXPECT_TRUE(w.ui.messages.empty());
}

// A cancelled open: while the file is read, or once the scan has started to fill the tree.
struct CancelCase {
    const char* name;
    bool duringScan;
};

class CancelledOpen : public ::testing::TestWithParam<CancelCase> {
  protected:
    // Cancels at the first step of the stage the case names.
    void cancelOpenOf(const Text& path) {
        w.files.readStep = 3;
        w.files.files[path] = join({png(filler(9)), filler(40), png(filler(8))});
        const std::size_t titles = w.ui.titles.size();
        w.ui.onProcessEvents = [&, titles] {
            const bool scanning = w.ui.titles.size() > titles;
            if (scanning == GetParam().duringScan) cancelBusyLoop(w.state);
        };
        EXPECT_FALSE(openAndScan(w.state, path));
        w.ui.onProcessEvents = nullptr;
    }
    ScanWorld w;
};

TEST_P(CancelledOpen, PutsBackTheFileTreeSelectionAndPane) {
    ASSERT_TRUE(w.open(join({png(filler(1)), filler(3), png(filler(2))}), "/data/app.exe"));
    w.ui.select(2);
    showSelectedResource(w.state);
    const std::vector<Listed> tree = w.listed();
    const ByteBuffer bytes = w.state.file.bytes;
    w.ui.messages.clear();

    cancelOpenOf("/data/big");
    EXPECT_TRUE(w.ui.messages.empty()) << "a cancel is no failure";
    EXPECT_EQ(w.state.file.name, "app.exe");
    EXPECT_EQ(w.state.file.bytes, bytes);
    EXPECT_EQ(w.listed(), tree);
    EXPECT_EQ(w.ui.selectedTreeItem(), 2);
    ASSERT_NE(w.ui.lastPicture(), nullptr);
    EXPECT_EQ(*w.ui.lastPicture(), png(filler(2)));
    EXPECT_EQ(w.ui.title(), "Kerbilo - /data/app.exe");
    EXPECT_TRUE(w.ui.isDisabled(MenuItem::Save));
    EXPECT_EQ(w.ui.statusText, gbk("已取消打开文件"));
    EXPECT_FALSE(w.state.busy);

    // The file opens whole when it is not cancelled.
    EXPECT_TRUE(openAndScan(w.state, "/data/big"));
    EXPECT_EQ(w.state.catalogue.size(), 2);
}

TEST_P(CancelledOpen, BeforeAnyFileTheWindowIsAsItStarted) {
    w.ui.addTreeItem(-1, gbk("文件资源列表"));
    w.state.shownPicture = bytes({1, 2, 3});  // the logo, as the shell sets it
    cancelOpenOf("/data/big");
    EXPECT_EQ(w.ui.treeItemCount(), 1);
    EXPECT_EQ(w.ui.treeItemText(0), gbk("文件资源列表"));
    EXPECT_EQ(w.ui.title(), "Kerbilo");
    ASSERT_NE(w.ui.lastPicture(), nullptr);
    EXPECT_EQ(*w.ui.lastPicture(), bytes({1, 2, 3}));
    EXPECT_EQ(w.state.catalogue.size(), 0);
    EXPECT_TRUE(w.state.file.name.empty());
}

INSTANTIATE_TEST_SUITE_P(Stages, CancelledOpen,
                         ::testing::Values(CancelCase{"reading", false},
                                           CancelCase{"scanning", true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CancelledOpen, AReplacementNotSavedStaysAfterACancel) {
    ScanWorld w;
    openAndReplace(w);
    w.files.readStep = 1;
    w.ui.messageAnswers = {kResultNo};
    w.ui.onProcessEvents = [&] { cancelBusyLoop(w.state); };
    EXPECT_FALSE(openAndScan(w.state, "/data/other"));
    EXPECT_TRUE(w.state.file.modified);
    EXPECT_FALSE(w.ui.isDisabled(MenuItem::Save));
    EXPECT_EQ(w.state.catalogue.data(1), kSmall);
}

// Export all cannot be cancelled: a cancel while it runs changes nothing.
TEST(CancelledOpen, OnlyAnOpenCanBeCancelled) {
    ScanWorld w;
    w.files.directories.insert("/out");
    w.state.outputFolder = "/out";
    ASSERT_TRUE(w.open(join({png(filler(1)), png(filler(2))}), "/data/app.exe"));
    w.ui.onProcessEvents = [&] {
        EXPECT_FALSE(w.state.progress.cancellable());
        cancelBusyLoop(w.state);
    };
    EXPECT_EQ(exportAllResources(w.state).written, 2);
}

TEST(ReplaceDialog, NeverOffersTheOpenedFile) {
    ScanWorld w;
    w.files.files["/data/app.exe"] = join({png(filler(4)), png(filler(4))});
    w.files.files["/data/small"] = kSmall;
    w.ui.fileDialogAnswers = {Text("/data/app.exe")};
    openCommand(w.state);
    ASSERT_EQ(w.state.file.name, "app.exe");
    w.ui.select(1);
    w.ui.fileDialogAnswers = {std::nullopt};
    EXPECT_EQ(replaceResource(w.state), ReplaceResult::Cancelled);
    EXPECT_EQ(w.ui.dialogsShown.back().fileName, "");
    // It keeps the last replacement chosen; the open dialog keeps the opened file.
    w.ui.fileDialogAnswers = {Text("/data/small")};
    EXPECT_EQ(replaceResource(w.state), ReplaceResult::Replaced);
    w.ui.select(2);
    w.ui.fileDialogAnswers = {std::nullopt};
    replaceResource(w.state);
    EXPECT_EQ(w.ui.dialogsShown.back().fileName, "/data/small");
    EXPECT_EQ(w.state.openDialog.fileName, "/data/app.exe");
}

TEST(Pane, OpeningAFileEmptiesIt) {
    ScanWorld w;
    ASSERT_TRUE(w.open(png(filler(2)), "/data/app.exe"));
    w.ui.select(1);
    showSelectedResource(w.state);
    ASSERT_EQ(*w.ui.lastPicture(), png(filler(2)));
    ASSERT_TRUE(w.open(png(filler(3)), "/data/other"));
    ASSERT_NE(w.ui.lastPicture(), nullptr);
    EXPECT_TRUE(w.ui.lastPicture()->empty());
    EXPECT_EQ(w.ui.selectedTreeItem(), -1);
}

}  // namespace
}  // namespace kerbilo::testing
