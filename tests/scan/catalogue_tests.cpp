#include <gtest/gtest.h>

#include "scan/catalogue.h"
#include "scan_helpers.h"

namespace kerbilo::testing {
namespace {

// Slot 3 is [20, 30) and is rewritten, grown to 16 bytes or with data that fitted (10).
// What encloses it grows, what follows moves, what lies before stays, and what met the
// rewritten stretch otherwise is no longer in the copy.
TEST(Catalogue, RewriteSlotMovesFollowersGrowsEnclosersAndOverwritesTheRest) {
    struct Expected {
        std::int64_t offset, length;
        bool overwritten;
    };
    struct Case {
        std::int64_t newLength;
        std::vector<Expected> slots;
    };
    const std::vector<Case> cases = {
        {16,
         {{0, 66, false},     // 1 encloses 3
          {15, 10, true},     // 2 starts before 3, ends inside it
          {20, 16, false},    // 3 the slot
          {22, 3, true},      // 4 nested inside
          {36, 5, false},     // 5 starts at its end
          {20, 46, false},    // 6 same start, longer
          {25, 50, true},     // 7 starts inside, ends after
          {0, 20, false},     // 8 ends at its start
          {20, 16, false}}},  // 9 the very same stretch
        {10,
         {{0, 60, false},
          {15, 10, true},
          {20, 10, false},
          {22, 3, true},
          {30, 5, false},
          {20, 40, false},
          {25, 50, true},
          {0, 20, false},
          {20, 10, false}}},
    };
    const std::vector<std::pair<int, int>> kAppended = {
        {0, 60}, {15, 10}, {20, 10}, {22, 3}, {30, 5}, {20, 40}, {25, 50}, {0, 20}, {20, 10}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.newLength);
        ResourceCatalogue cat;
        cat.reset(filler(100));
        const int k = cat.addKind("A", bytes({0x11}), {});
        for (const auto& [off, len] : kAppended) cat.append(k, off, len);
        cat.rewriteSlot(3, c.newLength);
        for (int n = 1; n <= cat.size(); ++n) {
            SCOPED_TRACE(n);
            const Expected& e = c.slots[static_cast<std::size_t>(n - 1)];
            EXPECT_EQ(cat.overwritten(n), e.overwritten);
            if (e.overwritten) continue;  // its slot means nothing any more
            EXPECT_EQ(cat.slot(n).offset, e.offset);
            EXPECT_EQ(cat.slot(n).length, e.length);
        }
        // Slots move; data stays the bytes as opened, overwritten or not.
        EXPECT_EQ(cat.data(5), filler(5));
        EXPECT_EQ(cat.data(4), filler(3));
        // A later rewrite of an encloser leaves an overwritten slot as it is.
        const Slot before = cat.slot(7);
        cat.rewriteSlot(1, 100);
        EXPECT_EQ(cat.slot(7).offset, before.offset);
        EXPECT_TRUE(cat.overwritten(3));
    }
}

}  // namespace
}  // namespace kerbilo::testing
