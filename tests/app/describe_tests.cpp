// The tree's tooltips: the whole node text, and for a resource what it really is.

#include <gtest/gtest.h>

#include "app/commands.h"
#include "app_helpers.h"
#include "config/hex_codec.h"
#include "runtime/gbk.h"
#include "test_data.h"

namespace kerbilo::testing {
namespace {

TEST(Describe, TooltipsSayWhatEachResourceIs) {
    ScanWorld w;
    const ByteBuffer png = fixturePicture("rose_text.png");
    const ByteBuffer gif = fixturePicture("rose_anim.gif");
    ASSERT_FALSE(png.empty());
    // Default kinds: the PNG whole; the animated GIF cut at the 00 3B inside its data; a
    // PNG-shaped run of other bytes.
    ASSERT_TRUE(w.open(join({png, filler(5), gif, filler(5), pngHead(), filler(3), pngTail()})));
    const auto label = [](std::size_t offset) { return formatHex(offset + 1) + "\r\n"; };
    const std::size_t gifAt = png.size() + 5, fakeAt = gifAt + gif.size() + 5;
    struct Case {
        int n;
        std::string text;
    };
    const Case cases[] = {
        {1, label(0) + "PNG 图片 70×46，7011 字节，完整"},
        {2, label(fakeAt) + "PNG 图片 ，27 字节，已损坏：数据块类型不是四个字母，无法显示"},
        {3,
         label(gifAt) + "GIF 动画 70×46，3 帧，1293 字节，不完整：按格式应为 5073 字节，无法显示"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.n);
        EXPECT_EQ(gbkToUtf8(describeTreeItem(w.state, w.itemOfResource(c.n))), c.text);
    }
    EXPECT_EQ(describeTreeItem(w.state, 0), gbk("PNG格式资源")) << "a group: its text";
    EXPECT_EQ(describeTreeItem(w.state, 99), "");
}

TEST(Describe, TrailingBytesAndPicturesWithoutAnEnd) {
    ScanWorld w;
    w.setKinds(kindsFile({"资源种类数=1", "1=B", "B_head=424D", "B_tail=5A5A", "B头补齐=42"}));
    const ByteBuffer bmp = fixturePicture("rose.bmp");
    ASSERT_TRUE(w.open(join({bmp, bytes({0x01, 0x5A, 0x5A})})));
    ASSERT_GE(w.state.catalogue.size(), 1);
    EXPECT_EQ(gbkToUtf8(describeTreeItem(w.state, w.itemOfResource(1))),
              "1\r\nBMP 图片 35×23，" + std::to_string(bmp.size() + 3) + " 字节，末尾多出 3 " +
                  "字节：按格式应为 " + std::to_string(bmp.size()) + " 字节");
}

}  // namespace
}  // namespace kerbilo::testing
