#include <gtest/gtest.h>

#include "app/commands.h"
#include "app_helpers.h"
#include "config/config_files.h"
#include "icon_files.h"
#include "pe_builder.h"
#include "runtime/gbk.h"
#include "scan/pe_image.h"

// A namespace of its own: the using-directive must not reach the files a unity build puts
// after this one.
namespace kerbilo::testing::program_pictures_tests {

using namespace icons;

pe::ResourceData resource(std::uint16_t type, std::uint16_t id, ByteBuffer bytes) {
    return {pe::ResourceName::number(type), pe::ResourceName::number(id),
            pe::ResourceName::number(1033), 0, std::move(bytes)};
}

// A program with an icon group of one 16x16 image and a bitmap, opened in the window with
// the structure scan on.
class ProgramPictures : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(writeStructureScan(w.files, true));
        program = programWith({resource(pe::kTypeIcon, 1, icon16),
                               resource(pe::kTypeGroupIcon, 1, groupDir(1, {{icon16, 1}})),
                               resource(pe::kTypeBitmap, 7, dib(5, 3, 24, 9, false))});
    }
    void open(const ByteBuffer& bytes) {
        ASSERT_TRUE(w.open(bytes));
        w.ui.messages.clear();
    }
    // The tree item of the resource of that kind (its first).
    int itemOf(const char* kindUtf8) {
        for (const Listed& l : w.listed())
            if (l.kind == kindUtf8) return w.itemOfResource(l.number);
        return -1;
    }
    ReplaceResult replace(int item, const ByteBuffer& file) {
        w.files.files["/data/new.ico"] = file;
        w.ui.fileDialogAnswers.push_back(Text("/data/new.ico"));
        w.ui.select(item);
        return replaceResource(w.state);
    }
    ScanWorld w;
    const ByteBuffer icon16 = dib(16, 16, 4, 1, true);
    ByteBuffer program;
};

TEST_F(ProgramPictures, AreListedUnderTheirOwnKindsWithTheirSourceInTheTooltip) {
    open(program);
    const int group = itemOf("图标资源");
    ASSERT_GE(group, 0);
    EXPECT_EQ(gbkToUtf8(w.ui.treeItemText(w.ui.treeItemParent(group))), "图标资源");
    const std::string tip = gbkToUtf8(describeTreeItem(w.state, group));
    EXPECT_NE(tip.find("来源:pe:GROUP_ICON/1/1033"), std::string::npos) << tip;
    w.ui.select(group);
    showSelectedResource(w.state);
    EXPECT_EQ(*w.ui.lastPicture(), icoFile(1, {icon16}));
}

TEST_F(ProgramPictures, ALargerIconGroupRebuildsTheProgramAndEveryPictureFollows) {
    open(program);
    const ByteBuffer a = dib(16, 16, 32, 2, true), b = dib(48, 48, 32, 3, true);
    EXPECT_EQ(replace(itemOf("图标资源"), icoFile(1, {a, b})), ReplaceResult::Replaced);
    ASSERT_FALSE(w.ui.dialogsShown.empty());
    EXPECT_EQ(gbkToUtf8(w.ui.dialogsShown.back().filter),
              "图标资源文件|*.ico;*.png|所有类型文件|*.*");
    EXPECT_TRUE(w.state.file.modified);
    EXPECT_GT(w.state.file.bytes.size(), program.size());
    EXPECT_EQ(*w.ui.lastPicture(), icoFile(1, {a, b}));
    // The program reads back with both images, and the icon image shown is the new one.
    const auto image = pe::readImage(w.state.file.bytes.data(), w.state.file.bytes.size());
    ASSERT_TRUE(image);
    EXPECT_EQ(image->resources.size(), 4u);
    const int n = resourceOfItem(w.state, itemOf("图标图像资源"));
    EXPECT_EQ(w.state.catalogue.data(n), icoFile(1, {a}));
    const Slot slot = w.state.catalogue.slot(n);
    EXPECT_EQ(w.state.file.bytes.slice(static_cast<std::size_t>(slot.offset),
                                       static_cast<std::size_t>(slot.length)),
              a);
    EXPECT_TRUE(w.ui.messages.empty());  // no signature to lose
}

TEST_F(ProgramPictures, AFileOfTheWrongFormIsSaidAndNothingChanges) {
    open(program);
    EXPECT_EQ(replace(itemOf("位图资源"), icoFile(1, {icon16})), ReplaceResult::Unsuitable);
    EXPECT_EQ(w.state.file.bytes, program);
    EXPECT_FALSE(w.state.file.modified);
    ASSERT_EQ(w.ui.messages.size(), 1u);
    EXPECT_NE(gbkToUtf8(w.ui.messages[0].text).find("位图需要 .bmp 文件"), std::string::npos);
}

TEST_F(ProgramPictures, ASignedProgramIsToldItsSignatureIsGone) {
    open(signedProgram(program));
    EXPECT_EQ(replace(itemOf("图标资源"), icoFile(1, {dib(16, 16, 4, 7, true)})),
              ReplaceResult::Replaced);
    ASSERT_EQ(w.ui.messages.size(), 1u);
    EXPECT_NE(gbkToUtf8(w.ui.messages[0].text).find("数字签名"), std::string::npos);
    const auto image = pe::readImage(w.state.file.bytes.data(), w.state.file.bytes.size());
    ASSERT_TRUE(image);
    EXPECT_EQ(image->certificateTable.address, 0u);
    EXPECT_EQ(image->certificateTable.size, 0u);
}

}  // namespace kerbilo::testing::program_pictures_tests
