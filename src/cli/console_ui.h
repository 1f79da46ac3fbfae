#pragma once
// The UI services bound to a console: status texts become a progress line on stderr (only
// when it is a terminal), dialogs and questions are answered from what the command line
// gave, messages are kept for the command to print. The tree is stored compactly, 24
// bytes per item, because a file can hold millions of nested resources.

#include <chrono>
#include <cstdio>
#include <deque>
#include <vector>

#include "ui/services/ui_services.h"

namespace kerbilo::cli {

class ConsoleUi final : public UiServices {
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

    void select(int index) { selected_ = index; }
    // Ends the progress line so that later output starts on a clean line.
    void finishProgress();

    // ---- UiServices ------------------------------------------------------------------
    int showMessage(const Text& text, MessageStyle style, const Text& title) override;
    bool showFileDialog(FileDialogSettings& settings) override;
    std::optional<Text> chooseFolder(const Text& prompt, std::uintptr_t owner) override;
    void setStatusText(int part, const Text& text) override;
    void clearTree() override;
    int addTreeItem(int parent, const Text& text, std::int64_t itemData = 0) override;
    int treeItemCount() override { return static_cast<int>(items_.size()); }
    Text treeItemText(int index) override;
    std::int64_t treeItemData(int index) override;
    int treeItemParent(int index) override;
    void expandTreeItem(int) override {}
    int selectedTreeItem() override { return valid(selected_) ? selected_ : -1; }
    void redrawControl(Control) override {}
    void setWindowTitle(const Text&) override {}
    std::uintptr_t mainWindowHandle() override { return 0; }
    void setMenuItemDisabled(MenuItem, bool) override {}
    void popUpMenu(Menu) override {}
    void setPictureData(Pane, const ByteBuffer&) override {}
    void processPendingEvents() override {}

  private:
    static constexpr std::size_t kInline = 11;
    static constexpr std::uint8_t kLongText = 0xFF;
    struct Item {
        std::int64_t data;
        std::int32_t parent;
        std::uint8_t length;  // kLongText: text holds an index into longTexts_
        char text[kInline];
    };
    static_assert(sizeof(Item) == 24);

    bool valid(int i) const { return i >= 0 && i < static_cast<int>(items_.size()); }
    int depth(int i) const;
    Item makeItem(int parent, const Text& text, std::int64_t data);

    std::deque<Item> items_;  // pre-order
    std::vector<Text> longTexts_;
    int lastTopLevel_ = -1;
    int selected_ = -1;

    std::FILE* progress_;
    bool progressShown_ = false;
    std::chrono::steady_clock::time_point lastProgress_{};
};

}  // namespace kerbilo::cli
