#include "ui/services/qt/qt_ui_services.h"

#include <dirent.h>
#include <sys/stat.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QMimeData>
#include <QtCore/QTimer>
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
#include <string>
#include <vector>

#include "ui/services/qt/file_dialog.h"
#include "ui/services/qt/picture_widget.h"
#include "ui/services/qt/preorder_tree_model.h"
#include "ui/services/qt/qt_text.h"

namespace kerbilo {

namespace {

bool statOf(const std::string& path, struct stat& st) {
    return ::stat(path.c_str(), &st) == 0;
}

bool isFolder(const std::string& path) {
    struct stat st {};
    return statOf(path, st) && S_ISDIR(st.st_mode);
}

// The folder a path lies in; "/" for a name in the root, "." for a bare name.
std::string parentOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// The entries of a folder whose names Qt shows as `shown`.
std::vector<std::string> entriesShownAs(const std::string& folder, const QString& shown) {
    std::vector<std::string> found;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return found;
    while (const dirent* e = ::readdir(dir))
        if (QFile::decodeName(e->d_name) == shown) found.emplace_back(e->d_name);
    ::closedir(dir);
    return found;
}

// Qt accepts a typed path in a folder that does not exist; the logic relies on it existing.
// A path whose bytes Qt could not decode is taken back to those bytes (nativePathOf) before
// it is checked, and `chosen` holds what was accepted.
class FileDialog final : public QFileDialog {
  public:
    using QFileDialog::QFileDialog;

    std::string chosen;  // the bytes of the path accepted

