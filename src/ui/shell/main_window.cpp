#include "ui/shell/main_window.h"

#include <QtCore/QDir>
#include <QtCore/QLibraryInfo>
#include <QtCore/QLocale>
#include <QtCore/QMimeData>
#include <QtCore/QTemporaryDir>
#include <QtCore/QTimer>
#include <QtCore/QTranslator>
#include <QtCore/QUrl>
#include <QtGui/QAction>
#include <QtGui/QActionGroup>
#include <QtGui/QClipboard>
#include <QtGui/QCloseEvent>
#include <QtGui/QKeySequence>
#include <QtGui/QScreen>
#include <QtGui/QShortcut>
#include <QtWidgets/QApplication>
#include <QtWidgets/QGroupBox>
#include <QtWidgets/QHeaderView>
#include <QtWidgets/QLabel>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QMenu>
#include <QtWidgets/QMenuBar>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QStatusBar>
#include <QtWidgets/QStyle>
#include <QtWidgets/QTableView>
#include <QtWidgets/QTreeView>

#include <algorithm>
#include <cmath>
#include <cstring>
#include "app/resource_filter.h"
#include "app/resource_table.h"
#include "app/texts.h"
#include "picture/decoders.h"
#include "picture/picture_format.h"
#include "runtime/byte_ops.h"

#include "ui/services/qt/preorder_tree_model.h"
#include "ui/services/qt/qt_text.h"
#include "ui/shell/about_window.h"
#include "ui/shell/assets.h"
#include "ui/shell/shell_texts.h"

namespace kerbilo {

namespace {
constexpr int kClientWidth = 583;
constexpr int kClientHeight = 379;
constexpr int kTreeWidth = 103;  // the first layout's
constexpr int kMinTreeWidth = 40;
constexpr int kMinPaneWidth = 150;
constexpr int kSplitterWidth = 8;  // the gap between the tree and the pane's frame

// The handle between the tree and the pane: dragging it moves the pane's left edge.
class SplitterHandle final : public QWidget {
  public:
    SplitterHandle(QWidget* parent, std::function<void(int)> moved)
        : QWidget(parent), moved_(std::move(moved)) {
        setCursor(Qt::SplitHCursor);
    }

  protected:
    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() == Qt::LeftButton) pressedAt_ = event->globalPosition().toPoint().x();
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        if (!(event->buttons() & Qt::LeftButton)) return;
        const int x = event->globalPosition().toPoint().x();
        moved_(x - pressedAt_);
        pressedAt_ = x;
    }

  private:
    std::function<void(int)> moved_;
    int pressedAt_ = 0;
};

// Lets the window hand a mouse press to the tree at the moment it chooses.
class TreeView final : public QTreeView {
  public:
    using QTreeView::QTreeView;
    void press(QMouseEvent* event) { mousePressEvent(event); }
};

// The tree is 103 pixels wide: beside its vertical scroll bar, a group's text
// ("PNG格式资源") and a resource's eight hex digits one level down must show whole, so
// the indentation gives way, down to what still shows the branch arrows. (Eight of the
// widest letter, "DDDDDDDD", would need less than that; labels are mostly digits.)
void fitIndentation(QTreeView& tree) {
    const QFontMetricsF metrics(tree.font());
    qreal digit = 0;
    for (const QChar c : QStringLiteral("0123456789"))
        digit = std::max(digit, metrics.horizontalAdvance(c));
    const int label = static_cast<int>(std::ceil(8 * digit));
    const int group = static_cast<int>(
        std::ceil(metrics.horizontalAdvance(toQt(concatText({"PNG", app_text::groupSuffix()})))));
    QStyle* style = tree.style();
    // The item delegate keeps this much clear on each side of a text.
    const int margins = 2 * (style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &tree) + 1);
    const int room = tree.width() - 2 * tree.frameWidth() -
                     style->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, &tree) - margins;
    const int fits = std::min(room - group, (room - label) / 2);
    tree.setIndentation(std::clamp(fits, 6, tree.indentation()));
}

}  // namespace

