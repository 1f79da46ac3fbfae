#include "cli/console_ui.h"

#include "runtime/gbk.h"

namespace kerbilo::cli {

int ConsoleUi::showMessage(const Text&, MessageStyle style, const Text&) {
    finishProgress();
    // As a box closed without pressing a button: Cancel where there is one.
    return style == MessageStyle::OkInformation ? kResultOk : kResultCancel;
}

bool ConsoleUi::menuItemDisabled(MenuItem item) const {
    const auto it = disabled_.find(item);
    return it != disabled_.end() && it->second;
}

void ConsoleUi::setStatusText(int part, const Text& text) {
    if (part != 0) return;
    status_ = text;
    if (!progress_) return;
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