  protected:
    void accept() override {
        const QStringList files = selectedFiles();
        if (files.isEmpty()) return QFileDialog::accept();
        const QString shown =
            fileMode() == Directory ? QDir::cleanPath(files.first()) : files.first();
        const std::string path = nativePathOf(shown);
        if (fileMode() != Directory && !isFolder(parentOf(path))) {
            QMessageBox::warning(this, windowTitle(),
                                 QString::fromUtf8("%1\n目录未找到。\n请检查指定的目录名是否正确。")
                                     .arg(files.first()));
            return;
        }
        chosen = path;
        struct stat st {};
        if (path == QFile::encodeName(shown).toStdString() || !statOf(path, st))
            return QFileDialog::accept();
        // Qt looks for the name it shows, which is not on disk: it would refuse to open
        // what is there, or save over it without asking. The bytes decide instead.
        const bool wantFolder = fileMode() == Directory;
        if (S_ISDIR(st.st_mode) != wantFolder) return QFileDialog::accept();
        if (acceptMode() == AcceptSave && !testOption(DontConfirmOverwrite) &&
            QMessageBox::warning(this, windowTitle(),
                                 tr("%1 already exists.\nDo you want to replace it?")
                                     .arg(QFileInfo(shown).fileName()),
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) != QMessageBox::Yes)
            return;
        QDialog::accept();
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

std::string nativePathOf(const QString& shown) {
    const std::string direct = QFile::encodeName(shown).toStdString();
    struct stat st {};
    if (!shown.contains(QChar::ReplacementCharacter) || ::lstat(direct.c_str(), &st) == 0)
        return direct;
    std::string path;
    const QStringList parts = shown.split(QLatin1Char('/'));
    for (qsizetype i = 0; i < parts.size(); ++i) {
        const QString& part = parts[i];
        const std::string folder = i == 0 ? "." : path.empty() ? "/" : path;
        if (i > 0) path += '/';
        const std::string asShown = QFile::encodeName(part).toStdString();
        if (!part.contains(QChar::ReplacementCharacter) ||
            ::lstat((path + asShown).c_str(), &st) == 0) {
            path += asShown;
            continue;
        }
        // Several names that Qt shows alike leave no way to tell which was meant.
        const std::vector<std::string> found = entriesShownAs(folder, part);
        path += found.size() == 1 ? found.front() : asShown;
    }
    return path;
}

std::string localFileBytes(const QUrl& url) {
    // toLocalFile() decodes the path as UTF-8, with U+FFFD for the bytes that are not; the
    // percent-encoded path still holds every byte.
    const QByteArray path =
        QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1());
    std::string out;
    if (!url.host().isEmpty()) {  // a host makes "//host/path", as toLocalFile() does
        out = "//" + url.host().toStdString();
        if (!path.isEmpty() && !path.startsWith('/')) out += '/';
    }
    out.append(path.constData(), static_cast<std::size_t>(path.size()));
    // A sender that put raw bytes in the URI list, not percent-encoded, had them turned into
    // U+FFFD already: look for the one name on disk that Qt shows alike.
    struct stat st {};
    if (out.find("\xEF\xBF\xBD") != std::string::npos && ::lstat(out.c_str(), &st) != 0)
        return nativePathOf(QString::fromStdString(out));
    return out;
}

std::vector<Text> droppedFilesOf(const QMimeData& mime) {
    std::vector<Text> paths;
    if (!mime.hasUrls()) return paths;
    for (const QUrl& url : mime.urls())
        if (url.isLocalFile()) paths.push_back(utf8ToGbk(localFileBytes(url)));
    return paths;
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
    // A question whose 确定 changes the file's data defaults to 取消: Enter must not say yes.
    box.setDefaultButton(buttons & QMessageBox::Yes                   ? QMessageBox::Yes
                         : style == MessageStyle::OkCancelInformation ? QMessageBox::Cancel
                                                                      : QMessageBox::Ok);
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
    if (dialog.exec() != QDialog::Accepted || dialog.chosen.empty()) return false;
    settings.fileName = utf8ToGbk(dialog.chosen);
    return true;
}

std::optional<Text> QtUiServices::chooseFolder(const Text& prompt, std::uintptr_t owner) {
    FileDialog dialog(ownerOf(owner), toQt(prompt));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setDirectory(QDir::rootPath());
    prepareFileDialog(dialog);
    if (dialog.exec() != QDialog::Accepted || dialog.chosen.empty()) return std::nullopt;
    std::string path = dialog.chosen;
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return utf8ToGbk(path);
}

void QtUiServices::setStatusText(const Text& text) {
    if (!w_.statusPart) return;
    // A scan sets a text for every head it finds, hundreds of thousands of them in a large
    // file: converting and laying out each would cost more than the scan. The label takes
    // the latest text at most every few milliseconds; a timer brings the last one in.
    if (statusShown_.isValid() && statusShown_.elapsed() < kStatusIntervalMs) {
        pendingStatus_ = text;
        if (!statusFlushQueued_) {
            statusFlushQueued_ = true;
            QTimer::singleShot(kStatusIntervalMs, w_.statusPart, [this] { flushStatus(); });
        }
        return;
    }
    pendingStatus_.reset();
    w_.statusPart->setText(toQt(text));
    statusShown_.start();
}

void QtUiServices::flushStatus() {
    statusFlushQueued_ = false;
    if (!pendingStatus_) return;
    w_.statusPart->setText(toQt(*pendingStatus_));
    pendingStatus_.reset();
    statusShown_.start();
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

void QtUiServices::selectTreeItem(int index) {
    const QModelIndex at = w_.model->modelIndex(index);
    if (!at.isValid()) {
        w_.tree->setCurrentIndex({});
        return;
    }
    w_.tree->setCurrentIndex(at);
    w_.tree->scrollTo(at);
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
    const QPoint at = popUpAt ? *popUpAt : QCursor::pos() + QPoint(3, 3);
    popUpAt.reset();
    QAction* chosen = popup.exec(at);
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
    if (pendingStatus_ && statusShown_.elapsed() >= kStatusIntervalMs) flushStatus();
    QCoreApplication::processEvents();
    sinceDispatch_.start();
}

}  // namespace kerbilo
