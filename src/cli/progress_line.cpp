#include "cli/progress_line.h"

#include "app/texts.h"
#include "runtime/byte_ops.h"
#include "runtime/gbk.h"

namespace kerbilo::cli {

bool ProgressLine::due() {
    if (!out_) return false;
    const auto now = std::chrono::steady_clock::now();
    if (shown_ && now - last_ < std::chrono::milliseconds(100)) return false;
    last_ = now;
    return true;
}

void ProgressLine::show(const Text& text) {
    shown_ = true;
    std::fprintf(out_, "\r\033[K%s", gbkToUtf8(text).c_str());
    std::fflush(out_);
}

void ProgressLine::kindBegins(const Text& name) {
    if (due())
        show(concatText({app_text::parsingKindPrefix(), name, app_text::parsingKindSuffix()}));
}

void ProgressLine::headFound(std::int64_t at) {
    if (due()) show(concatText({app_text::parsingPrefix(), intToText(at + 1)}));
}

void ProgressLine::scanned() {
    if (due()) show(app_text::parsingDone());
}

void ProgressLine::writing(const Text& label) {
    if (due()) show(concatText({app_text::writingPrefix(), label}));
}

void ProgressLine::finish() {
    if (!out_ || !shown_) return;
    std::fputs("\r\033[K", out_);
    std::fflush(out_);
    shown_ = false;
}

}  // namespace kerbilo::cli
