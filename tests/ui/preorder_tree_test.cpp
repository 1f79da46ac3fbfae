#include <gtest/gtest.h>

#include "preorder_tree.h"

namespace kerbilo {
namespace {

TEST(PreorderTree, ChildOfAnEarlierGroupShiftsWhatFollows) {
    PreorderTree t;
    const int a = t.add(-1, "A", 0);
    t.add(a, "a1", 1);
    const int b = t.add(-1, "B", 0);
    const int b1 = t.add(b, "b1", 2);
    t.select(b1);
    // a2 goes after a's subtree, before B: B and b1 move down by one.
    EXPECT_EQ(t.add(a, "a2", 3), 2);
    EXPECT_EQ(t.count(), 5);
    const char* texts[] = {"A", "a1", "a2", "B", "b1"};
    const int parents[] = {-1, 0, 0, -1, 3};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(t.text(i), texts[i]);
        EXPECT_EQ(t.parent(i), parents[i]) << i;
    }
    EXPECT_EQ(t.selected(), 4) << "the selection stays on its item";
    EXPECT_EQ(t.add(-1, "C", 0), 5);
    EXPECT_EQ(t.add(1, "deep", 9), 2);  // grandchild under a1
    EXPECT_EQ(t.parent(2), 1);
    EXPECT_EQ(t.parent(5), 4);
}

TEST(PreorderTree, TextsOfAnyLengthAndNeutralResults) {
    PreorderTree t;
    const Text longText(300, 'x');
    t.add(-1, longText, 7);
    t.add(42, "orphan goes top level", 0);
    t.add(-1, "", 0);
    EXPECT_EQ(t.text(0), longText);
    EXPECT_EQ(t.data(0), 7);
    EXPECT_EQ(t.parent(1), -1);
    EXPECT_EQ(t.text(2), "");
    EXPECT_EQ(t.text(-1), "");
    EXPECT_EQ(t.data(3), 0);
    EXPECT_EQ(t.parent(99), -1);
    EXPECT_EQ(t.selected(), -1);
    t.select(1);
    t.clear();
    EXPECT_EQ(t.count(), 0);
    EXPECT_EQ(t.selected(), -1);
}

}  // namespace
}  // namespace kerbilo
