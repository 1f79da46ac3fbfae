#include <gtest/gtest.h>

#include <functional>

#include "app/commands.h"
#include "app_helpers.h"
#include "runtime/byte_ops.h"

namespace kerbilo::testing {
namespace {

class Replace : public ::testing::Test {
  protected:
    void SetUp() override { w.setKinds(slotKinds()); }
    // Opens guard r1 guard r2 guard ...
    void openSlots(std::initializer_list<ByteBuffer> resources) {
        ByteBuffer file = guard();
        for (const ByteBuffer& r : resources) file = join({file, r, guard()});
        ASSERT_TRUE(w.open(file));
    }
    ReplaceResult replace(int n, const ByteBuffer& data) {
        w.files.files["/data/new.bin"] = data;
        w.ui.fileDialogAnswers.push_back(Text("/data/new.bin"));
        w.ui.select(w.itemOfResource(n));
        return replaceResource(w.state);
    }
    ScanWorld w;
};

TEST_F(Replace, ShrinkingEqualAndGrowingWriteTheSlotOnly) {
    struct Case {
        const char* name;
        ByteBuffer data;
        ByteBuffer slotAfter;  // what stands where resource 2 stood
        bool asks;
    };
    const ByteBuffer r1 = res(4, 0x11), r2 = res(6, 0x22), r3 = res(3, 0x33);
    const std::vector<Case> cases = {
        {"shrink", bytes({1, 2, 3}), join({bytes({1, 2, 3}), filler(7, 0)}), false},
        {"equal", filler(10, 0x44), filler(10, 0x44), false},
        {"grow", filler(13, 0x55), filler(13, 0x55), true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        w.state.file.modified = false;  // each case starts from the file as found
        openSlots({r1, r2, r3});
        w.ui.messages.clear();
        EXPECT_EQ(replace(2, c.data), ReplaceResult::Replaced);
        EXPECT_EQ(w.state.file.bytes,
                  join({guard(), r1, guard(), c.slotAfter, guard(), r3, guard()}));
        EXPECT_EQ(w.ui.messages.size(), c.asks ? 1u : 0u);
        EXPECT_EQ(w.state.catalogue.data(2), c.data);
        EXPECT_EQ(*w.ui.lastPicture(), c.data);
        EXPECT_TRUE(w.state.file.modified);
        EXPECT_FALSE(w.ui.isDisabled(MenuItem::Save));
        // Later slots moved with the growth; data of the others is untouched.
        const std::int64_t third = 8 + 8 + 8 + bufferLength(c.slotAfter) + 8;
        EXPECT_EQ(w.state.catalogue.slot(3).offset, third);
        EXPECT_EQ(w.state.file.bytes.slice(third, 7), r3);
        EXPECT_EQ(w.state.catalogue.data(3), r3);
        EXPECT_EQ(w.state.catalogue.data(1), r1);
    }
}

TEST_F(Replace, GrowthWarningTextAndCancelChangesNothing) {
    openSlots({res(296, 0x11)});  // a 300-byte resource
    const ByteBuffer before = w.state.file.bytes;
    w.ui.messageAnswers.push_back(kResultCancel);
    EXPECT_EQ(replace(1, filler(301, 0x77)), ReplaceResult::Declined);
    ASSERT_EQ(w.ui.messages.size(), 1u);
    EXPECT_EQ(w.ui.messages[0].text,
              gbk("您欲替换的资源的大小:301超过原资源的大小:300\r\n"
                  "如果要替换该资源有可能导致原文件不能正确的运行,您是否要执行替换"));
    EXPECT_EQ(w.ui.messages[0].title, gbk("提示"));
    EXPECT_EQ(w.ui.messages[0].style, MessageStyle::OkCancelInformation);
    EXPECT_EQ(w.state.file.bytes, before);
    EXPECT_EQ(w.state.catalogue.data(1), res(296, 0x11));
    // Nothing to save, so closing asks nothing.
    EXPECT_FALSE(w.state.file.modified);
    EXPECT_TRUE(w.ui.isDisabled(MenuItem::Save));
    EXPECT_EQ(requestClose(w.state), CloseDecision::Close);
    EXPECT_EQ(w.ui.messages.size(), 1u);
}

TEST_F(Replace, IdenticalTwinsAreEachReplacedInTheirOwnPlace) {
    const ByteBuffer twin = res(5, 0x66);
    openSlots({twin, twin});
    replace(2, bytes({9, 9}));
    EXPECT_EQ(w.state.file.bytes,
              join({guard(), twin, guard(), bytes({9, 9}), filler(7, 0), guard()}));
    replace(1, bytes({8}));
    EXPECT_EQ(w.state.file.bytes, join({guard(), bytes({8}), filler(8, 0), guard(), bytes({9, 9}),
                                        filler(7, 0), guard()}));
}

TEST_F(Replace, SecondReplacementFitsTheWholeSlot) {
    openSlots({res(6, 0x11), res(2, 0x22)});
    replace(1, bytes({1, 2}));
    EXPECT_TRUE(w.ui.messages.empty());
    replace(1, filler(10, 0x33));  // longer than the first new data, not than the slot
    EXPECT_TRUE(w.ui.messages.empty());
    EXPECT_EQ(w.state.file.bytes,
              join({guard(), filler(10, 0x33), guard(), res(2, 0x22), guard()}));
    replace(1, filler(11, 0x44));  // now longer than the slot
    EXPECT_EQ(w.ui.messages.size(), 1u);
    EXPECT_NE(w.ui.messages[0].text.find(gbk("大小:11超过原资源的大小:10")), Text::npos);
    EXPECT_EQ(w.state.file.bytes,
              join({guard(), filler(11, 0x44), guard(), res(2, 0x22), guard()}));
}

TEST_F(Replace, FillsThatDifferFromTheFileStillReplaceTheSlot) {
    w.setKinds(kindsFile(
        {"资源种类数=1", "1=A", "A_head=AA01", "A_tail=02BB", "A头补齐=7777", "A尾补齐=99"}));
    ScanWorld& x = w;
    ByteBuffer file = join({guard(), res(3, 0x11), guard()});
    ASSERT_TRUE(x.open(file));
    EXPECT_EQ(x.state.catalogue.data(1),
              join({bytes({0x77, 0x77, 0x01}), filler(3, 0x11), bytes({0x02, 0xBB, 0x99})}));
    replace(1, bytes({5, 5, 5}));
    EXPECT_EQ(x.state.file.bytes, join({guard(), bytes({5, 5, 5}), filler(4, 0), guard()}));
}

TEST_F(Replace, UnreadableFileChangesNothingAndEmptyFileZeroFills) {
    openSlots({res(3, 0x11), res(4, 0x22)});
    const ByteBuffer before = w.state.file.bytes;
    w.files.unreadable.insert("/data/new.bin");
    EXPECT_EQ(replace(1, bytes({1})), ReplaceResult::Unreadable);
    ASSERT_EQ(w.ui.messages.size(), 1u);
    EXPECT_EQ(w.ui.messages[0].title, gbk("提示"));
    EXPECT_NE(w.ui.messages[0].text.find("/data/new.bin"), Text::npos);
    EXPECT_NE(w.ui.messages[0].text.find(w.files.lastError()), Text::npos);
    EXPECT_EQ(w.state.file.bytes, before);
    EXPECT_FALSE(w.state.file.modified);
    EXPECT_TRUE(w.ui.isDisabled(MenuItem::Save));

    w.files.unreadable.clear();
    EXPECT_EQ(replace(2, {}), ReplaceResult::Replaced);
    EXPECT_EQ(w.state.file.bytes, join({guard(), res(3, 0x11), guard(), filler(8, 0), guard()}));
    EXPECT_TRUE(w.state.catalogue.data(2).empty());
    EXPECT_TRUE(w.ui.lastPicture()->empty());
}

TEST_F(Replace, GrowingAnInnerResourceGrowsItsEncloserAndMovesFollowers) {
    // Outer A encloses inner B: A's stretch ends at B's tail.
    const ByteBuffer inner = res(2, 0x22);
    const ByteBuffer outer = join({bytes({0xAA, 0x01}), filler(3, 0x11), inner});
    openSlots({outer, res(1, 0x33)});
    ASSERT_EQ(w.state.catalogue.size(), 3);
    replace(2, filler(9, 0x44));  // inner: 6 → 9
    EXPECT_EQ(w.state.catalogue.slot(1).length, bufferLength(outer) + 3);
    EXPECT_EQ(w.state.catalogue.slot(3).offset, 8 + bufferLength(outer) + 3 + 8);
    EXPECT_EQ(w.state.catalogue.data(1), outer);  // its data stays as opened
    // Replacing the outer one now covers the grown stretch.
    replace(1, filler(bufferLength(outer) + 3, 0x55));
    EXPECT_EQ(w.ui.messages.size(), 1u);  // only the inner growth asked
    EXPECT_EQ(w.state.file.bytes, join({guard(), filler(bufferLength(outer) + 3, 0x55), guard(),
                                        res(1, 0x33), guard()}));
}

// A resource inside a stretch that a replacement rewrote is no longer in the file. Replacing
// it is refused before a file is chosen, with the reason, and nothing changes: neither the
// bytes nor the modified flag (here cleared by a save after the first replacement).
TEST_F(Replace, AResourceOverwrittenByAnotherReplacementIsRefused) {
    const ByteBuffer inner = res(96, 0x22);
    openSlots({join({bytes({0xAA, 0x01}), filler(70, 0x33), inner})});
    ASSERT_EQ(w.state.catalogue.size(), 2);
    w.ui.messageAnswers.push_back(kResultOk);  // the growth question
    ASSERT_EQ(replace(1, filler(350, 0x44)), ReplaceResult::Replaced);
    w.files.directories.insert("/out");
    w.ui.fileDialogAnswers.push_back(Text("/out/saved.exe"));
    ASSERT_TRUE(saveFile(w.state));
    const ByteBuffer saved = w.state.file.bytes;
    const std::size_t dialogs = w.ui.dialogsShown.size();
    w.ui.messages.clear();

    const Text message = gbk("无法替换资源:") + w.ui.treeItemText(w.itemOfResource(2)) +
                         gbk("\r\n原因:另一个资源的替换改写了它所在的字节,它已不在文件中");
    struct Case {
        const char* name;
        std::function<ReplaceResult()> act;
        std::size_t dialogsAfter;
    };
    const std::vector<Case> cases = {
        {"menu command", [&] { return replace(2, filler(50, 0x55)); }, dialogs},
        {"data already read",
         [&] { return applyReplacement(w.state, w.itemOfResource(2), filler(50, 0x55)); }, dialogs},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        w.ui.messages.clear();
        w.ui.fileDialogAnswers.clear();
        EXPECT_EQ(c.act(), ReplaceResult::Overwritten);
        EXPECT_EQ(w.ui.dialogsShown.size(), c.dialogsAfter);
        ASSERT_EQ(w.ui.messages.size(), 1u);
        EXPECT_EQ(w.ui.messages[0].text, message);
        EXPECT_EQ(w.ui.messages[0].style, MessageStyle::OkInformation);
        EXPECT_EQ(w.state.file.bytes, saved);
        EXPECT_FALSE(w.state.file.modified);
        EXPECT_TRUE(w.ui.isDisabled(MenuItem::Save));
    }
    // Its export still writes the resource as it was found.
    w.ui.select(w.itemOfResource(2));
    w.ui.fileDialogAnswers.push_back(Text("/out/inner.bin"));
    EXPECT_TRUE(exportResource(w.state));
    EXPECT_EQ(w.files.files["/out/inner.bin"], inner);
}

TEST_F(Replace, RescanOfTheSavedFileFindsTheNewDataWhereItWasPut) {
    openSlots({res(2, 0x11), res(3, 0x22), res(4, 0x33)});
    replace(1, res(10, 0x44));
    w.files.files["/data/saved.bin"] = w.state.file.bytes;
    w.ui.messageAnswers.push_back(kResultNo);  // saved already, by hand
    ASSERT_TRUE(openAndScan(w.state, "/data/saved.bin"));
    const std::vector<Listed> got = w.listed();
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[0].offset, 8);
    EXPECT_EQ(got[0].data, res(10, 0x44));
    EXPECT_EQ(got[1].offset, 8 + 14 + 8);
    EXPECT_EQ(got[1].data, res(3, 0x22));
}

TEST_F(Replace, FilterAndSelectionRules) {
    w.setKinds(kindsFile({"资源种类数=2", "1=A", "A_head=AA01", "A_tail=02BB", "A头补齐=AA",
                          "A文件后缀=bin", "2=B", "B_head=CC", "B_tail=DD", "B头补齐=CC"}));
    ASSERT_TRUE(w.open(join({res(1, 0x11), bytes({0xCC, 0x00, 0xDD})})));
    w.ui.select(0);  // a group node
    EXPECT_EQ(replaceResource(w.state), ReplaceResult::NotAResource);
    EXPECT_TRUE(w.ui.dialogsShown.empty());
    w.ui.select(3);  // the last group's resource, B without a suffix key
    EXPECT_EQ(replaceResource(w.state), ReplaceResult::Cancelled);
    ASSERT_EQ(w.ui.dialogsShown.size(), 1u);
    EXPECT_EQ(w.ui.dialogsShown[0].filter, gbk("B格式资源文件|*.B|所有类型文件|*.*"));
    EXPECT_FALSE(w.state.file.modified);
    w.ui.select(1);
    replaceResource(w.state);
    EXPECT_EQ(w.ui.dialogsShown[1].filter, gbk("A格式资源文件|*.bin|所有类型文件|*.*"));
    EXPECT_EQ(w.ui.dialogsShown[1].mode, FileDialogMode::Open);
}

}  // namespace
}  // namespace kerbilo::testing
