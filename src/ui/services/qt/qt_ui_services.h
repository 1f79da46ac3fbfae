#pragma once
// The user-interface services bound to Qt widgets that someone else builds and owns. GBK
// texts are converted at this boundary only; dialogs are Qt's own, so they behave alike
// on every desktop.

#include <QtCore/QElapsedTimer>
#include <QtCore/QPoint>
#include <QtCore/QPointer>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "app/ui_services.h"

class QAction;
class QLabel;
class QMenu;
class QMimeData;
class QTreeView;
class QUrl;
class QWidget;

namespace kerbilo {

class PictureWidget;
class PreorderTreeModel;

struct QtUiWidgets {
    QWidget* window = nullptr;
    QTreeView* tree = nullptr;
    PreorderTreeModel* model = nullptr;
    QLabel* statusPart = nullptr;  // the one status-bar part
    std::map<Pane, PictureWidget*> panes;
    std::map<MenuItem, QAction*> items;
    std::map<Menu, QMenu*> menus;
};

// Filter text "desc|pattern|desc|pattern" as Qt name filters "desc (m1 m2)".
QStringList nameFiltersOf(const Text& filter);

// Qt 6 takes file names for UTF-8: QFile::decodeName, QFileInfo and QUrl::toLocalFile put
// U+FFFD for each byte that is not, encoding such a text back gives EF BF BD where the bytes
// were, and its folder listings (QDirIterator, so QFileSystemModel and the file dialog) leave
// those names out. The program's paths are bytes (runtime/gbk.h), so the binding takes what
// Qt gives back to them: a drop through the URL's percent-encoded bytes, a dialog's choice
// through nativePathOf.

// The bytes on disk of a path as Qt shows it: its encoding when that exists or it holds no
// U+FFFD; else each component that does is the one entry of its folder that Qt shows alike
// (left as it is when none or several are).
std::string nativePathOf(const QString& shown);

// The bytes of the path a local file URL names: its percent-encoded path decoded, with the
// host in front as toLocalFile() puts it.
std::string localFileBytes(const QUrl& url);

// The local files of some dropped data, each path as its bytes are (GBK); none when it holds
// no local file.
std::vector<Text> droppedFilesOf(const QMimeData& mime);

class QtUiServices final : public UiServices {
  public:
    explicit QtUiServices(QtUiWidgets widgets);

    // Runs at every dispatch of processPendingEvents, before the events themselves.
    std::function<void()> beforeDispatch;
    // Dispatch is skipped when the previous one is younger than this.
    int minDispatchIntervalMs = 5;
    // Where the next pop-up menu opens (global coordinates); unset: at the pointer. A menu
    // opened from the keyboard opens at the current item instead.
    std::optional<QPoint> popUpAt;

    int showMessage(const Text& text, MessageStyle style, const Text& title) override;
    bool showFileDialog(FileDialogSettings& settings) override;
    std::optional<Text> chooseFolder(const Text& prompt, std::uintptr_t owner) override;
    void setStatusText(const Text& text) override;
    void clearTree() override;
    int addTreeItem(int parent, const Text& text, std::int64_t itemData = 0) override;
    int treeItemCount() override;
    Text treeItemText(int index) override;
    std::int64_t treeItemData(int index) override;
    int treeItemParent(int index) override;
    void expandTreeItem(int index) override;
    int selectedTreeItem() override;
    void selectTreeItem(int index) override;
    void redrawControl(Control control) override;
    void setWindowTitle(const Text& text) override;
    std::uintptr_t mainWindowHandle() override;
    void setMenuItemDisabled(MenuItem item, bool disabled) override;
    void popUpMenu(Menu menu) override;
    void setPictureData(Pane pane, const ByteBuffer& data) override;
    void processPendingEvents() override;

    // Greys every menu while a long loop runs, over the logic's own enabled states, which
    // come back unchanged when the greying ends.
    void setMenusGreyed(bool greyed);
    bool menusGreyed() const { return greyed_; }
    bool menuItemDisabled(MenuItem item) const;  // as the logic set it

    const QtUiWidgets& widgets() const { return w_; }

  private:
    QWidget* ownerOf(std::uintptr_t handle) const;
    void applyMenuState();

    QtUiWidgets w_;
    std::map<MenuItem, bool> disabled_;
    bool greyed_ = false;

    QElapsedTimer sinceDispatch_;

    void flushStatus();
    static constexpr int kStatusIntervalMs = 16;
    QElapsedTimer statusShown_;
    std::optional<Text> pendingStatus_;
    bool statusFlushQueued_ = false;
};

}  // namespace kerbilo
