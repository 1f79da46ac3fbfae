#include "fake_ui.h"

namespace kerbilo::testing {

int FakeUi::showMessage(const Text& text, MessageStyle style, const Text& title) {
    messages.push_back({text, style, title});
    if (messageAnswers.empty()) return defaultMessageAnswer;
    const int answer = messageAnswers.front();
    messageAnswers.pop_front();
    return answer;
}

bool FakeUi::showFileDialog(FileDialogSettings& settings) {
    dialogsShown.push_back(settings);
    if (fileDialogAnswers.empty()) return false;
    std::optional<Text> answer = fileDialogAnswers.front();
    fileDialogAnswers.pop_front();
    if (!answer) return false;
    settings.fileName = *answer;
    return true;
}

std::optional<Text> FakeUi::chooseFolder(const Text& prompt, std::uintptr_t) {
    folderPrompts.push_back(prompt);
    if (folderAnswers.empty()) return std::nullopt;
    std::optional<Text> answer = folderAnswers.front();
    folderAnswers.pop_front();
    return answer;
}

void FakeUi::setStatusText(int part, const Text& text) {
    if (part != 0) return;  // a one-part status bar
    statusText = text;
    statusTexts.push_back(text);
}

void FakeUi::clearTree() {
    items_.clear();
    lastTopLevel_ = -1;
    selected_ = -1;
}

int FakeUi::addTreeItem(int parent, const Text& text, std::int64_t itemData) {
    if (!valid(parent)) {
        items_.push_back({text, itemData, -1, 0});
        lastTopLevel_ = static_cast<int>(items_.size()) - 1;
        return lastTopLevel_;
    }
    // The new child goes after the parent's whole subtree. When the parent is the last
    // top-level item (the usual case while a scan fills a group) that is the end.
    std::size_t at = items_.size();
    if (parent != lastTopLevel_) {
        at = static_cast<std::size_t>(parent) + 1;
        while (at < items_.size() && items_[at].depth > items_[parent].depth) ++at;
    }
    const int index = static_cast<int>(at);
    if (at < items_.size()) {
        for (Item& it : items_)
            if (it.parent >= index) ++it.parent;
        if (lastTopLevel_ >= index) ++lastTopLevel_;
        if (selected_ >= index) ++selected_;
    }
    items_.insert(items_.begin() + index, {text, itemData, parent, items_[parent].depth + 1});
    return index;
}

Text FakeUi::treeItemText(int index) {
    return valid(index) ? items_[index].text : Text();
}

std::int64_t FakeUi::treeItemData(int index) {
    return valid(index) ? items_[index].data : 0;
}

int FakeUi::treeItemParent(int index) {
    return valid(index) ? items_[index].parent : -1;
}

void FakeUi::expandTreeItem(int index) {
    if (valid(index)) expanded.push_back(index);
}

void FakeUi::popUpMenu(Menu menu) {
    popUps.push_back(menu);
    if (onPopUp) onPopUp(menu);
}

void FakeUi::processPendingEvents() {
    ++processEventsCalls;
    // A handler that yields again must not re-enter the script.
    if (onProcessEvents && !inEvents_) {
        inEvents_ = true;
        onProcessEvents();
        inEvents_ = false;
    }
}

}  // namespace kerbilo::testing
