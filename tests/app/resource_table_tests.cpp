// The details view's rows: cells from the catalogue, facts from inspection, orders by
// every column with rows not inspected yet last, and the worker that inspects them.

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "app/resource_table.h"
#include "app_helpers.h"
#include "scan_helpers.h"

namespace kerbilo::testing::resource_table_tests {

// Three PNG-shaped resources of 4, 1 and 9 bytes of body: not pictures that decode.
ScanWorld threeResources() {
    ScanWorld w;
    EXPECT_TRUE(
        w.open(join({filler(3), png(filler(4)), filler(2), png(filler(1)), png(filler(9))})));
    return w;
}

TEST(ResourceTable, CellsComeFromTheCatalogueAndFacts) {
    ScanWorld w = threeResources();
    const Document& doc = w.state;
    ASSERT_EQ(doc.catalogue.size(), 3);
    EXPECT_EQ(tableCell(doc, 1, TableColumn::Number, nullptr), "1");
    EXPECT_EQ(tableCell(doc, 1, TableColumn::Kind, nullptr), "PNG");
    EXPECT_EQ(tableCell(doc, 1, TableColumn::Offset, nullptr), "00000003");
    EXPECT_EQ(tableCell(doc, 2, TableColumn::Size, nullptr),
              std::to_string(doc.catalogue.dataLength(2)));
    EXPECT_EQ(tableCell(doc, 1, TableColumn::Source, nullptr), "") << "found by signature";
    for (const TableColumn c :
         {TableColumn::Format, TableColumn::Dimensions, TableColumn::Frames, TableColumn::Verdict})
        EXPECT_EQ(tableCell(doc, 1, c, nullptr), "") << "not inspected yet";

    Inspection png;
    png.format = PictureFormat::Png;
    png.verdict = Verdict::Complete;
    png.width = 300;
    png.height = 20;
    png.frames = 1;
    EXPECT_EQ(tableCell(doc, 1, TableColumn::Format, &png), "PNG");
    EXPECT_EQ(tableCell(doc, 1, TableColumn::Dimensions, &png), utf8ToGbk("300×20"));
    EXPECT_EQ(tableCell(doc, 1, TableColumn::Verdict, &png), utf8ToGbk("完整"));
    // What a picture does not have stays empty, not 0×0.
    Inspection junk;
    junk.verdict = Verdict::NotAPicture;
    EXPECT_EQ(tableCell(doc, 1, TableColumn::Dimensions, &junk), "");
    EXPECT_EQ(tableCell(doc, 1, TableColumn::Frames, &junk), "");
    EXPECT_EQ(tableCell(doc, 1, TableColumn::Verdict, &junk), utf8ToGbk("不是图片"));
}

TEST(ResourceTable, OrdersByEachColumnWithUnknownFactsLast) {
    ScanWorld w = threeResources();
    const Document& doc = w.state;
    std::vector<std::optional<Inspection>> facts(4);
    EXPECT_EQ(sortedResources(doc, TableColumn::Size, true, facts), (std::vector<int>{2, 1, 3}));
    EXPECT_EQ(sortedResources(doc, TableColumn::Size, false, facts), (std::vector<int>{3, 1, 2}));
    EXPECT_EQ(sortedResources(doc, TableColumn::Offset, false, facts), (std::vector<int>{3, 2, 1}));
    EXPECT_EQ(sortedResources(doc, TableColumn::Kind, true, facts), (std::vector<int>{1, 2, 3}))
        << "ties keep the numbers' order";

    Inspection big, small;
    big.format = small.format = PictureFormat::Png;
    big.width = big.height = 64;
    small.width = small.height = 8;
    facts[3] = big;
    facts[1] = small;
    // Resource 2 is not inspected: last, whichever way.
    EXPECT_EQ(sortedResources(doc, TableColumn::Dimensions, true, facts),
              (std::vector<int>{1, 3, 2}));
    EXPECT_EQ(sortedResources(doc, TableColumn::Dimensions, false, facts),
              (std::vector<int>{3, 1, 2}));
}

TEST(ResourceTable, WorkerInspectsTheLatestAskedFirst) {
    ScanWorld w = threeResources();
    const Document& doc = w.state;
    BackgroundInspector inspector;
    for (int n = 1; n <= 3; ++n) inspector.ask(7, n, inspectionInput(doc, n));
    inspector.ask(7, 2, inspectionInput(doc, 2));  // asked again: to the front, answered once
    std::vector<BackgroundInspector::Result> got;
    for (int spins = 0; spins < 5000 && got.size() < 3; ++spins) {
        for (auto& r : inspector.take()) got.push_back(std::move(r));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(got.size(), 3u);
    EXPECT_TRUE(inspector.idle());
    for (const auto& r : got) {
        EXPECT_EQ(r.generation, 7u);
        const Inspection direct = inspectCatalogued(doc, r.n);
        EXPECT_EQ(r.facts.format, direct.format);
        EXPECT_EQ(r.facts.verdict, direct.verdict);
    }
    // Asked again, 2 went before 3, which was asked after it the first time (1 may have
    // been running already).
    const auto at = [&](int n) {
        return std::find_if(got.begin(), got.end(), [&](const auto& r) { return r.n == n; }) -
               got.begin();
    };
    EXPECT_LT(at(2), at(3));
}

}  // namespace kerbilo::testing::resource_table_tests
