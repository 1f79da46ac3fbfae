#include "scan/open.h"

#include "config/config_files.h"
#include "runtime/byte_ops.h"
#include "runtime/gbk.h"
#include "scan/scanner.h"
#include "scan/texts.h"

namespace kerbilo {

Text fileNameOf(const Text& path) {
    const std::size_t slash = path.rfind('/');
    Text name = slash == Text::npos ? path : path.substr(slash + 1);
    // The limit is the file system's, on the name's own bytes: a byte that is not UTF-8
    // takes four in the GBK text, so a name of 255 such bytes is 1020 bytes long here.
    if (name.size() > 255 && gbkToUtf8(name).size() > 255) return {};
    return name;
}

OpenResult openFile(Services& services, Document& doc, const Text& path) {
    OpenResult result;
    UiServices& ui = services.ui;
    std::optional<ByteBuffer> bytes = services.files.tryReadWholeFile(path);
    if (!bytes) {
        result.reason = services.files.lastError();
        return result;
    }
    result.opened = true;
    doc.file.modified = false;
    ui.setMenuItemDisabled(MenuItem::Save, true);
    // The old catalogue's views must not keep the previous file's bytes alive.
    doc.catalogue.reset({});
    doc.file.bytes = std::move(*bytes);
    doc.file.name = fileNameOf(path);
    ui.setWindowTitle(concatText({"Kerbilo - ", path}));
    result.kindCount = readKindCount(services.files);
    ui.clearTree();
    doc.catalogue.reset(doc.file.bytes);
    for (int k = 1; k <= result.kindCount; ++k) {
        services.progress.beginStage(1.0 / result.kindCount, bufferLength(doc.file.bytes));
        if (scanKind(services, doc, k)) ++result.kindsScanned;
    }
    ui.setStatusText(0, scan_text::parsingDone());
    if (ui.treeItemCount() > 0) ui.expandTreeItem(0);
    ui.redrawControl(Control::Tree);
    return result;
}

}  // namespace kerbilo
