#include "ui/services/qt/file_dialog.h"

#include <QtCore/QRegularExpression>
#include <QtCore/QSortFilterProxyModel>
#include <QtGui/QFileSystemModel>
#include <QtWidgets/QComboBox>

namespace kerbilo {

namespace {

// Lists what the current filter means (see file_dialog.h) over the dialog's file system
// model, which is told to grey out rather than drop the names its own filter rejects, so
// that they reach this proxy at all. Folders are always listed. Sorting is left to the
// file system model, which keeps folders first.
class ListingProxy final : public QSortFilterProxyModel {
  public:
    using QSortFilterProxyModel::QSortFilterProxyModel;

    void setNameFilter(const QString& nameFilter) {
        const QStringList masks = masksOfNameFilter(nameFilter);
        if (masks == masks_) return;
        masks_ = masks;
        invalidateFilter();
    }

    void sort(int column, Qt::SortOrder order) override {
        if (sourceModel()) sourceModel()->sort(column, order);
    }

    Qt::ItemFlags flags(const QModelIndex& index) const override {
        Qt::ItemFlags flags = QSortFilterProxyModel::flags(index);
        // Listed means choosable, whatever the source model's own filter thought.
        if (index.isValid()) flags |= Qt::ItemIsEnabled;
        return flags;
    }

  protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override {
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (!files) return true;
        const QModelIndex index = files->index(row, 0, parent);
        if (files->isDir(index)) return true;
        return filterListsFile(masks_, files->fileName(index), files->permissions(index));
    }

  private:
    QStringList masks_;
};

}  // namespace

QIcon NameOnlyIconProvider::icon(const QFileInfo& info) const {
    return icon(info.isDir() ? QAbstractFileIconProvider::Folder : QAbstractFileIconProvider::File);
}

QString NameOnlyIconProvider::type(const QFileInfo& info) const {
    if (info.isDir()) return QString::fromUtf8("文件夹");
    const QString suffix = info.suffix();
    return suffix.isEmpty() ? QString::fromUtf8("文件")
                            : suffix.toUpper() + QString::fromUtf8(" 文件");
}

QStringList masksOfNameFilter(const QString& nameFilter) {
    const qsizetype open = nameFilter.lastIndexOf(QLatin1Char('('));
    const qsizetype close = nameFilter.lastIndexOf(QLatin1Char(')'));
    if (open < 0 || close < open) return {};
    return nameFilter.mid(open + 1, close - open - 1).split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

bool filterListsFile(const QStringList& masks, const QString& name,
                     QFile::Permissions permissions) {
    if (masks.isEmpty()) return true;
    constexpr QFile::Permissions kExecutable =
        QFile::ExeOwner | QFile::ExeUser | QFile::ExeGroup | QFile::ExeOther;
    for (const QString& mask : masks) {
        // Written where every name had a dot: it means every file.
        if (mask == QLatin1String("*.*") || mask == QLatin1String("*")) return true;
        if (QRegularExpression::fromWildcard(mask, Qt::CaseInsensitive).match(name).hasMatch())
            return true;
        if (mask.compare(QLatin1String("*.exe"), Qt::CaseInsensitive) == 0 &&
            (permissions & kExecutable))
            return true;
    }
    return false;
}

void prepareFileDialog(QFileDialog& dialog) {
    static NameOnlyIconProvider icons;  // outlives every dialog
    dialog.setIconProvider(&icons);
    dialog.setOption(QFileDialog::DontUseCustomDirectoryIcons);
    auto* proxy = new ListingProxy(&dialog);
    dialog.setProxyModel(proxy);
    auto* files = qobject_cast<QFileSystemModel*>(proxy->sourceModel());
    const auto follow = [&dialog, proxy, files] {
        if (files) files->setNameFilterDisables(true);
        proxy->setNameFilter(dialog.selectedNameFilter());
    };
    follow();
    // The dialog applies its own filter when the choice changes; this one follows it.
    if (auto* types = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo")))
        QObject::connect(types, &QComboBox::currentIndexChanged, proxy, follow);
    QObject::connect(&dialog, &QFileDialog::filterSelected, proxy, follow);
}

}  // namespace kerbilo
