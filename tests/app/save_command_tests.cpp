#include <gtest/gtest.h>

#include "app/commands.h"
#include "app_helpers.h"
#include "config/config_files.h"
#include "runtime/byte_ops.h"

namespace kerbilo::testing {
namespace {

class Save : public ::testing::Test {
  protected:
    void SetUp() override {
        w.files.directories.insert("/out");
        ASSERT_TRUE(w.open(join({filler(4), png(filler(6)), filler(4)}), "/data/app.exe"));
        w.files.files["/data/small"] = bytes({7, 7});
        w.ui.fileDialogAnswers.push_back(Text("/data/small"));
        w.ui.select(1);
        ASSERT_EQ(replaceResource(w.state), ReplaceResult::Replaced);
    }
    ScanWorld w;
};

TEST_F(Save, CancelledKeepsTheFlagAndSave) {
    EXPECT_FALSE(saveFile(w.state));
    EXPECT_EQ(w.ui.dialogsShown.back().filter, gbk("所有类型文件|*.*"));
    EXPECT_EQ(w.ui.dialogsShown.back().defaultExtension, ".exe");
    EXPECT_EQ(w.ui.dialogsShown.back().mode, FileDialogMode::Save);
    EXPECT_TRUE(w.state.file.modified);
    EXPECT_FALSE(w.ui.isDisabled(MenuItem::Save));
}

TEST_F(Save, FailingWriteReportsAndKeepsTheFlagAndSave) {
    w.files.unwritable.insert("/out/x.exe");
    w.ui.fileDialogAnswers.push_back(Text("/out/x.exe"));
    EXPECT_FALSE(saveFile(w.state));
    ASSERT_EQ(w.ui.messages.size(), 1u);
    EXPECT_EQ(w.ui.messages[0].text, gbk("无法保存文件:/out/x.exe\r\n原因:") + w.files.lastError());
    EXPECT_TRUE(w.state.file.modified);
    EXPECT_FALSE(w.ui.isDisabled(MenuItem::Save));
}

TEST_F(Save, SucceedingWritesTheCopyAndClearsTheFlag) {
    w.ui.fileDialogAnswers.push_back(Text("/out/x.exe"));
    EXPECT_TRUE(saveFile(w.state));
    EXPECT_EQ(w.files.files["/out/x.exe"],
              join({filler(4), bytes({7, 7}), filler(28, 0), filler(4)}));
    EXPECT_FALSE(w.state.file.modified);
    EXPECT_TRUE(w.ui.isDisabled(MenuItem::Save));
    // The program keeps working on its copy: a second replacement and save carry both.
    w.ui.fileDialogAnswers.push_back(Text("/data/small"));
    replaceResource(w.state);
    w.ui.fileDialogAnswers.push_back(Text("/data/app.exe"));
    EXPECT_TRUE(saveFile(w.state));
    EXPECT_EQ(w.files.files["/data/app.exe"], w.files.files["/out/x.exe"]);
}

TEST_F(Save, CloseQuestionClosesOnlyAfterASave) {
    struct Case {
        const char* name;
        int answer;
        std::optional<Text> savePath;
        CloseDecision decision;
    };
    const std::vector<Case> cases = {
        {"yes, saved", kResultYes, Text("/out/y.exe"), CloseDecision::Close},
        {"yes, save cancelled", kResultYes, std::nullopt, CloseDecision::Stay},
        {"yes, save failed", kResultYes, Text("/nowhere/y.exe"), CloseDecision::Stay},
        {"no", kResultNo, std::nullopt, CloseDecision::Close},
        {"cancel", kResultCancel, std::nullopt, CloseDecision::Stay},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        w.state.file.modified = true;
        w.ui.messages.clear();
        w.ui.messageAnswers = {c.answer};
        w.ui.fileDialogAnswers = {c.savePath};
        EXPECT_EQ(requestClose(w.state), c.decision);
        EXPECT_EQ(w.ui.messages[0].title, gbk("程序未保存"));
        EXPECT_EQ(w.ui.messages[0].style, MessageStyle::YesNoCancel);
    }
    w.state.file.modified = false;
    w.ui.messages.clear();
    EXPECT_EQ(requestClose(w.state), CloseDecision::Close);
    EXPECT_TRUE(w.ui.messages.empty());
}

// A close (or Exit) during an open cancels the open; the close is then carried out with
// the question the replacement not saved yet calls for.
TEST_F(Save, CloseDuringAnOpenCancelsItThenAsks) {
    int ended = 0;
    w.state.endProgram = [&] { ++ended; };
    CloseDecision during = CloseDecision::Close;
    w.ui.onProcessEvents = [&] { during = requestClose(w.state); };
    w.ui.messageAnswers = {kResultNo, kResultNo};  // open anyway, then close without saving
    EXPECT_FALSE(openAndScan(w.state, "/data/small"));
    EXPECT_EQ(during, CloseDecision::Deferred);
    EXPECT_EQ(ended, 1);
    ASSERT_EQ(w.ui.messages.size(), 2u);
    EXPECT_EQ(w.ui.messages[1].text, gbk("文件修改还没有保存,是否保存修改?"));
    EXPECT_TRUE(w.state.file.modified);  // the replaced copy is still the one open
    EXPECT_EQ(w.state.file.name, "app.exe");
}

TEST_F(Save, MenuCommandChosenInThePopUpRunsAfterThePress) {
    w.ui.select(-1);
    w.ui.onPopUp = [&](Menu) { runMenuCommand(w.state, MenuItem::ExportResource); };
    w.ui.fileDialogAnswers = {Text("/out/r.png")};
    treeRightButtonPressed(w.state, [&] { w.ui.select(1); });
    EXPECT_EQ(w.files.files["/out/r.png"], bytes({7, 7}));
    EXPECT_FALSE(runMenuCommand(w.state, MenuItem::About));
}

TEST(FindExtension, FromTheLastDotOn) {
    const std::vector<std::pair<Text, Text>> cases = {
        {"app.exe", ".exe"}, {"a.tar.gz", ".gz"}, {"noext", ""}, {"", ""}, {"dot.", "."}};
    for (const auto& [name, ext] : cases) EXPECT_EQ(findExtension(name), ext) << name;
}

TEST(OutputFolder, ChosenStoredWithGbkBytesCancelledWritesNothing) {
    ScanWorld w;
    EXPECT_FALSE(setOutputFolder(w.state));  // cancelled
    EXPECT_FALSE(w.files.pathExists("/prog/Resource.ini"));
    ASSERT_EQ(w.ui.folderPrompts.size(), 1u);
    EXPECT_EQ(w.ui.folderPrompts[0], gbk("请选择一个文件夹输出资源"));

    const Text chinese = gbk("/home/用户/输出/");
    w.ui.folderAnswers = {chinese, Text("/")};
    EXPECT_TRUE(setOutputFolder(w.state));
    EXPECT_EQ(w.state.outputFolder, gbk("/home/用户/输出"));
    EXPECT_NE(w.files.content("/prog/Resource.ini").find(gbk("输出文件夹=/home/用户/输出")),
              Text::npos);
    EXPECT_TRUE(setOutputFolder(w.state));
    EXPECT_EQ(w.state.outputFolder, "/");
}

// A folder whose name holds a line break cannot be stored: Resource.ini stays as it was, the
// folder is used for this run, and the user is told.
TEST(OutputFolder, NameWithALineBreakIsUsedButNotStored) {
    ScanWorld w;
    const ByteBuffer before = ByteBuffer::fromText(gbk("[Config]\r\n输出文件夹=/old\r\n"));
    w.files.files["/prog/Resource.ini"] = before;
    for (const char* name : {"/out\nx", "/out\rx", "/out\r\n[Config]"}) {
        SCOPED_TRACE(name);
        w.ui.messages.clear();
        w.ui.folderAnswers = {Text(name)};
        EXPECT_TRUE(setOutputFolder(w.state));
        EXPECT_EQ(w.files.files["/prog/Resource.ini"], before);
        EXPECT_EQ(w.state.outputFolder, name);
        ASSERT_EQ(w.ui.messages.size(), 1u);
        EXPECT_EQ(w.ui.messages[0].text,
                  gbk("无法保存输出文件夹:") + name +
                      gbk("\r\n原因:名称中含有回车或换行符,设置文件无法保存它"
                          "\r\n本次运行仍使用该文件夹导出资源。"));
        EXPECT_EQ(w.ui.messages[0].title, gbk("提示"));
    }
    // Stored names read back as chosen, blanks at either end included.
    w.ui.folderAnswers = {Text("/out ")};
    EXPECT_TRUE(setOutputFolder(w.state));
    EXPECT_TRUE(w.ui.messages.size() == 1u);
    EXPECT_EQ(readOutputFolder(w.files), "/out ");
}

}  // namespace
}  // namespace kerbilo::testing
