// Kinds that end their resources where the picture format ends: real pictures written by
// real tools, embedded in random bytes, come out byte for byte, also when a tail signature
// occurs inside them; heads that are no picture fall back to the first tail.

#include <gtest/gtest.h>

#include <random>

#include "runtime/byte_ops.h"
#include "scan/open.h"
#include "scan_helpers.h"
#include "test_data.h"

namespace kerbilo::testing {
namespace {

ByteBuffer randomBytes(std::size_t n, unsigned seed) {
    std::mt19937 random(seed);
    std::string s(n, '\0');
    for (char& c : s) c = static_cast<char>(random());
    return ByteBuffer::fromText(s);
}

const char* const kPictures[] = {
    "rose_anim.gif", "rose_exif.jpg", "rose_progressive.jpg", "rose_restart.jpg", "rose_text.png",
    "rose_idat.png", "rose_16.png",   "rose_palette.png",     "rose.bmp",         "rose_v5.bmp",
    "rose.ico",      "rose.cur",
};

struct Placed {
    const char* name;
    std::int64_t offset;
    ByteBuffer bytes;
};

// Every picture between random bytes, in order.
ByteBuffer embed(std::vector<Placed>& placed) {
    ByteBuffer file = randomBytes(333, 1);
    unsigned seed = 2;
    for (const char* name : kPictures) {
        const ByteBuffer picture = fixturePicture(name);
        placed.push_back({name, bufferLength(file), picture});
        file = join({file, picture, randomBytes(100 + 37 * seed, seed)});
        ++seed;
    }
    return file;
}

TEST(EndsByFormat, RecommendedKindsExportEveryPictureWhole) {
    const ByteBuffer kinds = recommendedKinds();
    ASSERT_FALSE(kinds.empty()) << "docs/kinds/recommended.config";
    std::vector<Placed> placed;
    const ByteBuffer file = embed(placed);
    DocWorld w;
    w.setKinds(kinds);
    ASSERT_TRUE(w.open(file));
    const std::vector<Listed> got = w.listed();
    for (const Placed& p : placed) {
        SCOPED_TRACE(p.name);
        ASSERT_FALSE(p.bytes.empty());
        const auto it = std::find_if(got.begin(), got.end(),
                                     [&](const Listed& l) { return l.offset == p.offset; });
        ASSERT_NE(it, got.end());
        EXPECT_EQ(it->data, p.bytes);
    }
}

// The same file and kinds without the ending key: the animated GIF ends at the 00 3B inside
// its compressed data, as it always has.
TEST(EndsByFormat, WithoutTheKeyOrTheOptionNothingChanges) {
    std::vector<Placed> placed;
    const ByteBuffer file = embed(placed);
    Text kinds(recommendedKinds().view());
    for (std::size_t at; (at = kinds.find(gbk("结束方式=格式"))) != Text::npos;)
        kinds.erase(kinds.rfind("\r\n", at), kinds.find("\r\n", at) - kinds.rfind("\r\n", at));
    DocWorld plain, keyed, optioned;
    plain.setKinds(ByteBuffer::fromText(kinds));
    optioned.setKinds(ByteBuffer::fromText(kinds));
    keyed.setKinds(recommendedKinds());
    ASSERT_TRUE(plain.open(file));
    ASSERT_TRUE(keyed.open(file));
    optioned.files.files["/data/app.exe"] = file;
    ASSERT_TRUE(
        openFile(optioned.services, optioned.doc, "/data/app.exe", {true}, optioned.view).opened);

    // Without the key: only the kinds with a tail find anything, each ending at a tail.
    const ByteBuffer gif = placed[0].bytes;
    const std::vector<Listed> got = plain.listed();
    ASSERT_FALSE(got.empty());
    EXPECT_EQ(got.front().kind, "PNG");
    for (const Listed& l : got) {
        if (l.offset != placed[0].offset) continue;
        EXPECT_LT(bufferLength(l.data), bufferLength(gif)) << "cut at the inner 00 3B";
        EXPECT_EQ(l.data, gif.slice(0, l.data.size()));
    }
    // The option does for every kind what the key does for each.
    EXPECT_EQ(optioned.listed(), keyed.listed());
    EXPECT_NE(plain.listed(), keyed.listed());
}

// A head whose walk fails ends at the first tail after it; without such a tail it gives
// nothing and the search goes on, so a false head cannot hide a picture after it.
TEST(EndsByFormat, HeadsThatDoNotWalkFallBackToTheTail) {
    const ByteBuffer picture = fixturePicture("rose_palette.png");
    const ByteBuffer falseHead = join({pngHead(), filler(20, 0x55)});
    struct Case {
        const char* name;
        ByteBuffer file;
        std::vector<std::int64_t> offsets;
        std::vector<std::int64_t> lengths;
    };
    const std::int64_t h = bufferLength(falseHead);
    const std::vector<Case> cases = {
        {"false head, then a picture", join({falseHead, picture}), {0, h}, {h + 1382, 1382}},
        {"no tail after a false head", join({picture, falseHead}), {0}, {1382}},
        {"false head ended by a lone tail", join({falseHead, pngTail()}), {0}, {h + 12}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        DocWorld w;
        w.setKinds(kindsFile({"资源种类数=1", "1=P", "P_head=89504E470D0A1A0A",
                              "P_tail=0000000049454E44AE426082", "P头补齐=89", "P结束方式=格式"}));
        ASSERT_TRUE(w.open(c.file));
        ASSERT_EQ(w.doc.catalogue.size(), static_cast<int>(c.offsets.size()));
        for (int n = 1; n <= w.doc.catalogue.size(); ++n) {
            EXPECT_EQ(w.doc.catalogue.openedOffset(n), c.offsets[n - 1]) << n;
            EXPECT_EQ(w.doc.catalogue.dataLength(n), c.lengths[n - 1]) << n;
        }
    }
}

// An empty tail is allowed for a kind that ends by format.
TEST(EndsByFormat, EmptyTailIsAllowed) {
    const ByteBuffer bmp = fixturePicture("rose.bmp");
    DocWorld w;
    w.setKinds(kindsFile({"资源种类数=1", "1=B", "B_head=424D", "B头补齐=42", "B结束方式=格式"}));
    ASSERT_TRUE(w.open(join({filler(9, 0), bmp, filler(9, 0)})));
    ASSERT_EQ(w.doc.catalogue.size(), 1);
    EXPECT_EQ(w.doc.catalogue.data(1), bmp);
    DocWorld plain;
    plain.setKinds(kindsFile({"资源种类数=1", "1=B", "B_head=424D", "B头补齐=42"}));
    ASSERT_TRUE(plain.open(join({filler(9, 0), bmp})));
    EXPECT_EQ(plain.doc.catalogue.size(), 0) << "skipped without the key, as before";
    EXPECT_TRUE(plain.ui.statusTexts.size() == 1) << "only the completion text";
}

}  // namespace
}  // namespace kerbilo::testing
