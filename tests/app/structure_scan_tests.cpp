#include <gtest/gtest.h>

#include "app/commands.h"
#include "app_helpers.h"
#include "runtime/byte_ops.h"
#include "runtime/gbk.h"

namespace kerbilo::testing {
namespace {

const Text kKinds = "/prog/resource.config";

// The menu item turns the kinds file's key over and leaves every other line as it was, so
// that a hand-edited kinds file survives the click.
TEST(StructureScanItem, TurnsTheKeyOverAndKeepsTheRestOfTheKindsFile) {
    ScanWorld w;
    const ByteBuffer before = w.files.files[kKinds];
    EXPECT_FALSE(structureScanOn(w.state));

    EXPECT_TRUE(toggleStructureScan(w.state));
    EXPECT_TRUE(structureScanOn(w.state));
    const Text after = w.files.content(kKinds);
    EXPECT_NE(after.find(utf8ToGbk("结构扫描=是")), Text::npos);
    EXPECT_EQ(after.substr(0, before.size() - 1), Text(before.view().substr(0, before.size() - 1)));
    EXPECT_EQ(gbkToUtf8(w.ui.statusText), "结构扫描已打开,下次打开文件时生效");

    EXPECT_TRUE(toggleStructureScan(w.state));
    EXPECT_FALSE(structureScanOn(w.state));
    EXPECT_NE(w.files.content(kKinds).find(utf8ToGbk("结构扫描=否")), Text::npos);
    EXPECT_EQ(gbkToUtf8(w.ui.statusText), "结构扫描已关闭,下次打开文件时生效");
}

TEST(StructureScanItem, AKindsFileThatCannotBeWrittenIsSaidAndNothingChanges) {
    ScanWorld w;
    w.files.unwritable.insert(kKinds);
    const ByteBuffer before = w.files.files[kKinds];
    EXPECT_FALSE(toggleStructureScan(w.state));
    EXPECT_EQ(w.files.files[kKinds], before);
    ASSERT_EQ(w.ui.messages.size(), 1u);
    EXPECT_NE(gbkToUtf8(w.ui.messages[0].text).find("无法写出资源种类文件"), std::string::npos);
    EXPECT_FALSE(structureScanOn(w.state));
}

}  // namespace
}  // namespace kerbilo::testing
