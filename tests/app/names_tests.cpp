// Names of any bytes through the menu commands on the real file system: the dialogs answer
// with GBK texts as the binding gives them, and each reaches the same file as the file
// opened, the replacement file, the target of one export, the stored output folder, the
// folder export-all makes from the file's name and the saved copy; the settings stay in a
// program folder of that name.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "app/commands.h"
#include "config/config_files.h"
#include "names_of_any_bytes.h"
#include "runtime/gbk.h"
#include "scan_helpers.h"
#include "temp_folder.h"

namespace kerbilo::testing {
namespace {

class Names : public TempFolderTest {};

TEST_F(Names, EveryMenuCommandReachesTheSameFile) {
    const std::string g(8, '#');
    const std::string r1(png(filler(6)).view()), r2(png(filler(10, 0x22)).view());
    int i = 0;
    for (const std::string& name : namesOfAnyBytes()) {
        SCOPED_TRACE(printable(name));
        const std::string c = home + "/c" + std::to_string(i++);
        for (const char* sub : {"", "/in", "/one", "/with", "/saved", "/all"})
            ASSERT_EQ(::mkdir((c + sub).c_str(), 0755), 0);
        const std::string program = c + "/" + name;
        const std::string all = c + "/all/" + name;
        ASSERT_EQ(::mkdir(program.c_str(), 0755), 0);
        ASSERT_EQ(::mkdir(all.c_str(), 0755), 0);
        const std::string in = c + "/in/" + name;
        rawWrite(in, g + r1 + g + r2 + g);
        rawWrite(c + "/with/" + name, "XYZ");

        PosixFileServices files(utf8ToGbk(program));
        FakeUi ui;
        ProgramState state(files, ui);
        ensureKindsFile(files);
        ASSERT_TRUE(openAndScan(state, utf8ToGbk(in))) << gbkToUtf8(ui.messages.back().text);
        ASSERT_EQ(state.catalogue.size(), 2);

        ui.select(itemOfResource(ui, 1));
        ui.fileDialogAnswers = {utf8ToGbk(c + "/with/" + name)};
        EXPECT_EQ(replaceResource(state), ReplaceResult::Replaced);

        ui.select(itemOfResource(ui, 2));
        ui.fileDialogAnswers = {utf8ToGbk(c + "/one/" + name)};
        EXPECT_TRUE(exportResource(state));
        EXPECT_EQ(rawRead(c + "/one/" + name), r2);

        ui.folderAnswers = {utf8ToGbk(all)};
        EXPECT_TRUE(setOutputFolder(state));
        EXPECT_EQ(gbkToUtf8(readOutputFolder(files)), all);
        EXPECT_EQ(exportAllResources(state).written, 2);
        EXPECT_EQ(rawRead(all + "/" + name + "/9.png"), "XYZ");
        EXPECT_EQ(rawRead(all + "/" + name + "/2F.png"), r2);

        ui.fileDialogAnswers = {utf8ToGbk(c + "/saved/" + name)};
        EXPECT_TRUE(saveFile(state));
        EXPECT_EQ(rawRead(c + "/saved/" + name), g + "XYZ" + std::string(27, '\0') + g + r2 + g);
        EXPECT_TRUE(ui.messages.size() == 1u) << "only the export-all question";
    }
    EXPECT_EQ(replacementCharactersBelow(home), std::vector<std::string>{});
}

}  // namespace
}  // namespace kerbilo::testing
