#include "ui/shell/progress_observer.h"

#include <algorithm>
#include <cstdlib>

#include "edit/texts.h"
#include "scan/texts.h"

namespace kerbilo {

namespace {
bool startsWith(const Text& text, const Text& prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}
}  // namespace

ProgressObserver::ProgressObserver(UiServices& inner, std::function<std::size_t()> fileSize,
                                   std::function<int()> kindCount,
                                   std::function<int()> resourceCount)
    : inner_(inner),
      fileSize_(std::move(fileSize)),
      kindCount_(std::move(kindCount)),
      resourceCount_(std::move(resourceCount)) {}

void ProgressObserver::beginScan() {
    loop_ = Loop::Scan;
    kindsStarted_ = 0;
    share_ = 0;
}

void ProgressObserver::beginExport() {
    loop_ = Loop::Export;
    resources_ = std::max(1, resourceCount_());
    written_ = 0;
    share_ = 0;
}

void ProgressObserver::setStatusText(int part, const Text& text) {
    inner_.setStatusText(part, text);
    if (part != 0) return;
    if (loop_ == Loop::Scan) {
        if (startsWith(text, scan_text::parsingKindPrefix())) {
            // The new file has been read by the time its first kind starts.
            if (kindsStarted_++ == 0) {
                size_ = static_cast<double>(fileSize_());
                kinds_ = std::max(1, kindCount_());
            }
        } else if (startsWith(text, scan_text::parsingPrefix()) && size_ > 0) {
            // "正在解析:" + the 1-based position of the head just found.
            const double at =
                std::strtod(text.c_str() + scan_text::parsingPrefix().size(), nullptr);
            const double inKind = std::clamp(at / size_, 0.0, 1.0);
            share_ = std::clamp((std::max(0, kindsStarted_ - 1) + inKind) / kinds_, share_, 1.0);
        }
    } else if (loop_ == Loop::Export && startsWith(text, edit_text::writingPrefix())) {
        share_ = std::min(1.0, static_cast<double>(++written_) / resources_);
    }
}

}  // namespace kerbilo
