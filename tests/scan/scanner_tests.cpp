#include <gtest/gtest.h>

#include "config/hex_codec.h"
#include "runtime/byte_ops.h"
#include "scan/open.h"
#include "scan/scanner.h"
#include "scan_helpers.h"
#include "step_counter.h"

namespace kerbilo::testing {
namespace {

struct Expect {
    std::int64_t offset;
    ByteBuffer data;
};

struct ScanCase {
    const char* name;
    ByteBuffer kinds;  // empty: the default kinds file
    ByteBuffer file;
    std::vector<Expect> found;
};

ByteBuffer kindA(const std::string& head, const std::string& tail, const std::string& headFill,
                 const std::string& tailFill) {
    return kindsFile({"资源种类数=1", "1=A", "A_head=" + head, "A_tail=" + tail,
                      "A头补齐=" + headFill, "A尾补齐=" + tailFill});
}

std::vector<ScanCase> scanCases() {
    const ByteBuffer p1 = png(filler(20, 0x31));
    const ByteBuffer p2 = png(filler(7, 0x32));
    const ByteBuffer inner = png(filler(5, 0x33));
    const ByteBuffer outer = join({pngHead(), filler(9, 0x34), inner});
    return {
        {"WholeFileIsOnePng", {}, p1, {{0, p1}}},
        {"PngAt4096", {}, join({filler(4096), p1, filler(10)}), {{4096, p1}}},
        {"TwoPngsInFileOrder",
         {},
         join({filler(3), p1, p2}),
         {{3, p1}, {3 + bufferLength(p1), p2}}},
        {"NestedPngEndsBothAtInnerTail",
         {},
         join({outer, filler(4)}),
         {{0, outer}, {bufferLength(outer) - bufferLength(inner), inner}}},
        {"HeadWithoutTailAfterAMatch", {}, join({p1, pngHead(), filler(30)}), {{0, p1}}},
        {"FileShorterThanHead", {}, bytes({0x89, 0x50, 0x4E}), {}},
        {"EmptyFile", {}, {}, {}},
        {"TailBeginsInsideHead",
         kindA("AABB", "BB", "AA", ""),
         bytes({0xAA, 0xBB, 0xCC, 0xBB}),
         {{0, bytes({0xAA, 0xBB})}}},
        {"EmptyHeadFillDropsFirstByte",
         kindA("AABB", "CC", "", ""),
         bytes({0x00, 0xAA, 0xBB, 0x01, 0xCC, 0x02}),
         {{1, bytes({0xBB, 0x01, 0xCC})}}},
        {"FillsDifferFromHead",
         kindA("AABB", "CC", "EE01", "FF"),
         bytes({0xAA, 0xBB, 0x01, 0xCC}),
         {{0, bytes({0xEE, 0x01, 0xBB, 0x01, 0xCC, 0xFF})}}},
        {"OverlappingHeadsShareFirstTail",
         kindA("AA", "CC", "AA", ""),
         bytes({0xAA, 0x01, 0xAA, 0x02, 0xCC, 0xAA, 0xCC}),
         {{0, bytes({0xAA, 0x01, 0xAA, 0x02, 0xCC})},
          {2, bytes({0xAA, 0x02, 0xCC})},
          {5, bytes({0xAA, 0xCC})}}},
        {"ManyHeadsBeforeOneTail",
         kindA("AA", "CC", "AA", ""),
         bytes({0xAA, 0xAA, 0xAA, 0xAA, 0xCC}),
         {{0, bytes({0xAA, 0xAA, 0xAA, 0xAA, 0xCC})},
          {1, bytes({0xAA, 0xAA, 0xAA, 0xCC})},
          {2, bytes({0xAA, 0xAA, 0xCC})},
          {3, bytes({0xAA, 0xCC})}}},
        {"HeadAsLastByte", kindA("AA", "CC", "AA", ""), bytes({0x01, 0xAA}), {}},
        {"DefaultJpgNeedsFourByteHead",
         {},
         join({bytes({0xFF, 0xD8, 0xFF, 0xE0, 0x01, 0xFF, 0xD9}),
               bytes({0xFF, 0xD8, 0xFF, 0x0E, 0x02, 0xFF, 0xD9})}),
         {{7, bytes({0xFF, 0xD8, 0xFF, 0x0E, 0x02, 0xFF, 0xD9})}}},
    };
}

void PrintTo(const ScanCase& c, std::ostream* os) {
    *os << c.name;
}

class Scanner : public ::testing::TestWithParam<ScanCase> {};

TEST_P(Scanner, FindsEveryResourceWithItsData) {
    const ScanCase& c = GetParam();
    DocWorld w;
    if (!c.kinds.empty()) w.setKinds(c.kinds);
    ASSERT_TRUE(w.open(c.file));
    const std::vector<Listed> got = w.listed();
    ASSERT_EQ(got.size(), c.found.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(got[i].number, static_cast<int>(i) + 1);
        EXPECT_EQ(got[i].offset, c.found[i].offset);
        EXPECT_EQ(got[i].label, formatHex(c.found[i].offset + 1));
        EXPECT_EQ(got[i].data, c.found[i].data);
        EXPECT_EQ(w.doc.catalogue.dataLength(got[i].number), bufferLength(c.found[i].data));
    }
}

// The one-sweep scan gives what the kind-by-kind scan gives.
TEST_P(Scanner, OneSweepGivesTheSameResourcesAndTexts) {
    const ScanCase& c = GetParam();
    DocWorld byKind, swept;
    if (!c.kinds.empty()) {
        byKind.setKinds(c.kinds);
        swept.setKinds(c.kinds);
    }
    ASSERT_TRUE(byKind.openKindByKind(c.file));
    ASSERT_TRUE(swept.open(c.file));
    EXPECT_EQ(swept.listed(), byKind.listed());
    EXPECT_EQ(swept.ui.statusTexts, byKind.ui.statusTexts);
}

INSTANTIATE_TEST_SUITE_P(Table, Scanner, ::testing::ValuesIn(scanCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ScannerKinds, LabelOfPosition4097IsHex1001) {
    DocWorld w;
    w.open(join({filler(4096), png(filler(3))}));
    ASSERT_EQ(w.ui.treeItemCount(), 2);
    EXPECT_EQ(w.ui.treeItemText(0), gbk("PNG格式资源"));
    EXPECT_EQ(w.ui.treeItemText(1), "1001");
}

TEST(ScannerKinds, StatusTextsInOrderIncludingHeadWithoutTail) {
    DocWorld w;
    w.setKinds(kindsFile({"资源种类数=2", "1=A", "A_head=AA", "A_tail=CC", "A头补齐=AA", "2=B",
                          "B_head=BB", "B_tail=DD"}));
    w.open(bytes({0xAA, 0xCC, 0x00, 0xAA, 0xBB, 0xDD}));
    const std::vector<Text> expected = {
        gbk("正在解析程序内:A格式文件"), gbk("正在解析:1"), gbk("正在解析:4"),
        gbk("正在解析程序内:B格式文件"), gbk("正在解析:5"), gbk("文件解析已经完成")};
    EXPECT_EQ(w.ui.statusTexts, expected);
    // A's second head has no tail: A keeps its first match and B still scans.
    ASSERT_EQ(w.listed().size(), 2u);
    EXPECT_EQ(w.listed()[1].kind, "B");
    EXPECT_EQ(w.listed()[1].number, 2);
}

TEST(ScannerKinds, SkippedKindsShowNothingAndKeepNumbering) {
    DocWorld w;
    w.setKinds(kindsFile({"资源种类数=5", "1=A", "A_head=AA", "A_tail=CC", "A头补齐=AA",
                          "2=", "3=NoHead", "NoHead_tail=CC", "4=NoTail", "NoTail_head=AA", "5=E",
                          "E_head=AA", "E_tail=CC", "E头补齐=AA"}));
    w.open(bytes({0xAA, 0x01, 0xCC}));
    const std::vector<Text> expected = {gbk("正在解析程序内:A格式文件"), gbk("正在解析:1"),
                                        gbk("正在解析程序内:E格式文件"), gbk("正在解析:1"),
                                        gbk("文件解析已经完成")};
    EXPECT_EQ(w.ui.statusTexts, expected);
    const std::vector<Listed> got = w.listed();
    ASSERT_EQ(got.size(), 2u);
    EXPECT_EQ(got[0].kind, "A");
    EXPECT_EQ(got[1].kind, "E");
    EXPECT_EQ(got[1].number, 2);
}

TEST(ScannerKinds, KindsOneAndThreeOnlyGiveTwoGroupsWithRunningNumbers) {
    DocWorld w;  // default kinds: PNG, JPG, GIF
    const ByteBuffer gif =
        join({bytes({0x47, 0x49, 0x46, 0x38, 0x39, 0x61}), filler(4), bytes({0x00, 0x3B})});
    w.open(join({png(filler(2)), filler(5), png(filler(3)), gif, png(filler(1))}));
    ASSERT_EQ(w.ui.treeItemCount(), 6);
    EXPECT_EQ(w.ui.treeItemText(0), gbk("PNG格式资源"));
    EXPECT_EQ(w.ui.treeItemText(4), gbk("GIF格式资源"));
    EXPECT_EQ(w.ui.treeItemData(4), 0);
    EXPECT_EQ(w.ui.treeItemData(5), 4);  // numbering runs on into the second group
    EXPECT_EQ(w.ui.treeItemParent(5), 4);
    EXPECT_EQ(w.ui.expanded, std::vector<int>{0});
}

TEST(ScannerKinds, EmptyFileShowsEveryKindAndNoGroup) {
    DocWorld w;
    w.open({});
    EXPECT_EQ(w.ui.statusTexts.size(), 4u);
    EXPECT_EQ(w.ui.treeItemCount(), 0);
    EXPECT_TRUE(w.ui.expanded.empty());
    EXPECT_EQ(w.doc.catalogue.size(), 0);
}

// Across blocks of the sweep: heads and tails scattered over several MiB, some straddling
// the 2 MiB borders, nested heads, tails far behind their heads, a kind ending by format.
TEST(ScannerKinds, OneSweepMatchesKindByKindOverManyBlocks) {
    std::string data(5 << 20, '\0');
    std::uint32_t seed = 7;
    const auto next = [&] {
        seed = seed * 1103515245u + 12345u;
        return seed >> 8;
    };
    for (char& c : data) c = static_cast<char>(next());
    const std::string pieces[] = {"\xAA\x01", "\x02\xBB", "\xCC", "\xDD\xEE\xFF",
                                  std::string("\x89PNG\r\n\x1a\n", 8)};
    for (int i = 0; i < 3000; ++i) {
        const std::string& p = pieces[next() % 5];
        std::size_t at = next() % (data.size() - 8);
        if (i % 10 == 0) at = ((next() % 2) + 1) * (std::size_t{2} << 20) - 1 - next() % 3;
        data.replace(at, p.size(), p);
    }
    const ByteBuffer file = ByteBuffer::fromText(data);
    const ByteBuffer kinds =
        kindsFile({"资源种类数=3", "1=A", "A_head=AA01", "A_tail=02BB", "A头补齐=AA", "2=C",
                   "C_head=CC", "C_tail=DDEEFF", "C头补齐=CC", "3=P", "P_head=89504E47",
                   "P_tail=02BB", "P头补齐=89", "P结束方式=格式"});
    DocWorld byKind, swept;
    byKind.setKinds(kinds);
    swept.setKinds(kinds);
    ASSERT_TRUE(byKind.openKindByKind(file));
    ASSERT_TRUE(swept.open(file));
    ASSERT_GT(byKind.doc.catalogue.size(), 100);
    EXPECT_EQ(swept.listed(), byKind.listed());
    EXPECT_EQ(swept.ui.statusTexts, byKind.ui.statusTexts);
}

// The tail found for one head is reused by later heads; the result must equal the naive
// search from each head for any arrangement of heads and tails.
TEST(ScannerKinds, TailReuseMatchesNaiveSearch) {
    std::uint32_t seed = 12345;
    for (int round = 0; round < 200; ++round) {
        std::vector<std::uint8_t> data(64);
        for (auto& b : data) {
            seed = seed * 1103515245u + 12345u;
            b = static_cast<std::uint8_t>("\xAA\xCC\x01\xAA\xCC\x02"[(seed >> 16) % 6]);
        }
        const ByteBuffer head = bytes({0xAA}), tail = bytes({0xCC, 0x01});
        std::vector<KindMatch> fast;
        NoProgress progress;
        findKindMatches(
            data.data(), data.size(), head, tail, progress, [](std::int64_t) {},
            [&](const KindMatch& m) { fast.push_back(m); });
        std::vector<KindMatch> naive;
        for (std::size_t h = 0; h < data.size(); ++h) {
            if (data[h] != 0xAA) continue;
            const std::int64_t t =
                findBytesIn(data.data() + h + 1, data.size() - h - 1, tail.data(), tail.size());
            if (t < 0) break;
            naive.push_back({static_cast<std::int64_t>(h), t + 1 + 2});
        }
        ASSERT_EQ(fast.size(), naive.size()) << round;
        for (std::size_t i = 0; i < fast.size(); ++i) {
            EXPECT_EQ(fast[i].offset, naive[i].offset);
            EXPECT_EQ(fast[i].stretch, naive[i].stretch);
        }
    }
}

// Stretches known to be zero (holes of a mapped sparse file) are passed by instead of read:
// heads and matches are those of the search that reads every byte, for needles that begin
// with zeros, a head of zeros only, and needles across a stretch's border, searched a
// block at a time as the sweep does.
TEST(ScannerKinds, KnownZerosArePassedByWithTheSameResults) {
    std::uint32_t seed = 777;
    const auto next = [&seed] {
        seed = seed * 1103515245u + 12345u;
        return static_cast<std::size_t>(seed >> 16);
    };
    const struct {
        ByteBuffer head, tail;
    } kinds[] = {
        {bytes({0xAA}), bytes({0xCC, 0x01})},
        {bytes({0x00, 0xAA}), bytes({0x00, 0x00, 0xCC})},
        {bytes({0x00, 0x00}), bytes({0xCC})},
        {bytes({0xAA, 0x00, 0x00}), bytes({0x00, 0x00})},
    };
    for (int round = 0; round < 300; ++round) {
        std::vector<std::uint8_t> data(256);
        for (auto& b : data) b = static_cast<std::uint8_t>("\x00\xAA\xCC\x01"[next() % 4]);
        std::vector<ZeroStretch> zeros;
        for (std::size_t at = next() % 16; at < data.size();) {
            const std::size_t to = std::min(data.size(), at + 1 + next() % 40);
            std::fill(data.begin() + static_cast<std::ptrdiff_t>(at),
                      data.begin() + static_cast<std::ptrdiff_t>(to), 0);
            zeros.push_back({at, to});
            at = to + 1 + next() % 40;
        }
        for (const auto& kind : kinds) {
            const auto search = [&](std::span<const ZeroStretch> known) {
                std::vector<std::int64_t> found;
                NoProgress progress;
                KindSearch s(data.data(), data.size(), kind.head, kind.tail, false, known);
                for (std::size_t limit = 32; s.advance(
                         limit, progress, [&](std::int64_t at) { found.push_back(at); },
                         [&](const KindMatch& m) { found.push_back(-m.stretch); });
                     limit += 32) {
                }
                return found;
            };
            EXPECT_EQ(search(zeros), search({}))
                << "round " << round << ", head " << int(kind.head[0]) << " " << kind.head.size();
        }
    }
}

// A search that finds nothing for 40 MiB lets events run every 16 MiB, and a head or
// tail lying across the border of two stretches is still found where it is.
TEST(ScannerKinds, LongSearchesStepAndFindAcrossStretches) {
    constexpr std::size_t kMiB = std::size_t{1} << 20;
    const ByteBuffer head = bytes({0xAA, 0xAB}), tail = bytes({0xCC, 0xCD, 0xCE});
    std::vector<std::uint8_t> data(40 * kMiB, 0);
    StepCounter nothing;
    int heads = 0;
    findKindMatches(
        data.data(), data.size(), head, tail, nothing, [&](std::int64_t) { ++heads; },
        [](const KindMatch&) {});
    EXPECT_EQ(heads, 0);
    EXPECT_EQ(nothing.steps, 1 + 2) << "before the head search, then between three stretches";

    const std::size_t headAt = 16 * kMiB - 1, tailAt = 32 * kMiB - 2;
    std::copy(head.begin(), head.end(), data.begin() + static_cast<std::ptrdiff_t>(headAt));
    std::copy(tail.begin(), tail.end(), data.begin() + static_cast<std::ptrdiff_t>(tailAt));
    std::vector<KindMatch> found;
    StepCounter some;
    findKindMatches(
        data.data(), data.size(), head, tail, some, [](std::int64_t) {},
        [&](const KindMatch& m) { found.push_back(m); });
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].offset, static_cast<std::int64_t>(headAt));
    EXPECT_EQ(found[0].stretch, static_cast<std::int64_t>(tailAt + 3 - headAt));
}

}  // namespace
}  // namespace kerbilo::testing
