#pragma once
// A scripted stand-in for the windows: it records what the logic shows, holds a real tree
// with pre-order indices, and answers dialogs and message boxes from queues set by a test.

#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "preorder_tree.h"

namespace kerbilo::testing {

struct ShownMessage {
    Text text;
    MessageStyle style;
    Text title;
};

class FakeUi : public TreeKeepingUi {
  public:
    // ---- script ----------------------------------------------------------------------
    std::deque<int> messageAnswers;  // empty: defaultMessageAnswer
    int defaultMessageAnswer = kResultOk;
    std::deque<std::optional<Text>> fileDialogAnswers;  // nullopt: cancel; empty queue: cancel
    std::deque<std::optional<Text>> folderAnswers;      // nullopt: cancel; empty queue: cancel
    std::function<void()> onProcessEvents;              // runs inside processPendingEvents
    std::function<void(Menu)> onPopUp;                  // runs inside popUpMenu

    // ---- record ----------------------------------------------------------------------
    std::vector<ShownMessage> messages;
    std::vector<FileDialogSettings> dialogsShown;  // settings as they were when shown
    std::vector<Text> folderPrompts;
    std::vector<Text> statusTexts;  // part 0 texts in order
    Text statusText;                // current part 0 text
    std::vector<Text> titles;
    std::map<MenuItem, bool> menuDisabled;
    std::vector<Menu> popUps;
    std::vector<Control> redraws;
    std::map<Pane, std::vector<ByteBuffer>> pictures;
    int processEventsCalls = 0;
    std::vector<int> expanded;

    bool isDisabled(MenuItem item) const {
        auto it = menuDisabled.find(item);
        return it != menuDisabled.end() && it->second;
    }
    const ByteBuffer* lastPicture(Pane pane = Pane::Main) const {
        auto it = pictures.find(pane);
        return it == pictures.end() || it->second.empty() ? nullptr : &it->second.back();
    }

    // ---- UiServices ------------------------------------------------------------------
    int showMessage(const Text& text, MessageStyle style, const Text& title) override;
    bool showFileDialog(FileDialogSettings& settings) override;
    std::optional<Text> chooseFolder(const Text& prompt, std::uintptr_t owner) override;
    void setStatusText(const Text& text) override;
    void expandTreeItem(int index) override;
    void redrawControl(Control control) override { redraws.push_back(control); }
    void setWindowTitle(const Text& text) override { titles.push_back(text); }
    std::uintptr_t mainWindowHandle() override { return 0x4b42; }
    void setMenuItemDisabled(MenuItem item, bool disabled) override {
        menuDisabled[item] = disabled;
    }
    void popUpMenu(Menu menu) override;
    void setPictureData(Pane pane, const ByteBuffer& data) override {
        pictures[pane].push_back(data);
    }
    void processPendingEvents() override;

    Text title() const { return titles.empty() ? Text() : titles.back(); }

  private:
    bool inEvents_ = false;
};

}  // namespace kerbilo::testing