bool installChineseQtTexts() {
    // Sizes, dates and numbers in every widget and dialog follow the texts, whatever the
    // system's locale: an English "277 bytes" does not fit where "277 字节" does.
    QLocale::setDefault(QLocale(QLocale::Chinese, QLocale::China));
    static QTranslator texts;
    if (!texts.load(QLocale(QLocale::Chinese, QLocale::China), QStringLiteral("qtbase"),
                    QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        return false;
    return QCoreApplication::installTranslator(&texts);
}

MainWindow::MainWindow(ShellCommands commands, RendererFactory renderers)
    : QMainWindow(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                               Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                               Qt::WindowCloseButtonHint),
      commands_(std::move(commands)),
      renderers_(std::move(renderers)),
      treeWidth_(kTreeWidth) {
    setWindowTitle(toQt(shell_text::title()));
    auto* client = new QWidget(this);
    client_ = client;
    client->resize(kClientWidth, kClientHeight);
    client->installEventFilter(this);  // its resizes lay the window out again
    setCentralWidget(client);

    buildTree(client);
    buildTable(client);
    buildThumbnails(client);
    buildPane(client);
    buildStatusBar(client);
    buildMenus();
    buildUiServices();
    connectCommands();
    addKeyboardAccess();
    fitAndCentre();
}

void MainWindow::buildTree(QWidget* client) {
    model_ = new PreorderTreeModel(this);
    model_->toolTip = [this](int item) {
        const Text text =
            commands_.describeItem ? commands_.describeItem(item) : model_->text(item);
        return toQt(text).replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    };
    tree_ = new TreeView(client);
    tree_->setGeometry(1, 3, 103, 337);
    tree_->setModel(model_);
    tree_->setHeaderHidden(true);
    // Every row is one line of text: the view can then skip measuring a million of them.
    tree_->setUniformRowHeights(true);
    tree_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    tree_->header()->setStretchLastSection(false);
    tree_->setContextMenuPolicy(Qt::PreventContextMenu);
    tree_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tree_->viewport()->installEventFilter(this);
    // A resource dragged out is exported where it is dropped.
    tree_->setDragEnabled(true);
    tree_->setDragDropMode(QAbstractItemView::DragOnly);
    tree_->setDefaultDropAction(Qt::CopyAction);
    model_->dragData = [this](int item) {
        const Document* doc = commands_.document ? commands_.document() : nullptr;
        const std::int64_t n = model_->data(item);
        return doc && doc->catalogue.contains(n) ? dragDataFor(static_cast<int>(n)) : nullptr;
    };
    fitIndentation(*tree_);
}

void MainWindow::buildTable(QWidget* client) {
    tableModel_ = new ResourceTableModel(commands_.document, this);
    table_ = new QTableView(client);
    table_->setModel(tableModel_);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setWordWrap(false);
    // Rows of one height: the view can then skip measuring a million of them.
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
    table_->horizontalHeader()->setSortIndicator(0, Qt::AscendingOrder);
    table_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    table_->horizontalHeader()->setStretchLastSection(true);
    // Widths for what the columns hold (measuring a million rows would stall the window).
    const QFontMetrics metrics(table_->font());
    const int digit = metrics.horizontalAdvance(QLatin1Char('0'));
    const int widths[kTableColumnCount] = {7, 7, 10, 10, 6, 11, 5, 8, 20};
    for (int column = 0; column < kTableColumnCount; ++column)
        table_->horizontalHeader()->resizeSection(column, widths[column] * digit + 12);
    table_->setSortingEnabled(true);
    table_->setContextMenuPolicy(Qt::CustomContextMenu);
    table_->setDragEnabled(true);
    table_->setDragDropMode(QAbstractItemView::DragOnly);
    table_->setDefaultDropAction(Qt::CopyAction);
    tableModel_->dragData = [this](int n) { return dragDataFor(n); };
    table_->hide();
    connect(table_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (!syncing_) selectResource(tableModel_->resourceAt(current.row()));
            });
    connect(table_, &QTableView::doubleClicked, this, [this] {
        if (commands_.showSelected) commands_.showSelected();
    });
    connect(table_, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        if (busy() || !commands_.treeRightButtonPressed) return;
        const QModelIndex at = table_->indexAt(pos);
        if (at.isValid()) table_->setCurrentIndex(at);
        ui_->popUpAt = table_->viewport()->mapToGlobal(pos) + QPoint(3, 3);
        // The row is selected already: there is no press to hand over.
        commands_.treeRightButtonPressed([] {});
        ui_->popUpAt.reset();
        syncBusyLook();
    });
    tableModel_->factsArrived = [this](int n) {
        if (n == currentResource()) showSelectionInfo();
    };
    tableModel_->rowsChanged = [this] {
        filterTree();
        if (thumbs_ && thumbs_->isVisible()) refillThumbnails();
    };

    filterBox_ = new QLineEdit(client);
    filterBox_->setPlaceholderText(toQt(shell_text::filterHint()));
    filterBox_->setClearButtonEnabled(true);
    filterBox_->installEventFilter(this);  // Esc empties and hides it
    filterBox_->hide();
    connect(filterBox_, &QLineEdit::textChanged, this, [this] { applyFilter(); });
}

void MainWindow::buildThumbnails(QWidget* client) {
    thumbs_ = new ThumbnailView(client);
    thumbs_->setThumbnailSize(96);
    thumbs_->hide();
    thumbs_->currentChanged = [this](int item) {
        if (item >= 0 && item < static_cast<int>(thumbResources_.size()))
            selectResource(thumbResources_[static_cast<std::size_t>(item)]);
    };
    thumbs_->dragData = [this](int item) -> QMimeData* {
        return item >= 0 && item < static_cast<int>(thumbResources_.size())
                   ? dragDataFor(thumbResources_[static_cast<std::size_t>(item)])
                   : nullptr;
    };
    thumbs_->activated = [this](int) {
        if (commands_.showSelected) commands_.showSelected();
    };
    thumbs_->contextMenuRequested = [this](int item, QPoint at) {
        if (busy() || !commands_.treeRightButtonPressed) return;
        if (item >= 0 && item < static_cast<int>(thumbResources_.size()))
            selectResource(thumbResources_[static_cast<std::size_t>(item)]);
        ui_->popUpAt = at;
        commands_.treeRightButtonPressed([] {});
        ui_->popUpAt.reset();
        syncBusyLook();
    };
}

