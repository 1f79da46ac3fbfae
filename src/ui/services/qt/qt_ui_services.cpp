#include "ui/services/qt/qt_ui_services.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QFileInfo>
#include <QtCore/QMimeData>
#include <QtCore/QUrl>
#include <QtGui/QAction>
#include <QtGui/QCursor>
#include <QtWidgets/QApplication>
#include <QtWidgets/QFileDialog>
#include <QtWidgets/QLabel>
#include <QtWidgets/QMenu>
#include <QtWidgets/QMessageBox>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QTreeView>
#include <vector>

#include "ui/services/dropped_files.h"
#include "ui/services/qt/file_dialog.h"
#include "ui/services/qt/picture_widget.h"
#include "ui/services/qt/preorder_tree_model.h"
#include "ui/services/qt/qt_text.h"

namespace kerbilo {

namespace {

// Qt accepts a typed path in a folder that does not exist; the logic relies on it existing.
class FileDialog final : public QFileDialog {
  public:
    using QFileDialog::QFileDialog;

  protected:
    void accept() override {
        const QStringList files = selectedFiles();
        if (fileMode() != Directory && !files.isEmpty() &&
            !QFileInfo(files.first()).absoluteDir().exists()) {
            QMessageBox::warning(this, windowTitle(),
                                 QString::fromUtf8("%1\n目录未找到。\n请检查指定的目录名是否正确。")
                                     .arg(files.first()));
            return;
        }
        QFileDialog::accept();
    }
};

struct ButtonText {
    QMessageBox::StandardButton button;
    const char* text;
    int result;
};
constexpr ButtonText kButtons[] = {
    {QMessageBox::Ok, "确定", kResultOk},
    {QMessageBox::Cancel, "取消", kResultCancel},
    {QMessageBox::Yes, "是(&Y)", kResultYes},
    {QMessageBox::No, "否(&N)", kResultNo},
};

}  // namespace

QStringList nameFiltersOf(const Text& filter) {
    const QStringList parts = toQt(filter).split(QLatin1Char('|'));
    QStringList out;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        // An empty description ends the list, as "||" does.
        if (parts[i].isEmpty()) break;
        QStringList masks = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        for (QString& m : masks) m = m.trimmed();
        out << parts[i] + QStringLiteral(" (") + masks.join(QLatin1Char(' ')) + QLatin1Char(')');
    }
    return out;
}

std::optional<Text> droppedFilesOf(const QMimeData& mime) {
    if (!mime.hasUrls()) return std::nullopt;
    std::vector<Text> paths;
    for (const QUrl& url : mime.urls())
        if (url.isLocalFile()) paths.push_back(fromQt(url.toLocalFile()));
    if (paths.empty()) return std::nullopt;
    return filesDroppedText(paths);
}

QtUiServices::QtUiServices(QtUiWidgets widgets) : w_(std::move(widgets)) {}

QWidget* QtUiServices::ownerOf(std::uintptr_t handle) const {
    for (QWidget* top : QApplication::topLevelWidgets())
        if (reinterpret_cast<std::uintptr_t>(top) == handle) return top;
    return w_.window;
}

int QtUiServices::showMessage(const Text& text, MessageStyle style, const Text& title) {
    QMessageBox box(w_.window);
    box.setWindowModality(Qt::ApplicationModal);
    box.setWindowTitle(toQt(title));
    box.setText(toQt(text));
    QMessageBox::StandardButtons buttons = QMessageBox::Ok | QMessageBox::Cancel;
    QMessageBox::StandardButton escape = QMessageBox::Cancel;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    switch (style) {
        case MessageStyle::OkCancelInformation:
            icon = QMessageBox::Information;
            break;
        case MessageStyle::OkCancel:
            break;
        case MessageStyle::YesNoCancel:
            buttons = QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
            break;
        case MessageStyle::OkInformation:
            icon = QMessageBox::Information;
            buttons = QMessageBox::Ok;
            escape = QMessageBox::Ok;
            break;
    }
    box.setIcon(icon);
    box.setStandardButtons(buttons);
    box.setEscapeButton(escape);
    box.setDefaultButton(buttons & QMessageBox::Yes ? QMessageBox::Yes : QMessageBox::Ok);
    for (const ButtonText& b : kButtons)
        if (QAbstractButton* button = box.button(b.button))
            button->setText(QString::fromUtf8(b.text));
    box.exec();
    const QMessageBox::StandardButton pressed = box.standardButton(box.clickedButton());
    for (const ButtonText& b : kButtons)
        if (b.button == pressed) return b.result;
    return escape == QMessageBox::Cancel ? kResultCancel : kResultOk;
}

