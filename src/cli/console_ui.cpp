#include "cli/console_ui.h"

#include <cstring>

#include "runtime/gbk.h"

namespace kerbilo::cli {

int ConsoleUi::showMessage(const Text& text, MessageStyle style, const Text& title) {
    finishProgress();
    messages.push_back({text, style, title});
    return messageAnswer;
}

bool ConsoleUi::showFileDialog(FileDialogSettings& settings) {
    if (fileAnswers.empty()) return false;
    settings.fileName = fileAnswers.front();
    fileAnswers.pop_front();
    return true;
}

std::optional<Text> ConsoleUi::chooseFolder(const Text&, std::uintptr_t) {
    return folderAnswer;
}

void ConsoleUi::setStatusText(int part, const Text& text) {
    if (part != 0 || !progress_) return;
    // Millions of heads give millions of texts; the terminal sees a few per second.
    const auto now = std::chrono::steady_clock::now();
    if (progressShown_ && now - lastProgress_ < std::chrono::milliseconds(100)) return;
    lastProgress_ = now;
    progressShown_ = true;
    std::fprintf(progress_, "\r\033[K%s", gbkToUtf8(text).c_str());
    std::fflush(progress_);
}

void ConsoleUi::finishProgress() {
    if (!progress_ || !progressShown_) return;
    std::fputs("\r\033[K", progress_);
    std::fflush(progress_);
    progressShown_ = false;
}

}  // namespace kerbilo::cli
