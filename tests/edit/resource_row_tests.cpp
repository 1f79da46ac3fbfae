// One resource's row as list, inspect and the manifests print it: the same values wherever
// it appears, each command choosing its columns.

#include <gtest/gtest.h>

#include <sstream>

#include "edit/resource_row.h"
#include "runtime/sha256.h"
#include "scan_helpers.h"

namespace kerbilo::testing {
namespace {

class ResourceRowsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        w.setKinds(kindsFile({"资源种类数=2", "1=A", "A_head=AA01", "A_tail=02BB", "2=图片",
                              "图片_head=CC01", "图片_tail=02DD"}));
        // Tree order groups the kinds: A's two resources are 1 and 2, 图片's is 3.
        ASSERT_TRUE(w.open(
            join({res(4, 0x11), bytes({0xCC, 0x01, 9, 0x02, 0xDD}), guard(), res(6, 0x22)})));
    }

    // The row's cells as one JSON object, so that kind and value show together.
    static std::string json(const ResourceRow& row, const std::vector<RowColumn>& columns) {
        std::ostringstream out;
        Listing listing(out, Listing::Format::Jsonl, columnNames(columns));
        std::vector<Cell> cells;
        row.appendCells(columns, cells);
        listing.row(cells);
        listing.finish();
        return out.str();
    }

    DocWorld w;
};

// Rows asked for out of order still name each resource's own kind, in UTF-8.
TEST_F(ResourceRowsTest, NameEachResourceByItsOwnKind) {
    struct Case {
        int n;
        const char* kind;
        const char* label;
        std::int64_t offset, length;
    };
    const Case cases[] = {
        {3, "图片", "9", 8, 4},
        {1, "A", "1", 0, 7},
        {2, "A", "16", 21, 9},
        {3, "图片", "9", 8, 4},
    };
    ResourceRows rows(w.doc.catalogue);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.n);
        const ResourceRow row = rows.row(c.n);
        EXPECT_EQ(row.number, c.n);
        EXPECT_EQ(row.kind, c.kind);
        EXPECT_EQ(row.label, c.label);
        EXPECT_EQ(row.offset, c.offset);
        EXPECT_EQ(row.length, c.length);
    }
}

// What only judging tells is null until the resource was judged, never a guess such as
// "not-a-picture"; once judged, a resource that is no picture has a verdict and a digest
// but no format, size or frames.
TEST_F(ResourceRowsTest, TellWhatJudgingFoundAndNothingBefore) {
    using C = RowColumn;
    const std::vector<RowColumn> all = {C::Number, C::Kind,   C::Label,  C::Offset, C::Length,
                                        C::Format, C::Width,  C::Height, C::Frames, C::Verdict,
                                        C::Extent, C::Sha256, C::Path};
    ResourceRows rows(w.doc.catalogue);
    EXPECT_EQ(json(rows.row(1), all),
              "{\"number\":1,\"kind\":\"A\",\"label\":\"1\",\"offset\":0,\"length\":7,"
              "\"format\":null,\"width\":null,\"height\":null,\"frames\":null,"
              "\"verdict\":null,\"extent\":null,\"sha256\":null,\"path\":\"\"}\n");

    const ByteBuffer data = w.doc.catalogue.data(1);
    ResourceRow judged = rows.row(1, judgeResource(w.doc, 1));
    judged.path = "out/1.bin";
    EXPECT_EQ(
        json(judged, {C::Sha256, C::Path, C::Format, C::Width, C::Frames, C::Verdict, C::Extent}),
        "{\"sha256\":\"" + sha256Hex(data.data(), data.size()) +
            "\",\"path\":\"out/1.bin\",\"format\":null,\"width\":null,\"frames\":null,"
            "\"verdict\":\"not-a-picture\",\"extent\":null}\n");
}

}  // namespace
}  // namespace kerbilo::testing