bool QtUiServices::showFileDialog(FileDialogSettings& settings) {
    FileDialog dialog(w_.window);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    if (settings.mode == FileDialogMode::Save) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    const QStringList filters = nameFiltersOf(settings.filter);
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
        dialog.selectNameFilter(filters.first());
    }
    if (!settings.initialFolder.empty()) dialog.setDirectory(toQt(settings.initialFolder));
    dialog.setDefaultSuffix(toQt(settings.defaultExtension));
    if (!settings.fileName.empty()) dialog.selectFile(toQt(settings.fileName));
    prepareFileDialog(dialog);
    if (dialog.exec() != QDialog::Accepted) return false;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return false;
    settings.fileName = fromQt(QDir::toNativeSeparators(files.first()));
    return true;
}

std::optional<Text> QtUiServices::chooseFolder(const Text& prompt, std::uintptr_t owner) {
    FileDialog dialog(ownerOf(owner), toQt(prompt));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setDirectory(QDir::rootPath());
    prepareFileDialog(dialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    QString path = QDir::cleanPath(dialog.selectedFiles().first());
    while (path.size() > 1 && path.endsWith(QLatin1Char('/'))) path.chop(1);
    return fromQt(path);
}

void QtUiServices::setStatusText(int part, const Text& text) {
    if (part == 0 && w_.statusPart) w_.statusPart->setText(toQt(text));
}

void QtUiServices::clearTree() {
    w_.model->clear();
}

int QtUiServices::addTreeItem(int parent, const Text& text, std::int64_t itemData) {
    return w_.model->add(parent, text, itemData);
}

int QtUiServices::treeItemCount() {
    return w_.model->count();
}
Text QtUiServices::treeItemText(int index) {
    return w_.model->text(index);
}
std::int64_t QtUiServices::treeItemData(int index) {
    return w_.model->data(index);
}
int QtUiServices::treeItemParent(int index) {
    return w_.model->parentOf(index);
}

void QtUiServices::expandTreeItem(int index) {
    const QModelIndex at = w_.model->modelIndex(index);
    if (at.isValid()) w_.tree->expand(at);
}

int QtUiServices::selectedTreeItem() {
    return w_.model->preorderIndex(w_.tree->currentIndex());
}

void QtUiServices::redrawControl(Control control) {
    switch (control) {
        case Control::Tree:
            w_.tree->viewport()->update();
            break;
        case Control::PicturePane:
            for (auto& [pane, widget] : w_.panes) widget->update();
            break;
        case Control::StatusBar:
            if (w_.statusPart) w_.statusPart->update();
            break;
    }
}

void QtUiServices::setWindowTitle(const Text& text) {
    w_.window->setWindowTitle(toQt(text));
}

std::uintptr_t QtUiServices::mainWindowHandle() {
    return reinterpret_cast<std::uintptr_t>(w_.window);
}

void QtUiServices::setMenuItemDisabled(MenuItem item, bool disabled) {
    disabled_[item] = disabled;
    applyMenuState();
}

bool QtUiServices::menuItemDisabled(MenuItem item) const {
    const auto it = disabled_.find(item);
    return it != disabled_.end() && it->second;
}

void QtUiServices::setMenusGreyed(bool greyed) {
    greyed_ = greyed;
    applyMenuState();
}

void QtUiServices::applyMenuState() {
    for (auto& [item, action] : w_.items) action->setEnabled(!greyed_ && !menuItemDisabled(item));
    for (auto& [menu, widget] : w_.menus) widget->menuAction()->setEnabled(!greyed_);
}

void QtUiServices::popUpMenu(Menu menu) {
    const auto it = w_.menus.find(menu);
    if (it == w_.menus.end()) return;
    // The menu bar's actions would fire inside exec(), before the press that opened the
    // pop-up reaches the tree; stand-ins let the command wait until then.
    QMenu popup(w_.window);
    std::map<QAction*, QPointer<QAction>> target;
    for (QAction* action : it->second->actions()) {
        if (action->isSeparator()) {
            popup.addSeparator();
            continue;
        }
        QAction* standIn = popup.addAction(action->text());
        standIn->setEnabled(action->isEnabled());
        target[standIn] = action;
    }
    QAction* chosen = popup.exec(QCursor::pos() + QPoint(3, 3));
    if (!chosen) return;
    // Delivered once the pop-up has closed, before this returns: a caller that must let
    // something happen first (the press reaching the tree) parks the command meanwhile.
    if (QAction* action = target[chosen]; action && action->isEnabled()) action->trigger();
}

void QtUiServices::setPictureData(Pane pane, const ByteBuffer& data) {
    if (auto it = w_.panes.find(pane); it != w_.panes.end()) it->second->setData(data);
}

void QtUiServices::processPendingEvents() {
    if (sinceDispatch_.isValid() &&
        sinceDispatch_.nsecsElapsed() < std::int64_t{minDispatchIntervalMs} * 1000000)
        return;
    if (beforeDispatch) beforeDispatch();
    QCoreApplication::processEvents();
    sinceDispatch_.start();
}

}  // namespace kerbilo
