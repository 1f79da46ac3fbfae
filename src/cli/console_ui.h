#pragma once
// The UI services bound to a console: status texts become a progress line on stderr (only
// when it is a terminal), dialogs and questions are answered from what the command line
// gave, messages are kept for the command to print.

#include <chrono>
#include <cstdio>
#include <deque>
#include <vector>

#include "ui/services/preorder_tree.h"

namespace kerbilo::cli {

class ConsoleUi final : public TreeKeepingUi {
  public:
    explicit ConsoleUi(std::FILE* progress = nullptr) : progress_(progress) {}
    ~ConsoleUi() override { finishProgress(); }

    // ---- answers ---------------------------------------------------------------------
    int messageAnswer = kResultOk;
    std::deque<Text> fileAnswers;      // one path per dialog; none left: cancelled
    std::optional<Text> folderAnswer;  // nullopt: cancelled

    struct Message {
        Text text;
        MessageStyle style;
        Text title;
    };
    std::vector<Message> messages;

    // Ends the progress line so that later output starts on a clean line.
    void finishProgress();

    // ---- UiServices ------------------------------------------------------------------
    int showMessage(const Text& text, MessageStyle style, const Text& title) override;
    bool showFileDialog(FileDialogSettings& settings) override;
    std::optional<Text> chooseFolder(const Text& prompt, std::uintptr_t owner) override;
    void setStatusText(int part, const Text& text) override;
    void expandTreeItem(int) override {}
    void redrawControl(Control) override {}
    void setWindowTitle(const Text&) override {}
    std::uintptr_t mainWindowHandle() override { return 0; }
    void setMenuItemDisabled(MenuItem, bool) override {}
    void popUpMenu(Menu) override {}
    void setPictureData(Pane, const ByteBuffer&) override {}
    void processPendingEvents() override {}

  private:
    std::FILE* progress_;
    bool progressShown_ = false;
    std::chrono::steady_clock::time_point lastProgress_{};
};

}  // namespace kerbilo::cli
