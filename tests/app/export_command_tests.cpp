#include <gtest/gtest.h>

#include <cerrno>
#include <functional>

#include "app/commands.h"
#include "app_helpers.h"
#include "runtime/byte_ops.h"

namespace kerbilo::testing {
namespace {

class Export : public ::testing::Test {
  protected:
    void SetUp() override {
        w.files.directories.insert("/out");
        w.state.outputFolder = "/out";
        // PNG at 1-based 1 and 0x1A, GIF (suffix png) at 0x39.
        gif = join({bytes({0x47, 0x49, 0x46, 0x38}), filler(3), bytes({0x00, 0x3B})});
        file = join({png(filler(1)), png(filler(1)), filler(6), gif});
        ASSERT_TRUE(w.open(file, "/data/app.exe"));
    }
    ScanWorld w;
    ByteBuffer gif, file;
};

TEST_F(Export, SingleExportUsesKindFilterAndWritesTheData) {
    w.ui.select(2);
    w.ui.fileDialogAnswers.push_back(Text("/out/one.png"));
    EXPECT_TRUE(exportResource(w.state));
    ASSERT_EQ(w.ui.dialogsShown.size(), 1u);
    EXPECT_EQ(w.ui.dialogsShown[0].filter, gbk("PNG格式资源文件|*.png"));
    EXPECT_EQ(w.ui.dialogsShown[0].defaultExtension, "png");
    EXPECT_EQ(w.ui.dialogsShown[0].mode, FileDialogMode::Save);
    EXPECT_EQ(w.files.files["/out/one.png"], png(filler(1)));

    const int writes = w.files.writes;
    EXPECT_FALSE(exportResource(w.state));  // cancelled
    w.ui.select(0);                         // a group node: no dialog
    EXPECT_FALSE(exportResource(w.state));
    EXPECT_EQ(w.ui.dialogsShown.size(), 2u);
    EXPECT_EQ(w.files.writes, writes);
    EXPECT_FALSE(w.state.file.modified);
}

TEST_F(Export, SingleExportFailureNamesPathAndReason) {
    w.ui.select(1);
    w.ui.fileDialogAnswers.push_back(Text("/nowhere/x.png"));
    EXPECT_FALSE(exportResource(w.state));
    ASSERT_EQ(w.ui.messages.size(), 1u);
    EXPECT_EQ(w.ui.messages[0].title, gbk("提示"));
    EXPECT_EQ(w.ui.messages[0].text,
              gbk("无法写出文件:/nowhere/x.png\r\n原因:") + w.files.lastError());
}

TEST_F(Export, ExportAllWritesEveryNodeWithExactNames) {
    const int writes = w.files.writes;
    EXPECT_TRUE(exportAllResources(w.state).confirmed);
    ASSERT_EQ(w.ui.messages.size(), 1u);
    EXPECT_EQ(w.ui.messages[0].text, gbk("是否确认导出该文件所有解析出来的资源文件?"));
    EXPECT_EQ(w.ui.messages[0].style, MessageStyle::OkCancel);
    EXPECT_EQ(w.files.files["/out/app.exe/1.png"], png(filler(1)));
    EXPECT_EQ(w.files.files["/out/app.exe/1A.png"], png(filler(1)));
    EXPECT_EQ(w.files.files["/out/app.exe/39.png"], gif);
    EXPECT_EQ(w.files.writes - writes, 3 + 1) << "three resources and manifest.tsv";
    EXPECT_TRUE(w.files.files.count("/out/app.exe/manifest.tsv"));
    const std::vector<Text> status = {gbk("正在写出:1"), gbk("正在写出:1A"), gbk("正在写出:39")};
    EXPECT_EQ(std::vector<Text>(w.ui.statusTexts.end() - 3, w.ui.statusTexts.end()), status);
    EXPECT_FALSE(w.state.busy);
}

// Tree: PNG group, two nodes, GIF group, one node: five items in all.
TEST_F(Export, ExportAllProgressCountsTreeItems) {
    std::vector<double> shares;
    w.ui.onProcessEvents = [&] { shares.push_back(w.state.progress.share()); };
    exportAllResources(w.state);
    EXPECT_EQ(shares, (std::vector<double>{0, 0.2, 0.4, 0.6, 0.8}));
    EXPECT_EQ(w.state.progress.share(), -1);
}

TEST_F(Export, ExportAllDeclinedWritesNothing) {
    const int writes = w.files.writes;
    w.ui.messageAnswers.push_back(kResultCancel);
    EXPECT_FALSE(exportAllResources(w.state).confirmed);
    EXPECT_EQ(w.files.writes, writes);
}

TEST_F(Export, SuffixEditsCountAtTheNextExportAndEmptySuffixEndsInDot) {
    exportAllResources(w.state);
    Text kinds = w.files.content("/prog/resource.config");
    kinds.replace(kinds.find(gbk("GIF文件后缀=png")), gbk("GIF文件后缀=png").size(),
                  gbk("GIF文件后缀="));
    w.files.files["/prog/resource.config"] = ByteBuffer::fromText(kinds);
    exportAllResources(w.state);
    EXPECT_EQ(w.files.files["/out/app.exe/39."], gif);
    w.ui.select(4);
    exportResource(w.state);
    EXPECT_EQ(w.ui.dialogsShown.back().filter, gbk("GIF格式资源文件|*."));
    EXPECT_EQ(w.ui.dialogsShown.back().defaultExtension, "");
}

TEST_F(Export, ReplacedResourceExportsItsNewBytesWithoutZeroFill) {
    w.files.files["/data/small"] = bytes({1, 2, 3});
    w.ui.fileDialogAnswers.push_back(Text("/data/small"));
    w.ui.select(1);
    replaceResource(w.state);
    exportAllResources(w.state);
    EXPECT_EQ(w.files.files["/out/app.exe/1.png"], bytes({1, 2, 3}));
}

TEST_F(Export, FailuresAreCountedAndTheFirstIsNamed) {
    w.files.directories.insert("/out/app.exe");
    for (const char* name : {"/out/app.exe/1.png", "/out/app.exe/1A.png", "/out/app.exe/39.png"})
        w.files.unwritable.insert(name);
    const ExportReport report = exportAllResources(w.state);
    EXPECT_EQ(report.written, 0);
    ASSERT_EQ(report.failures.size(), 3u);
    EXPECT_EQ(report.failures[0].path, "/out/app.exe/1.png");
    ASSERT_EQ(w.ui.messages.size(), 2u);
    EXPECT_EQ(w.ui.messages[1].text, gbk("共3个文件中有3个没有写出。\r\n第一个没有写出的文件:"
                                         "/out/app.exe/1.png\r\n原因:") +
                                         describeError(report.failures[0].error));
    EXPECT_EQ(w.ui.statusTexts.back(), gbk("正在写出:39"));
}

// The message names the first failure where it happened. A folder that exists already, or a
// file in its place, is no failure of the folder's creation: the write then says why.
TEST_F(Export, ExportAllNamesTheFirstFailureWhereItHappened) {
    struct Case {
        const char* name;
        std::function<void(MemoryFileServices&)> arrange;
        int written;
        Text firstFailure;
    };
    const std::vector<Case> cases = {
        {"read-only folder", [](MemoryFileServices& f) { f.uncreatable.insert("/out/app.exe"); }, 0,
         gbk("无法创建文件夹:/out/app.exe\r\n原因:文件系统是只读的")},
        {"folder exists, file write fails",
         [](MemoryFileServices& f) {
             f.directories.insert("/out/app.exe");
             f.unwritable.insert("/out/app.exe/1.png");
         },
         2, gbk("第一个没有写出的文件:/out/app.exe/1.png\r\n原因:") + describeErrno(ENOSPC)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ScanWorld x;
        x.files.directories.insert("/out");
        x.state.outputFolder = "/out";
        ASSERT_TRUE(x.open(file, "/data/app.exe"));
        c.arrange(x.files);
        EXPECT_EQ(exportAllResources(x.state).written, c.written);
        ASSERT_EQ(x.ui.messages.size(), 2u);
        const Text& shown = x.ui.messages[1].text;
        EXPECT_EQ(shown.substr(shown.find("\r\n") + 2), c.firstFailure);
    }
}

TEST_F(Export, RootOutputFolderGivesDoubleSlash) {
    w.state.outputFolder = "/";
    EXPECT_EQ(exportAllResources(w.state).written, 3);
    EXPECT_EQ(w.files.files.count("//app.exe/1.png"), 1u);
    EXPECT_EQ(w.files.files.count("//app.exe/39.png"), 1u);
}

TEST_F(Export, PartialFailureReportsOnlyTheFailedOne) {
    w.files.unwritable.insert("/out/app.exe/1A.png");
    const ExportReport report = exportAllResources(w.state);
    EXPECT_EQ(report.written, 2);
    ASSERT_EQ(report.failures.size(), 1u);
    EXPECT_NE(w.ui.messages.back().text.find(gbk("共3个文件中有1个没有写出")), Text::npos);
}

TEST_F(Export, CommandsDuringExportAllAreRefusedAndCloseIsDeferred) {
    int ended = 0;
    w.state.endProgram = [&] { ++ended; };
    w.state.file.modified = true;
    std::vector<CloseDecision> decisions;
    w.ui.onProcessEvents = [&] {
        runMenuCommand(w.state, MenuItem::Open);
        runMenuCommand(w.state, MenuItem::ExportResource);
        EXPECT_FALSE(saveFile(w.state));
        decisions.push_back(requestClose(w.state));
    };
    w.ui.messageAnswers = {kResultOk, kResultNo};  // export all: OK; close question: No
    exportAllResources(w.state);
    EXPECT_EQ(w.ui.dialogsShown.size(), 0u);
    EXPECT_EQ(decisions.front(), CloseDecision::Deferred);
    ASSERT_EQ(w.ui.messages.size(), 2u);
    EXPECT_EQ(w.ui.messages[1].text, gbk("文件修改还没有保存,是否保存修改?"));
    EXPECT_EQ(ended, 1);
}

}  // namespace
}  // namespace kerbilo::testing

namespace kerbilo::testing {
namespace {

// Every file export all could not write is reported the same way, the manifest included.
TEST_F(Export, AManifestThatCannotBeWrittenIsReportedLikeAnyFile) {
    w.files.unwritable.insert("/out/app.exe/manifest.tsv");
    const ExportReport report = exportAllResources(w.state);
    EXPECT_EQ(report.written, 3);
    ASSERT_EQ(w.ui.messages.size(), 2u);
    EXPECT_EQ(w.ui.messages[1].text, gbk("共4个文件中有1个没有写出。\r\n第一个没有写出的文件:/out/"
                                         "app.exe/manifest.tsv\r\n原因:") +
                                         w.files.lastError());
    EXPECT_EQ(w.ui.messages[1].style, MessageStyle::OkInformation);
}

// Exported into the opened file's own folder, the folder cannot take the file's name: it
// takes the first free one after it and says where the files went.
TEST_F(Export, IntoTheOpenedFilesFolderTheFolderTakesAFreeName) {
    w.state.outputFolder = "/data";
    w.files.files[gbk("/data/app.exe_资源")] = bytes({1});  // taken as well, by a file
    const ExportReport report = exportAllResources(w.state);
    EXPECT_EQ(report.written, 3);
    EXPECT_TRUE(report.failures.empty());
    EXPECT_EQ(report.folder, gbk("/data/app.exe_资源2"));
    EXPECT_EQ(w.files.files[gbk("/data/app.exe_资源2/1A.png")], png(filler(1)));
    EXPECT_EQ(w.files.files["/data/app.exe"], file) << "the opened file is untouched";
    ASSERT_EQ(w.ui.messages.size(), 2u);
    EXPECT_EQ(w.ui.messages[1].text,
              gbk("输出文件夹中已有与打开的文件同名的文件,资源已导出到:/data/app.exe_资源2"));
    // A folder of the usual name is used as before, without a word.
    w.ui.messages.clear();
    w.state.outputFolder = "/out";
    EXPECT_EQ(exportAllResources(w.state).folder, "/out/app.exe");
    EXPECT_EQ(w.ui.messages.size(), 1u);
}

}  // namespace
}  // namespace kerbilo::testing
