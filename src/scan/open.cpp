#include "scan/open.h"

#include "config/config_files.h"
#include "runtime/byte_ops.h"
#include "scan/scanner.h"
#include "scan/texts.h"

namespace kerbilo {

Text fileNameOf(const Text& path) {
    const std::size_t slash = path.rfind('/');
    Text name = slash == Text::npos ? path : path.substr(slash + 1);
    if (name.size() > 255) return {};
    return name;
}

namespace {

// How the progress bar divides opening: reading the file, then each kind alike, of which
// filling the tree with its resources takes a part.
constexpr double kReadShare = 0.25;
constexpr double kTreePartOfKind = 0.2;

}  // namespace

OpenResult openFile(Services& services, Document& doc, const Text& path) {
    OpenResult result;
    UiServices& ui = services.ui;
    // Read in steps that let the window answer; nothing changes until the read succeeded.
    // A first step lets the window repaint where the file dialog was before reading starts.
    services.progress.beginStage(kReadShare, 0);
    services.progress.step();
    std::optional<ByteBuffer> bytes = services.files.readWholeFileInSteps(path, services.progress);
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
        services.progress.beginStage((1 - kReadShare) / result.kindCount,
                                     bufferLength(doc.file.bytes), kTreePartOfKind);
        if (scanKind(services, doc, k)) ++result.kindsScanned;
    }
    ui.setStatusText(0, scan_text::parsingDone());
    if (ui.treeItemCount() > 0) ui.expandTreeItem(0);
    ui.redrawControl(Control::Tree);
    return result;
}

}  // namespace kerbilo
