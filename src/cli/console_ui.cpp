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

void ConsoleUi::clearTree() {
    std::deque<Item>().swap(items_);
    longTexts_.clear();
    lastTopLevel_ = -1;
    selected_ = -1;
}

ConsoleUi::Item ConsoleUi::makeItem(int parent, const Text& text, std::int64_t data) {
    Item item{data, parent, 0, {}};
    if (text.size() <= kInline) {
        item.length = static_cast<std::uint8_t>(text.size());
        std::memcpy(item.text, text.data(), text.size());
    } else {
        item.length = kLongText;
        const auto index = static_cast<std::uint32_t>(longTexts_.size());
        longTexts_.push_back(text);
        std::memcpy(item.text, &index, sizeof index);
    }
    return item;
}

int ConsoleUi::depth(int i) const {
    int d = 0;
    for (int p = items_[static_cast<std::size_t>(i)].parent; p >= 0;
         p = items_[static_cast<std::size_t>(p)].parent)
        ++d;
    return d;
}

int ConsoleUi::addTreeItem(int parent, const Text& text, std::int64_t itemData) {
    if (!valid(parent)) {
        items_.push_back(makeItem(-1, text, itemData));
        lastTopLevel_ = static_cast<int>(items_.size()) - 1;
        return lastTopLevel_;
    }
    std::size_t at = items_.size();
    if (parent != lastTopLevel_) {  // rare: a child for an earlier subtree
        const int pd = depth(parent);
        at = static_cast<std::size_t>(parent) + 1;
        while (at < items_.size() && depth(static_cast<int>(at)) > pd) ++at;
    }
    const int index = static_cast<int>(at);
    if (at < items_.size()) {
        for (Item& it : items_)
            if (it.parent >= index) ++it.parent;
        if (lastTopLevel_ >= index) ++lastTopLevel_;
        if (selected_ >= index) ++selected_;
    }
    items_.insert(items_.begin() + index, makeItem(parent, text, itemData));
    return index;
}

Text ConsoleUi::treeItemText(int index) {
    if (!valid(index)) return {};
    const Item& it = items_[static_cast<std::size_t>(index)];
    if (it.length != kLongText) return Text(it.text, it.length);
    std::uint32_t i = 0;
    std::memcpy(&i, it.text, sizeof i);
    return longTexts_[i];
}

std::int64_t ConsoleUi::treeItemData(int index) {
    return valid(index) ? items_[static_cast<std::size_t>(index)].data : 0;
}

int ConsoleUi::treeItemParent(int index) {
    return valid(index) ? items_[static_cast<std::size_t>(index)].parent : -1;
}

}  // namespace kerbilo::cli
