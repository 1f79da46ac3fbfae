#include <gtest/gtest.h>

#include "runtime/byte_ops.h"
#include "scan/tree.h"
#include "scan_helpers.h"

namespace kerbilo::testing {
namespace {

TEST(Tree, SelectionShowsResourcesOnlyAndKeepsThePicture) {
    ScanWorld w;
    w.open(join({png(filler(2)), png(filler(3))}));
    showSelectedResource(w.state);  // nothing selected
    EXPECT_EQ(w.ui.lastPicture(), nullptr);
    w.ui.select(2);
    showSelectedResource(w.state);
    w.ui.select(0);  // the group node
    showSelectedResource(w.state);
    ASSERT_EQ(w.ui.pictures[Pane::Main].size(), 1u);
    EXPECT_EQ(*w.ui.lastPicture(), png(filler(3)));
    // Another file leaves the picture until one of its resources is selected.
    w.open(png(filler(7)));
    EXPECT_EQ(w.ui.pictures[Pane::Main].size(), 1u);
}

TEST(Tree, RightClickPopsUpThenSelectsThenRunsTheChosenCommand) {
    ScanWorld w;
    w.open(join({png(filler(2)), png(filler(3))}));
    w.ui.select(1);
    std::vector<std::string> order;
    int actedOn = -1;
    w.ui.onPopUp = [&](Menu m) {
        order.push_back(m == Menu::Edit ? "menu" : "other menu");
        EXPECT_TRUE(parkCommand(w.state, [&] {
            order.push_back("command");
            actedOn = resourceOfItem(w.state, w.ui.selectedTreeItem());
        }));
    };
    treeRightButtonPressed(w.state, [&] {
        order.push_back("press");
        w.ui.select(2);
        showSelectedResource(w.state);
    });
    EXPECT_EQ(order, (std::vector<std::string>{"menu", "press", "command"}));
    EXPECT_EQ(actedOn, 2);
    EXPECT_EQ(*w.ui.lastPicture(), png(filler(3)));
    EXPECT_FALSE(parkCommand(w.state, [] {}));  // menu closed: commands run directly
}

TEST(Tree, RightClickDismissedRunsNothing) {
    ScanWorld w;
    int presses = 0;
    treeRightButtonPressed(w.state, [&] { ++presses; });
    EXPECT_EQ(presses, 1);
    EXPECT_EQ(w.ui.popUps, std::vector<Menu>{Menu::Edit});
}

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