void MainWindow::refillThumbnails() {
    const Document* doc = commands_.document ? commands_.document() : nullptr;
    std::vector<int> pictures;
    if (doc && !busy()) {
        for (int row = 0; row < tableModel_->rowCount(); ++row) {
            const int n = tableModel_->resourceAt(row);
            const ByteBuffer data = doc->catalogue.data(n);
            if (recognisePicture({data.data(), data.size()}) != PictureFormat::None)
                pictures.push_back(n);
        }
    }
    if (pictures == thumbResources_ && thumbs_->count() == static_cast<int>(pictures.size()))
        return;  // the same thumbnails: nothing to decode again
    thumbResources_ = std::move(pictures);
    thumbs_->setItems(
        static_cast<int>(thumbResources_.size()),
        [this](int item) {
            const Document* d = commands_.document ? commands_.document() : nullptr;
            const int n = thumbResources_[static_cast<std::size_t>(item)];
            return d && n <= d->catalogue.size() ? d->catalogue.data(n) : ByteBuffer();
        },
        [this](int item) {
            const Document* d = commands_.document ? commands_.document() : nullptr;
            const int n = thumbResources_[static_cast<std::size_t>(item)];
            return d && n <= d->catalogue.size() ? toQt(resourceLabel(d->catalogue, n)) : QString();
        });
    const auto at = std::find(thumbResources_.begin(), thumbResources_.end(), currentResource());
    thumbs_->setCurrent(
        at == thumbResources_.end() ? -1 : static_cast<int>(at - thumbResources_.begin()));
}

int MainWindow::currentResource() const {
    const Document* doc = commands_.document ? commands_.document() : nullptr;
    if (!doc || !ui_) return 0;
    const std::int64_t n = ui_->treeItemData(ui_->selectedTreeItem());
    return doc->catalogue.contains(n) ? static_cast<int>(n) : 0;
}

void MainWindow::selectResource(int n) {
    if (n <= 0) return;
    // The tree holds the selection that the commands act on; it shows the resource too.
    const int count = ui_->treeItemCount();
    for (int item = 0; item < count; ++item)
        if (ui_->treeItemParent(item) >= 0 && ui_->treeItemData(item) == n) {
            if (ui_->selectedTreeItem() != item) ui_->selectTreeItem(item);
            break;
        }
}

void MainWindow::showSelectionInfo() {
    const Document* doc = commands_.document ? commands_.document() : nullptr;
    const int n = currentResource();
    QString text;
    if (doc && n > 0) {
        if (const Inspection* facts = tableModel_->facts(n))
            text = toQt(describeInspection(*facts, doc->catalogue.dataLength(n)));
        else
            tableModel_->request(n);
    }
    selectionInfo_->setText(text);
}

void MainWindow::documentMayHaveChanged() {
    tableModel_->reload();
    choosePaneContent();
    showSelectionInfo();
}

void MainWindow::showView(View view) {
    view_ = view;
    for (const auto& [v, action] : viewItems_) action->setChecked(v == view);
    // The table's columns need room the tree's labels do not: the first time, half the
    // window goes to it.
    if (view != View::Tree && treeWidth_ == kTreeWidth) treeWidth_ = client_->width() / 2;
    // Focus moving as views hide may make a view's first row current: that is no choice
    // of the user's, and the selection stays.
    const int selected = currentResource();
    syncing_ = true;
    tree_->setVisible(view == View::Tree);
    table_->setVisible(view == View::Details);
    thumbs_->setVisible(view == View::Thumbnails);
    layOut();
    syncing_ = false;
    if (currentResource() != selected) selectResource(selected);
    if (view == View::Details) {
        syncing_ = true;
        const int row = tableModel_->rowOf(selected);
        if (row >= 0) table_->setCurrentIndex(tableModel_->index(row, 0));
        syncing_ = false;
        table_->setFocus();
    } else if (view == View::Thumbnails) {
        refillThumbnails();
        thumbs_->setFocus();
    } else {
        tree_->setFocus();
    }
}

void MainWindow::buildPane(QWidget* client) {
    // The pane paints the picture library's background, the one kerbilo-cli render draws;
    // the window takes it as its face colour so the pane does not stand out from it.
    std::unique_ptr<PictureRenderer> paneRenderer = renderers_(PictureFit::CentreShrink);
    if (const QColor face = paneRenderer->background(); face.isValid()) {
        QPalette colours = palette();
        colours.setColor(QPalette::Window, face);
        setPalette(colours);
    }
    splitter_ = new SplitterHandle(client, [this](int dx) {
        treeWidth_ = tree_->width() + dx;
        layOut();
    });
    group_ = new QGroupBox(toQt(shell_text::browseGroup()), client);
    group_->setGeometry(112, 4, 470, 336);
    pane_ = new PictureWidget(std::move(paneRenderer), group_);
    pane_->setGeometry(3, 20, 464, 312);
    hex_ = new HexView(group_);
    hex_->setGeometry(pane_->geometry());
    hex_->hide();
}

void MainWindow::showFilter() {
    filterBox_->show();
    layOut();
    filterBox_->setFocus();
    filterBox_->selectAll();
}

