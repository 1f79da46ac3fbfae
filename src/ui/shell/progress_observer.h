#pragma once
// Forwards every service to the window's binding and reads the long loops' own status
// texts to tell how far they are, so a progress bar can follow a scan or an export of all
// resources without the logic reporting anything beyond those texts.

#include <functional>

#include "ui/services/ui_services.h"

namespace kerbilo {

class ProgressObserver final : public UiServices {
  public:
    // fileSize and kindCount are read when a scan starts, resourceCount when an export of
    // all resources starts.
    ProgressObserver(UiServices& inner, std::function<std::size_t()> fileSize,
                     std::function<int()> kindCount, std::function<int()> resourceCount);

    // Called at the start of each loop: what the next status texts belong to.
    void beginScan();
    void beginExport();
    // 0 … 1 in the current loop.
    double share() const { return share_; }

    int showMessage(const Text& text, MessageStyle style, const Text& title) override {
        return inner_.showMessage(text, style, title);
    }
    bool showFileDialog(FileDialogSettings& settings) override {
        return inner_.showFileDialog(settings);
    }
    std::optional<Text> chooseFolder(const Text& prompt, std::uintptr_t owner) override {
        return inner_.chooseFolder(prompt, owner);
    }
    void setStatusText(int part, const Text& text) override;
    void clearTree() override { inner_.clearTree(); }
    int addTreeItem(int parent, const Text& text, std::int64_t itemData = 0) override {
        return inner_.addTreeItem(parent, text, itemData);
    }
    int treeItemCount() override { return inner_.treeItemCount(); }
    Text treeItemText(int index) override { return inner_.treeItemText(index); }
    std::int64_t treeItemData(int index) override { return inner_.treeItemData(index); }
    int treeItemParent(int index) override { return inner_.treeItemParent(index); }
    void expandTreeItem(int index) override { inner_.expandTreeItem(index); }
    int selectedTreeItem() override { return inner_.selectedTreeItem(); }
    void redrawControl(Control control) override { inner_.redrawControl(control); }
    void setWindowTitle(const Text& text) override { inner_.setWindowTitle(text); }
    std::uintptr_t mainWindowHandle() override { return inner_.mainWindowHandle(); }
    void setMenuItemDisabled(MenuItem item, bool disabled) override {
        inner_.setMenuItemDisabled(item, disabled);
    }
    void popUpMenu(Menu menu) override { inner_.popUpMenu(menu); }
    void setPictureData(Pane pane, const ByteBuffer& data) override {
        inner_.setPictureData(pane, data);
    }
    void processPendingEvents() override { inner_.processPendingEvents(); }

  private:
    enum class Loop { None, Scan, Export };

    UiServices& inner_;
    std::function<std::size_t()> fileSize_;
    std::function<int()> kindCount_;
    std::function<int()> resourceCount_;
    Loop loop_ = Loop::None;
    double size_ = 0;
    int kinds_ = 0;
    int kindsStarted_ = 0;
    int resources_ = 0;
    int written_ = 0;
    double share_ = 0;
};

}  // namespace kerbilo
