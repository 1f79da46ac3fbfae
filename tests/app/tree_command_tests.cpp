#include <gtest/gtest.h>

#include "app/commands.h"
#include "app_helpers.h"
#include "runtime/byte_ops.h"

namespace kerbilo::testing {
namespace {

TEST(Tree, SelectionShowsResourcesOnlyAndKeepsThePicture) {
    ScanWorld w;
    w.open(join({png(filler(2)), png(filler(3))}));
    const std::size_t shown = w.ui.pictures[Pane::Main].size();  // the open emptied the pane
    showSelectedResource(w.state);                               // nothing selected
    EXPECT_EQ(w.ui.pictures[Pane::Main].size(), shown);
    w.ui.select(2);
    showSelectedResource(w.state);
    w.ui.select(0);  // the group node
    showSelectedResource(w.state);
    ASSERT_EQ(w.ui.pictures[Pane::Main].size(), shown + 1);
    EXPECT_EQ(*w.ui.lastPicture(), png(filler(3)));
    // Another file empties the pane until one of its resources is selected.
    w.open(png(filler(7)));
    EXPECT_EQ(w.ui.pictures[Pane::Main].size(), shown + 2);
    EXPECT_TRUE(w.ui.lastPicture()->empty());
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

}  // namespace
}  // namespace kerbilo::testing