void MainWindow::hideFilter() {
    filterBox_->clear();  // applies the empty filter
    filterBox_->hide();
    layOut();
    (view_ == View::Tree ? static_cast<QWidget*>(tree_) : table_)->setFocus();
}

void MainWindow::applyFilter() {
    tableModel_->setFilter(ResourceFilter::parse(fromQt(filterBox_->text())));
}

void MainWindow::filterTree() {
    const Document* doc = commands_.document ? commands_.document() : nullptr;
    if (!doc) return;
    const ResourceFilter& filter = tableModel_->filter();
    // Nothing hidden and nothing to hide: a million rows need not be looked at.
    if (filter.empty() && !treeFiltered_) return;
    treeFiltered_ = !filter.empty();
    const int count = ui_->treeItemCount();
    // Resources first; then a group shows when any of its resources does.
    std::vector<char> shown(static_cast<std::size_t>(count), 0);
    for (int item = 0; item < count; ++item) {
        const std::int64_t n = ui_->treeItemData(item);
        const int parent = ui_->treeItemParent(item);
        if (parent < 0 || !doc->catalogue.contains(n)) continue;
        const bool fits = filter.empty() || filter.matches(*doc, static_cast<int>(n),
                                                           tableModel_->facts(static_cast<int>(n)));
        shown[static_cast<std::size_t>(item)] = fits;
        if (fits) shown[static_cast<std::size_t>(parent)] = 1;
    }
    for (int item = 0; item < count; ++item) {
        const QModelIndex at = model_->modelIndex(item);
        const bool hide = !filter.empty() && !shown[static_cast<std::size_t>(item)];
        if (tree_->isRowHidden(at.row(), at.parent()) != hide)
            tree_->setRowHidden(at.row(), at.parent(), hide);
    }
}

void MainWindow::addPaneViewItems() {
    viewMenu_->addSeparator();
    auto* group = new QActionGroup(this);
    const std::tuple<PaneView, Text, QKeySequence> items[] = {
        {PaneView::Default, shell_text::defaultViewItem(), QKeySequence(Qt::CTRL | Qt::Key_0)},
        {PaneView::Fit, shell_text::fitViewItem(), QKeySequence(Qt::CTRL | Qt::Key_9)},
        {PaneView::Actual, shell_text::actualViewItem(), QKeySequence(Qt::CTRL | Qt::Key_8)},
        {PaneView::Zoom, shell_text::zoomViewItem(), QKeySequence()}};
    for (const auto& [view, text, key] : items) {
        QAction* item = viewMenu_->addAction(toQt(text));
        item->setCheckable(true);
        item->setShortcut(key);
        item->setActionGroup(group);
        connect(item, &QAction::triggered, this, [this, view = view] {
            if (view == PaneView::Zoom)
                pane_->setZoom(pane_->zoom());
            else
                pane_->setViewMode(view);
            syncPaneView();
        });
        paneViewItems_[view] = item;
    }
    const std::pair<Text, int> steps[] = {{shell_text::zoomInItem(), 1},
                                          {shell_text::zoomOutItem(), -1}};
    for (const auto& [text, notches] : steps) {
        QAction* item = viewMenu_->addAction(toQt(text));
        item->setShortcuts(notches > 0
                               ? QList<QKeySequence>{QKeySequence(Qt::CTRL | Qt::Key_Equal),
                                                     QKeySequence(Qt::CTRL | Qt::Key_Plus)}
                               : QList<QKeySequence>{QKeySequence(Qt::CTRL | Qt::Key_Minus)});
        connect(item, &QAction::triggered, this, [this, notches = notches] {
            pane_->zoomBy(notches);
            syncPaneView();
        });
    }
    QAction* checker = viewMenu_->addAction(toQt(shell_text::checkerboardItem()));
    checker->setCheckable(true);
    connect(checker, &QAction::toggled, this, [this](bool on) { pane_->setCheckerboard(on); });
    pane_->zoomChanged = [this](double) { syncPaneView(); };
    syncPaneView();
}

void MainWindow::syncPaneView() {
    const PaneView view = pane_->viewMode();
    if (QAction* item = paneViewItems_[view]; item && !item->isChecked()) item->setChecked(true);
    // The factor shows once the picture is not drawn the classic way.
    const double scale = view == PaneView::Actual ? 1.0
                         : view == PaneView::Zoom ? pane_->zoom()
                         : view == PaneView::Fit  ? pane_->shownScale()
                                                  : 0.0;
    zoomInfo_->setText(scale <= 0 ? QString()
                                  : toQt(shell_text::zoomPrefix()) +
                                        QString::number(qRound(scale * 100)) + QLatin1Char('%'));
}

QString MainWindow::dragFolder() {
    if (!dragFolder_) dragFolder_ = std::make_unique<QTemporaryDir>();
    return dragFolder_->isValid() ? dragFolder_->path() : QString();
}

