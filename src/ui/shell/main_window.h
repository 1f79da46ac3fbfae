#pragma once
// Kerbilo's working window: the tree, the framed picture pane, the status bar and the
// menus, bound through QtUiServices to the commands it is given.

#include <QtWidgets/QMainWindow>
#include <functional>
#include <map>
#include <memory>

#include "ui/services/qt/hex_view.h"
#include "ui/services/qt/picture_widget.h"
#include "ui/services/qt/qt_ui_services.h"
#include "ui/services/qt/resource_table_model.h"
#include "ui/services/qt/thumbnail_view.h"
#include "ui/shell/shell_commands.h"

class QGroupBox;
class QMimeData;
class QTemporaryDir;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QStatusBar;
class QTableView;

namespace kerbilo {

// Qt's own dialogs and buttons speak the program's language, whatever the desktop's, and
// format sizes and dates as Chinese does. False when Qt's Chinese translations are not
// installed (qt6-translations-l10n); the locale is Chinese either way.
bool installChineseQtTexts();

using RendererFactory = std::function<std::unique_ptr<PictureRenderer>(PictureFit)>;

class MainWindow final : public QMainWindow {
  public:
    explicit MainWindow(ShellCommands commands, RendererFactory renderers = makeQtImageRenderer);
    ~MainWindow() override;

    QtUiServices& ui() { return *ui_; }
    const ShellCommands& commands() const { return commands_; }

    // The window-created steps; start-up calls this once the window is shown.
    void created();
    // Accept files dragged from other programs; a second registration changes nothing.
    void registerDropTarget() { setAcceptDrops(true); }
    // Ends the program without the close question.
    void endProgram();
    // Opens dropped files as a drop does, unless a long loop is running.
    void openDropped(const std::vector<Text>& dropped);
    // Where resources dragged out are written, each drag in a folder of its own; removed
    // with the window.
    QString dragFolder();
    // Copies the selected picture to the clipboard (Ctrl+C); false when it is none.
    bool copySelectedPicture();
    // Shows the About window; returns when it is closed.
    void showAbout();

    // For tests and screenshots.
    QTreeView* tree() const { return tree_; }
    QTableView* table() const { return table_; }
    ThumbnailView* thumbnails() const { return thumbs_; }
    // The resource of each thumbnail, in the order shown.
    const std::vector<int>& thumbnailResources() const { return thumbResources_; }
    ResourceTableModel* tableModel() const { return tableModel_; }
    QLabel* selectionInfo() const { return selectionInfo_; }
    QLabel* zoomInfo() const { return zoomInfo_; }
    HexView* hexView() const { return hex_; }
    // Bytes in the pane instead of the picture, for every resource (查看 > 显示字节); a
    // resource that is no picture shows its bytes anyway.
    void showBytes(bool on);
    QLineEdit* filterBox() const { return filterBox_; }
    // Shows the filter box and puts the keys there (Ctrl+F); Esc in it empties and hides it.
    void showFilter();
    void hideFilter();
    // Which view of what was found shows: the tree (the first) or the details table.
    enum class View { Tree, Details, Thumbnails };
    void showView(View view);
    View currentView() const { return view_; }
    PictureWidget* pane() const { return pane_; }
    QGroupBox* group() const { return group_; }
    QStatusBar* statusBar() const { return status_; }
    QProgressBar* progressBar() const { return progress_; }
    QPushButton* cancelButton() const { return cancel_; }
    QAction* action(MenuItem item) const { return actions_.at(item); }
    QMenu* menu(Menu m) const { return menus_.at(m); }
    const RendererFactory& renderers() const { return renderers_; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    // The constructor's steps, in the order it takes them.
    void buildTree(QWidget* client);
    void buildTable(QWidget* client);
    // The views follow the document after a command that may have changed it.
    void documentMayHaveChanged();
    // Selecting resource n in one view selects it in the other and shows it.
    void selectResource(int n);
    void showSelectionInfo();
    // The picture or the bytes of the selected resource, whichever the pane should show.
    void choosePaneContent();
    // The filter box's words applied to every view.
    void applyFilter();
    void filterTree();
    void addPaneViewItems();
    void buildThumbnails(QWidget* client);
    // The thumbnails: the table's rows (its filter and order) that hold pictures.
    void refillThumbnails();
    // What a drag of resource n out of a view carries: the file export all would write,
    // written into a folder of the window's own.
    QMimeData* dragDataFor(int n);
    // Ctrl+C: the selected resource's picture on the clipboard as an image.
    void copyPicture();
    // The pane's view items and the zoom in the status bar follow the pane.
    void syncPaneView();
    int currentResource() const;
    void buildPane(QWidget* client);
    void buildStatusBar(QWidget* client);
    void buildMenus();
    void buildUiServices();
    void connectCommands();
    void fitAndCentre();
    // Places the tree, the splitter, the pane and the status bar in the client area: the
    // first layout at the first size, and the tree's width kept as the window grows.
    void layOut();
    WindowLayout currentLayout() const;
    void fillRecentMenu();
    void addKeyboardAccess();
    // The Edit pop-up at the tree's current item, as Shift+F10 and the Menu key open it.
    void popUpAtCurrentItem();
    void storeLayoutIfChanged();
    QAction* addItem(QMenu* menu, MenuItem item, const Text& text, QKeySequence key,
                     std::function<void()> run);
    void runMenuCommand(MenuItem item);
    bool busy() const { return commands_.busy && commands_.busy(); }
    bool cancellable() const {
        return busy() && commands_.cancellable && commands_.cancellable() && commands_.cancel;
    }
    void syncBusyLook();

    ShellCommands commands_;
    RendererFactory renderers_;
    QWidget* client_ = nullptr;
    QWidget* splitter_ = nullptr;  // the handle between the tree and the pane
    int treeWidth_ = 0;
    WindowLayout startLayout_;  // as the window came up: stored again only when changed
    QMenu* recent_ = nullptr;
    QTreeView* tree_ = nullptr;
    QTableView* table_ = nullptr;
    ResourceTableModel* tableModel_ = nullptr;
    QLabel* selectionInfo_ = nullptr;
    HexView* hex_ = nullptr;
    QAction* bytesItem_ = nullptr;
    QLineEdit* filterBox_ = nullptr;
    bool treeFiltered_ = false;  // some of the tree's rows may be hidden
    ThumbnailView* thumbs_ = nullptr;
    std::vector<int> thumbResources_;
    std::map<PaneView, QAction*> paneViewItems_;
    QLabel* zoomInfo_ = nullptr;
    std::unique_ptr<QTemporaryDir> dragFolder_;
    bool bytesWanted_ = false;
    QMenu* viewMenu_ = nullptr;
    std::map<View, QAction*> viewItems_;
    View view_ = View::Tree;
    bool syncing_ = false;  // one view following the other
    PreorderTreeModel* model_ = nullptr;
    QGroupBox* group_ = nullptr;
    PictureWidget* pane_ = nullptr;
    QStatusBar* status_ = nullptr;
    QLabel* statusPart_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QPushButton* cancel_ = nullptr;
    std::map<MenuItem, QAction*> actions_;
    std::map<Menu, QMenu*> menus_;
    std::unique_ptr<QtUiServices> ui_;
    bool ending_ = false;
};

}  // namespace kerbilo
