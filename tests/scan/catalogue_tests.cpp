#include <gtest/gtest.h>

#include "scan/catalogue.h"
#include "scan_helpers.h"

namespace kerbilo::testing {
namespace {

TEST(Catalogue, ResizeSlotMovesFollowersAndGrowsEnclosers) {
    ResourceCatalogue c;
    c.reset(filler(100));
    const int k = c.addKind("A", bytes({0x11}), {});
    c.append(k, 0, 60);   // 1 encloses 3
    c.append(k, 5, 10);   // 2 before 3, ends inside it
    c.append(k, 20, 10);  // 3 the slot: [20, 30)
    c.append(k, 22, 3);   // 4 nested inside
    c.append(k, 30, 5);   // 5 starts at its end
    c.append(k, 20, 40);  // 6 same start, longer
    c.append(k, 25, 50);  // 7 starts inside, ends after
    c.resizeSlot(3, 16);
    const std::vector<std::pair<std::int64_t, std::int64_t>> expected = {
        {0, 66}, {5, 10}, {20, 16}, {22, 3}, {36, 5}, {20, 46}, {25, 50}};
    for (int n = 1; n <= c.size(); ++n) {
        EXPECT_EQ(c.slot(n).offset, expected[n - 1].first) << n;
        EXPECT_EQ(c.slot(n).length, expected[n - 1].second) << n;
        EXPECT_EQ(c.dataLength(n), n == 3 ? 10 : c.dataLength(n));
    }
    // Slots move; data stays the bytes as opened.
    EXPECT_EQ(c.data(5), filler(5));
}

}  // namespace
}  // namespace kerbilo::testing