QMimeData* MainWindow::dragDataFor(int n) {
    if (n <= 0 || busy() || !commands_.exportInto) return nullptr;
    const QString base = dragFolder();
    if (base.isEmpty()) return nullptr;
    // Each drag its own folder: a second drag of another file of the same name must not
    // change what an earlier drop still copies.
    static int drags = 0;
    const QString folder = base + QLatin1Char('/') + QString::number(++drags);
    const std::optional<Text> path = commands_.exportInto(n, fromQt(folder));
    if (!path) return nullptr;
    auto* mime = new QMimeData;
    mime->setUrls({QUrl::fromLocalFile(toQt(*path))});
    return mime;
}

bool MainWindow::copySelectedPicture() {
    const Document* doc = commands_.document ? commands_.document() : nullptr;
    const int n = currentResource();
    if (!doc || n <= 0) return false;
    const ByteBuffer data = doc->catalogue.data(n);
    const Decoded decoded = decodePicture({data.data(), data.size()});
    if (!decoded) return false;
    const Image& picture = *decoded;
    QImage image(picture.width, picture.height, QImage::Format_ARGB32);
    for (int y = 0; y < picture.height; ++y)
        std::memcpy(image.scanLine(y),
                    picture.pixels.data() + static_cast<std::size_t>(y) * picture.width,
                    static_cast<std::size_t>(picture.width) * 4);
    QGuiApplication::clipboard()->setImage(image);
    return true;
}

void MainWindow::copyPicture() {
    copySelectedPicture();
}

void MainWindow::showBytes(bool on) {
    bytesWanted_ = on;
    if (bytesItem_) bytesItem_->setChecked(on);
    choosePaneContent();
}

void MainWindow::choosePaneContent() {
    const Document* doc = commands_.document ? commands_.document() : nullptr;
    const int n = currentResource();
    bool bytes = false;
    if (doc && n > 0 && !busy()) {
        const ByteBuffer data = doc->catalogue.data(n);
        bytes = bytesWanted_ || recognisePicture({data.data(), data.size()}) == PictureFormat::None;
        if (bytes) {
            // A picture composed from a program's resources has no offset of its own in the
            // file: its bytes count from 0.
            const std::int64_t offset =
                doc->catalogue.origin(n) ? 0 : doc->catalogue.slot(n).offset;
            hex_->setData(data, offset);
        }
    }
    if (!bytes) hex_->clear();
    hex_->setVisible(bytes);
    pane_->setVisible(!bytes);
}

void MainWindow::layOut() {
    if (!tree_ || !splitter_ || !group_ || !pane_ || !status_) return;  // still being built
    const int width = client_->width(), height = client_->height();
    const int most = std::max(kMinTreeWidth, width - 2 - kSplitterWidth - kMinPaneWidth);
    const int tree = std::clamp(treeWidth_, kMinTreeWidth, most);
    const int rows = std::max(0, height - 42);  // above the status bar's 20 pixels
    // The filter box, while it shows, takes a line above the tree or the table.
    const int box = filterBox_ && filterBox_->isVisible() ? filterBox_->sizeHint().height() + 2 : 0;
    if (box > 0) filterBox_->setGeometry(1, 3, tree, box - 2);
    tree_->setGeometry(1, 3 + box, tree, rows - box);
    if (table_) table_->setGeometry(1, 3 + box, tree, rows - box);
    if (thumbs_) thumbs_->setGeometry(1, 3 + box, tree, rows - box);
    splitter_->setGeometry(1 + tree, 3, kSplitterWidth, rows);
    const int left = 1 + tree + kSplitterWidth;
    group_->setGeometry(left, 4, std::max(0, width - left - 1), std::max(0, rows - 1));
    pane_->setGeometry(3, 20, std::max(0, group_->width() - 6), std::max(0, group_->height() - 24));
    if (hex_) hex_->setGeometry(pane_->geometry());
    status_->setGeometry(0, height - 20, width, 20);
}

WindowLayout MainWindow::currentLayout() const {
    const QSize size = isMaximized() || isFullScreen() ? normalGeometry().size() : this->size();
    return {size.width(), size.height(), tree_->width(), isMaximized()};
}

void MainWindow::buildStatusBar(QWidget* client) {
    status_ = new QStatusBar(client);
    status_->setGeometry(0, 359, kClientWidth, 20);
    status_->setSizeGripEnabled(false);
    statusPart_ = new QLabel(toQt(shell_text::welcome()), status_);
    status_->addWidget(statusPart_, 1);
    selectionInfo_ = new QLabel(status_);
    status_->addPermanentWidget(selectionInfo_);
    zoomInfo_ = new QLabel(status_);
    status_->addPermanentWidget(zoomInfo_);
    progress_ = new QProgressBar(status_);
    progress_->setRange(0, 1000);
    progress_->setTextVisible(false);
    progress_->setFixedWidth(160);
    status_->addPermanentWidget(progress_);
    progress_->hide();
    cancel_ = new QPushButton(toQt(shell_text::cancelButton()), status_);
    cancel_->setFocusPolicy(Qt::NoFocus);  // Esc and a click cancel; the tree keeps the keys
    status_->addPermanentWidget(cancel_);
    cancel_->hide();
    connect(cancel_, &QPushButton::clicked, this, [this] {
        if (commands_.cancel) commands_.cancel();
    });
}

