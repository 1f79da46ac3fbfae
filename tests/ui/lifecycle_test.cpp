// Start-up and closing rules, without a window: the creation steps, where the desktop and
// the settings live, and every answer to the close question.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "config/config_files.h"
#include "memory_files.h"
#include "runtime/gbk.h"
#include "temp_folder.h"
#include "ui/shell/lifecycle.h"

namespace kerbilo::testing {
namespace {

namespace fs = std::filesystem;

using TempHome = TempFolderTest;

using DesktopFolder = TempHome;

struct DesktopCase {
    const char* name;
    const char* dirsFile;  // content of user-dirs.dirs, nullptr: none
    std::vector<const char*> existing;
    const char* want;  // relative to home, "" : no desktop
};

TEST_F(DesktopFolder, FollowsXdgThenDesktopThenNothing) {
    const DesktopCase cases[] = {
        {"xdg dir", "XDG_DESKTOP_DIR=\"$HOME/Bureau\"\n", {"Bureau", "Desktop"}, "Bureau/"},
        {"xdg dir missing", "XDG_DESKTOP_DIR=\"$HOME/Gone\"\n", {"Desktop"}, "Desktop/"},
        {"no xdg file", nullptr, {"Desktop"}, "Desktop/"},
        {"nothing", nullptr, {}, ""},
        {"comment and last wins",
         "# "
         "XDG_DESKTOP_DIR=\"$HOME/No\"\nXDG_DESKTOP_DIR=\"$HOME/A\"\nXDG_DESKTOP_DIR=\"$HOME/B\"\n",
         {"A", "B", "No"},
         "B/"},
        {"trailing slash kept single", "XDG_DESKTOP_DIR=\"$HOME/T/\"\n", {"T"}, "T/"},
        {"chinese name", "XDG_DESKTOP_DIR=\"$HOME/桌面\"\n", {"桌面"}, "桌面/"},
    };
    for (const DesktopCase& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(home);
        fs::create_directories(home);
        if (c.dirsFile) write(".config/user-dirs.dirs", c.dirsFile);
        for (const char* d : c.existing) fs::create_directories(home + "/" + d);
        const Text want = *c.want ? utf8ToGbk(home + "/" + c.want) : Text();
        EXPECT_EQ(desktopFolder(home, ""), want);
    }
}

TEST_F(DesktopFolder, AbsoluteEntryAndXdgConfigHome) {
    fs::create_directories(home + "/elsewhere");
    write("cfg/user-dirs.dirs", "XDG_DESKTOP_DIR=\"" + home + "/elsewhere\"\n");
    EXPECT_EQ(desktopFolder(home, home + "/cfg"), home + "/elsewhere/");
    EXPECT_EQ(desktopFolder("", ""), "");
}

TEST(CreationSteps, SetDialogsAndFilesInOrder) {
    MemoryFileServices files("/prog");
    files.files["/prog/Resource.ini"] =
        ByteBuffer::fromText(utf8ToGbk("[Config]\r\n输出文件夹=/out\r\n"));
    bool modified = true;
    std::vector<std::string> order;
    FileDialogSettings open = initialDialog(FileDialogMode::Open);
    FileDialogSettings save = initialDialog(FileDialogMode::Save);
    Text output;
    CreationTargets t;
    t.clearModified = [&] {
        modified = false;
        order.push_back("clear");
    };
    t.openDialog = &open;
    t.saveDialog = &save;
    t.outputFolder = &output;
    t.files = &files;
    t.registerDropTarget = [&] {
        order.push_back(files.files.count("/prog/resource.config") ? "drop after kinds" : "drop");
    };
    runCreationSteps(t, "/home/u/Desktop/");

    EXPECT_FALSE(modified);
    EXPECT_EQ(order, (std::vector<std::string>{"clear", "drop after kinds"}));
    EXPECT_EQ(open.initialFolder, "/home/u/Desktop/");
    EXPECT_EQ(files.files["/prog/resource.config"], defaultKindsFileContent());
    EXPECT_EQ(output, "/out");
    EXPECT_EQ(save.initialFolder, "/out");
    EXPECT_EQ(open.filter, utf8ToGbk("可执行文件|*.exe|动态链接库文件|*.dll|所有类型文件|*.*"));
    EXPECT_EQ(save.mode, FileDialogMode::Save);
}

TEST(CreationSteps, KeepAnExistingKindsFileAndDefaultTheOutputFolder) {
    MemoryFileServices files("/prog");
    files.files["/prog/resource.config"] = ByteBuffer::fromText("mine");
    FileDialogSettings open, save;
    Text output = "stale";
    CreationTargets t;
    t.openDialog = &open;
    t.saveDialog = &save;
    t.outputFolder = &output;
    t.files = &files;
    runCreationSteps(t, "");
    EXPECT_EQ(files.content("/prog/resource.config"), "mine");
    EXPECT_EQ(open.initialFolder, "");
    EXPECT_EQ(output, "/prog");
    EXPECT_EQ(save.initialFolder, "/prog");
}

}  // namespace
}  // namespace kerbilo::testing
