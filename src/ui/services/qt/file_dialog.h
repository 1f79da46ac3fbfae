#pragma once
// Qt's widget file dialog as the program needs it on Linux. Listing a folder never reads a
// file (Qt's own icons open each file to guess its type, and a read of /proc/kmsg never
// returns), and the filters mean what they meant where they were written: "*.*" is every
// file, names without a dot included, and the executables' "*.exe" also lists files with
// an execute permission bit, which is what an executable is here. The filter texts shown
// stay as they are given.

#include <QtWidgets/QFileDialog>
#include <QtWidgets/QFileIconProvider>

namespace kerbilo {

// Icons and type names decided by the file's name and kind alone, never by its content.
class NameOnlyIconProvider final : public QFileIconProvider {
  public:
    using QFileIconProvider::icon;
    QIcon icon(const QFileInfo& info) const override;
    QString type(const QFileInfo& info) const override;
};

// Whether a file of this name and these permissions is listed under these masks.
bool filterListsFile(const QStringList& masks, const QString& name, QFile::Permissions permissions);

// The masks of a name filter as Qt shows it: "description (m1 m2)" gives m1, m2.
QStringList masksOfNameFilter(const QString& nameFilter);

// Sets the icon provider, the options and the listing filter on a dialog that does not use
// the native one; call before exec().
void prepareFileDialog(QFileDialog& dialog);

}  // namespace kerbilo