void MainWindow::buildUiServices() {
    QtUiWidgets widgets;
    widgets.window = this;
    widgets.tree = tree_;
    widgets.model = model_;
    widgets.statusPart = statusPart_;
    widgets.panes[Pane::Main] = pane_;
    widgets.items = actions_;
    widgets.menus = menus_;
    ui_ = std::make_unique<QtUiServices>(std::move(widgets));
    ui_->beforeDispatch = [this] { syncBusyLook(); };

    ui_->addTreeItem(-1, app_text::treeRoot());
    ui_->setPictureData(Pane::Main, logoPicture());
    ui_->setMenuItemDisabled(MenuItem::Save, true);
    ui_->setMenuItemDisabled(MenuItem::UpdateLibraries, true);
}

void MainWindow::connectCommands() {
    connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this, [this] {
        if (commands_.showSelected) commands_.showSelected();
        choosePaneContent();
        if (!syncing_ && table_->isVisible()) {
            syncing_ = true;
            const int row = tableModel_->rowOf(currentResource());
            if (row >= 0) table_->setCurrentIndex(tableModel_->index(row, 0));
            syncing_ = false;
        }
        if (thumbs_->isVisible()) {
            const auto at =
                std::find(thumbResources_.begin(), thumbResources_.end(), currentResource());
            if (at != thumbResources_.end())
                thumbs_->setCurrent(static_cast<int>(at - thumbResources_.begin()));
        }
        showSelectionInfo();
    });
    connect(tree_, &QTreeView::doubleClicked, this, [this] {
        if (commands_.showSelected) commands_.showSelected();
    });

    // Esc closes the window, or while an open runs, cancels the open and nothing more.
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(escape, &QShortcut::activated, this, [this] {
        if (cancellable()) {
            commands_.cancel();
            syncBusyLook();
            return;
        }
        close();
    });
}

void MainWindow::fitAndCentre() {
    // The menu bar's height depends on the font, so the first size follows it.
    const int menuHeight = menuBar()->sizeHint().height();
    setMinimumSize(kMinTreeWidth + kSplitterWidth + kMinPaneWidth + 3, menuHeight + 160);
    resize(kClientWidth, menuHeight + kClientHeight);
    startLayout_ = {width(), height(), kTreeWidth, false};
    if (const std::optional<WindowLayout> stored =
            commands_.storedLayout ? commands_.storedLayout() : std::nullopt) {
        resize(stored->width, stored->height);
        treeWidth_ = stored->treeWidth;
        startLayout_ = *stored;
    }
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(0, 0), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
    if (startLayout_.maximized) setWindowState(windowState() | Qt::WindowMaximized);
    layOut();
}

void MainWindow::fillRecentMenu() {
    recent_->clear();
    const std::vector<Text> paths =
        commands_.recentFiles ? commands_.recentFiles() : std::vector<Text>{};
    for (std::size_t i = 0; i < paths.size(); ++i) {
        // "&1 /path" … "1&0 /path": a digit opens it from the keyboard. Ampersands in the
        // path are doubled so that they show.
        const QString number = i < 9 ? QStringLiteral("&%1").arg(i + 1) : QStringLiteral("1&0");
        QString shown = toQt(paths[i]);
        shown.replace(QLatin1Char('&'), QStringLiteral("&&"));
        QAction* item = recent_->addAction(number + QLatin1Char(' ') + shown);
        connect(item, &QAction::triggered, this, [this, path = paths[i]] {
            if (busy() || !commands_.openPath) return;
            commands_.openPath(path);
            documentMayHaveChanged();
            syncBusyLook();
        });
    }
    recent_->setEnabled(!paths.empty());
}

void MainWindow::addKeyboardAccess() {
    // The menus' texts carry no mnemonics, so Alt and a letter open them here.
    const std::pair<Menu, Qt::Key> keys[] = {
        {Menu::File, Qt::Key_F}, {Menu::Edit, Qt::Key_E}, {Menu::Help, Qt::Key_H}};
    for (const auto& [m, key] : keys) {
        auto* shortcut = new QShortcut(QKeySequence(Qt::ALT | key), this);
        connect(shortcut, &QShortcut::activated, this, [this, m = m] {
            if (QMenu* menu = menus_.at(m); menu && !busy()) {
                menuBar()->setActiveAction(menu->menuAction());
            }
        });
    }
    for (QWidget* view : {static_cast<QWidget*>(tree_), static_cast<QWidget*>(table_)}) {
        auto* copy = new QShortcut(QKeySequence::Copy, view);
        copy->setContext(Qt::WidgetShortcut);
        connect(copy, &QShortcut::activated, this, [this] { copyPicture(); });
    }
    auto* viewKey = new QShortcut(QKeySequence(Qt::ALT | Qt::Key_V), this);
    connect(viewKey, &QShortcut::activated, this,
            [this] { menuBar()->setActiveAction(viewMenu_->menuAction()); });
    for (const QKeySequence& key :
         {QKeySequence(Qt::SHIFT | Qt::Key_F10), QKeySequence(Qt::Key_Menu)}) {
        auto* shortcut = new QShortcut(key, tree_);
        shortcut->setContext(Qt::WidgetShortcut);
        connect(shortcut, &QShortcut::activated, this, [this] { popUpAtCurrentItem(); });
    }
}

