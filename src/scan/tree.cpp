#include "scan/tree.h"

#include "config/hex_codec.h"
#include "runtime/byte_ops.h"
#include "scan/texts.h"

namespace kerbilo {

void publishKindGroup(ProgramState& state, const Text& name, int before, int added) {
    UiServices& ui = state.ui;
    const int group = ui.addTreeItem(-1, concatText({name, scan_text::groupSuffix()}));
    for (int i = 1; i <= added; ++i) {
        ui.processPendingEvents();
        const int n = before + i;
        ui.addTreeItem(group, formatHex(state.catalogue.labelPosition(n)), n);
    }
}

int resourceOfItem(ProgramState& state, int item) {
    const std::int64_t n = state.ui.treeItemData(item);
    return state.catalogue.contains(n) ? static_cast<int>(n) : 0;
}

Text kindNameOfItem(ProgramState& state, int item) {
    const Text group = state.ui.treeItemText(state.ui.treeItemParent(item));
    return leftText(group, textLength(group) - textLength(scan_text::groupSuffix()));
}

void showSelectedResource(ProgramState& state) {
    const int n = resourceOfItem(state, state.ui.selectedTreeItem());
    if (n != 0) state.ui.setPictureData(Pane::Main, state.catalogue.data(n));
}

bool parkCommand(ProgramState& state, std::function<void()> command) {
    if (!state.popUpOpen) return false;
    state.parkedCommand = std::move(command);
    return true;
}

void treeRightButtonPressed(ProgramState& state, const std::function<void()>& letPressReachTree) {
    state.parkedCommand = nullptr;
    state.popUpOpen = true;
    state.ui.popUpMenu(Menu::Edit);
    state.popUpOpen = false;
    if (letPressReachTree) letPressReachTree();
    std::function<void()> chosen = std::move(state.parkedCommand);
    state.parkedCommand = nullptr;
    if (chosen) chosen();
}

}  // namespace kerbilo
