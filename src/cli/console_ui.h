#pragma once
// The UI services bound to a console. kerbilo-cli calls the operations directly, which use
// only the tree, the status bar and progress; status texts become a progress line on
// stderr (only when it is a terminal). Nobody sits at the console to answer a dialog or a
// question: they end as if closed, and the commands never rely on them.

#include <chrono>
#include <cstdio>
#include <map>

#include "ui/services/preorder_tree.h"

namespace kerbilo::cli {

class ConsoleUi final : public TreeKeepingUi {
  public:
    explicit ConsoleUi(std::FILE* progress = nullptr) : progress_(progress) {}
    ~ConsoleUi() override { finishProgress(); }

    // Ends the progress line so that later output starts on a clean line.
    void finishProgress();

    Text statusText() const { return status_; }
    Text title() const { return title_; }
    bool menuItemDisabled(MenuItem item) const;

    // ---- UiServices ------------------------------------------------------------------
    int showMessage(const Text& text, MessageStyle style, const Text& title) override;
    bool showFileDialog(FileDialogSettings&) override { return false; }
    std::optional<Text> chooseFolder(const Text&, std::uintptr_t) override { return std::nullopt; }
    void setStatusText(int part, const Text& text) override;
    void expandTreeItem(int) override {}
    void redrawControl(Control) override {}
    void setWindowTitle(const Text& text) override { title_ = text; }
    std::uintptr_t mainWindowHandle() override { return 0; }
    void setMenuItemDisabled(MenuItem item, bool disabled) override { disabled_[item] = disabled; }
    void popUpMenu(Menu) override {}
    void setPictureData(Pane, const ByteBuffer&) override {}
    void processPendingEvents() override {}

  private:
    std::FILE* progress_;
    bool progressShown_ = false;
    std::chrono::steady_clock::time_point lastProgress_{};
    Text status_;
    Text title_;
    std::map<MenuItem, bool> disabled_;
};

}  // namespace kerbilo::cli