void MainWindow::popUpAtCurrentItem() {
    if (busy() || !commands_.treeRightButtonPressed) return;
    const QModelIndex current = tree_->currentIndex();
    const QRect item = current.isValid() ? tree_->visualRect(current) : QRect();
    const QPoint local =
        item.isValid() ? item.bottomLeft() + QPoint(item.height(), 0) : QPoint(0, 0);
    ui_->popUpAt = tree_->viewport()->mapToGlobal(local);
    // The current item is already the selected one: there is no press to hand over.
    commands_.treeRightButtonPressed([] {});
    ui_->popUpAt.reset();
    syncBusyLook();
}

MainWindow::~MainWindow() = default;

QAction* MainWindow::addItem(QMenu* menu, MenuItem item, const Text& text, QKeySequence key,
                             std::function<void()> run) {
    QAction* action = menu->addAction(toQt(text));
    if (!key.isEmpty()) {
        action->setShortcut(key);
        action->setShortcutContext(Qt::WindowShortcut);
    }
    if (run) connect(action, &QAction::triggered, this, std::move(run));
    actions_[item] = action;
    return action;
}

void MainWindow::runMenuCommand(MenuItem item) {
    if (commands_.menuCommand) commands_.menuCommand(item);
    if (item == MenuItem::Open || item == MenuItem::ReplaceResource) documentMayHaveChanged();
    // A loop that ran inside the command has ended: the menus come back.
    syncBusyLook();
}

void MainWindow::buildMenus() {
    auto logic = [this](MenuItem item) { return [this, item] { runMenuCommand(item); }; };
    QMenu* file = menuBar()->addMenu(toQt(shell_text::fileMenu()));
    addItem(file, MenuItem::Open, shell_text::openItem(), QKeySequence(Qt::CTRL | Qt::Key_O),
            logic(MenuItem::Open));
    recent_ = file->addMenu(toQt(shell_text::recentMenu()));
    connect(file, &QMenu::aboutToShow, this, [this] { fillRecentMenu(); });
    file->addSeparator();
    addItem(file, MenuItem::SetOutputFolder, shell_text::outputFolderItem(),
            QKeySequence(Qt::Key_F7), logic(MenuItem::SetOutputFolder));
    QAction* structures = addItem(file, MenuItem::StructureScan, shell_text::structureScanItem(),
                                  {}, logic(MenuItem::StructureScan));
    structures->setCheckable(true);
    // The check follows the kinds file, which the user may edit by hand: it is read again
    // each time the menu opens, and a click leaves it to the command.
    connect(file, &QMenu::aboutToShow, this, [this, structures] {
        structures->setChecked(commands_.structureScanOn && commands_.structureScanOn());
    });
    addItem(file, MenuItem::Save, shell_text::saveItem(), QKeySequence(Qt::CTRL | Qt::Key_S),
            logic(MenuItem::Save));
    file->addSeparator();
    // Exit is a close of the window: the same question, the same deferral during a loop.
    addItem(file, MenuItem::Exit, shell_text::exitItem(), {}, [this] { close(); });

    QMenu* edit = menuBar()->addMenu(toQt(shell_text::editMenu()));
    addItem(edit, MenuItem::ReplaceResource, shell_text::replaceItem(),
            QKeySequence(Qt::CTRL | Qt::Key_R), logic(MenuItem::ReplaceResource));
    addItem(edit, MenuItem::ExportResource, shell_text::exportItem(),
            QKeySequence(Qt::CTRL | Qt::Key_E), logic(MenuItem::ExportResource));
    addItem(edit, MenuItem::ExportAllResources, shell_text::exportAllItem(),
            QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E), logic(MenuItem::ExportAllResources));

    viewMenu_ = menuBar()->addMenu(toQt(shell_text::viewMenu()));
    auto* views = new QActionGroup(this);
    const std::tuple<View, Text, Qt::Key> viewItems[] = {
        {View::Tree, shell_text::treeViewItem(), Qt::Key_1},
        {View::Details, shell_text::detailsViewItem(), Qt::Key_2},
        {View::Thumbnails, shell_text::thumbnailsViewItem(), Qt::Key_3}};
    for (const auto& [v, text, key] : viewItems) {
        QAction* item = viewMenu_->addAction(toQt(text));
        item->setCheckable(true);
        item->setChecked(v == View::Tree);
        item->setShortcut(QKeySequence(Qt::CTRL | key));
        item->setActionGroup(views);
        connect(item, &QAction::triggered, this, [this, v = v] { showView(v); });
        viewItems_[v] = item;
    }
    QMenu* sizes = viewMenu_->addMenu(toQt(shell_text::thumbnailSizeMenu()));
    auto* sizeGroup = new QActionGroup(this);
    for (const int pixels : {48, 64, 96, 128, 192, 256}) {
        QAction* item =
            sizes->addAction(QString::number(pixels) + toQt(shell_text::pixelsSuffix()));
        item->setCheckable(true);
        item->setChecked(pixels == 96);
        item->setActionGroup(sizeGroup);
        connect(item, &QAction::triggered, this,
                [this, pixels] { thumbs_->setThumbnailSize(pixels); });
    }
    viewMenu_->addSeparator();
    bytesItem_ = viewMenu_->addAction(toQt(shell_text::bytesItem()));
    bytesItem_->setCheckable(true);
    bytesItem_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_B));
    connect(bytesItem_, &QAction::toggled, this, [this](bool on) { showBytes(on); });
    QAction* filter = viewMenu_->addAction(toQt(shell_text::filterItem()));
    filter->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_F));
    connect(filter, &QAction::triggered, this, [this] { showFilter(); });
    // The filter word kerbilo-cli's --verdict complete matches: only pictures that decode.
    QAction* whole = viewMenu_->addAction(toQt(shell_text::onlyCompleteItem()));
    whole->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_F));
    connect(whole, &QAction::triggered, this, [this] {
        filterBox_->setText(QStringLiteral("verdict:complete"));
        showFilter();
    });
    addPaneViewItems();

    QMenu* help = menuBar()->addMenu(toQt(shell_text::helpMenu()));
    addItem(help, MenuItem::About, shell_text::aboutItem(), QKeySequence(Qt::Key_F1),
            [this] { showAbout(); });
    // There are no libraries to update: the item stays in its place, greyed out.
    addItem(help, MenuItem::UpdateLibraries, shell_text::updateItem(), QKeySequence(Qt::Key_F5),
            {});

    menus_ = {{Menu::File, file}, {Menu::Edit, edit}, {Menu::Help, help}};
}

