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

void FakeUi::setStatusText(const Text& text) {
    statusText = text;
    statusTexts.push_back(text);
}

void FakeUi::expandTreeItem(int index) {
    if (tree_.valid(index)) expanded.push_back(index);
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