void MainWindow::created() {
    if (commands_.windowCreated) commands_.windowCreated();
}

void MainWindow::endProgram() {
    ending_ = true;
    close();
    QCoreApplication::exit(0);
}

void MainWindow::openDropped(const std::vector<Text>& dropped) {
    if (busy()) return;
    if (commands_.filesDropped) commands_.filesDropped(dropped);
    documentMayHaveChanged();
    syncBusyLook();
}

void MainWindow::showAbout() {
    AboutWindow about(this, renderers_);
    about.exec();
}

void MainWindow::syncBusyLook() {
    const bool now = busy();
    if (now != ui_->menusGreyed()) ui_->setMenusGreyed(now);
    const double share = now && commands_.progress ? commands_.progress() : -1;
    if (share >= 0) progress_->setValue(static_cast<int>(share * 1000));
    progress_->setVisible(share >= 0);
    cancel_->setVisible(cancellable());
}

void MainWindow::closeEvent(QCloseEvent* event) {
    if (ending_) {
        storeLayoutIfChanged();
        event->accept();
        return;
    }
    // While a loop runs the logic remembers the request and ends the program afterwards.
    const CloseDecision answer =
        commands_.requestClose ? commands_.requestClose() : CloseDecision::Close;
    if (answer == CloseDecision::Close) {
        ending_ = true;
        storeLayoutIfChanged();
        event->accept();
    } else {
        event->ignore();
    }
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
    // A resource dragged from the window itself is not a file to open.
    if (event->source()) return;
    if (!busy() && event->mimeData() && !droppedFilesOf(*event->mimeData()).empty())
        event->acceptProposedAction();
}

void MainWindow::dragMoveEvent(QDragMoveEvent* event) {
    if (!event->source() && !busy() && event->mimeData() &&
        !droppedFilesOf(*event->mimeData()).empty())
        event->acceptProposedAction();
    else
        event->ignore();
}

void MainWindow::dropEvent(QDropEvent* event) {
    if (event->source() || busy() || !event->mimeData()) return;
    std::vector<Text> dropped = droppedFilesOf(*event->mimeData());
    if (dropped.empty()) return;
    event->acceptProposedAction();
    // The drag source waits for the drop to finish; the scan runs after it has.
    QTimer::singleShot(0, this, [this, paths = std::move(dropped)] { openDropped(paths); });
}

void MainWindow::storeLayoutIfChanged() {
    // Resource.ini is not written by merely starting and closing the program.
    const WindowLayout now = currentLayout();
    if (now != startLayout_ && commands_.storeLayout) commands_.storeLayout(now);
    startLayout_ = now;
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == filterBox_ &&
        (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress) &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        // The box takes Esc before the window's shortcut would close the window.
        event->accept();
        if (event->type() == QEvent::KeyPress) hideFilter();
        return true;
    }
    if (watched == client_) {
        if (event->type() == QEvent::Resize) layOut();
        return QMainWindow::eventFilter(watched, event);
    }
    if (watched != tree_->viewport() || event->type() != QEvent::MouseButtonPress ||
        static_cast<QMouseEvent*>(event)->button() != Qt::RightButton || busy() ||
        !commands_.treeRightButtonPressed)
        return QMainWindow::eventFilter(watched, event);
    // The logic orders the pop-up, the press reaching the tree and the chosen command; the
    // press is handed over when it says so, and only once.
    auto* press = static_cast<QMouseEvent*>(event);
    bool delivered = false;
    commands_.treeRightButtonPressed([this, press, &delivered] {
        if (delivered) return;
        delivered = true;
        static_cast<TreeView*>(tree_)->press(press);
    });
    if (!delivered) static_cast<TreeView*>(tree_)->press(press);
    syncBusyLook();
    return true;
}

}  // namespace kerbilo
