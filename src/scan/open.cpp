#include "scan/open.h"

#include "config/config_files.h"
#include "runtime/byte_ops.h"
#include "scan/scanner.h"
#include "scan/texts.h"
#include "ui/services/dropped_files.h"

namespace kerbilo {

void runBusyLoop(ProgramState& state, const std::function<void()>& work) {
    state.busy = true;
    state.progress = {0, 0, 1};
    work();
    state.progress = {};
    state.busy = false;
    if (state.afterLoop) state.afterLoop(state);
}

Text fileNameOf(const Text& path) {
    const std::size_t slash = path.rfind('/');
    Text name = slash == Text::npos ? path : path.substr(slash + 1);
    if (name.size() > 255) return {};
    return name;
}

bool openAndScan(ProgramState& state, const Text& path) {
    if (!commandsAllowed(state)) return false;
    UiServices& ui = state.ui;
    std::optional<ByteBuffer> bytes = state.files.tryReadWholeFile(path);
    if (!bytes) {
        ui.showMessage(concatText({scan_text::cannotOpenPrefix(), path, "\r\n",
                                   scan_text::reasonPrefix(), state.files.lastError()}),
                       MessageStyle::OkInformation, scan_text::noticeTitle());
        return false;
    }
    state.file.modified = false;
    ui.setMenuItemDisabled(MenuItem::Save, true);
    // The old catalogue's views must not keep the previous file's bytes alive.
    state.catalogue.reset({});
    state.file.bytes = std::move(*bytes);
    state.file.name = fileNameOf(path);
    ui.setWindowTitle(concatText({"Kerbilo - ", path}));
    const int kinds = readKindCount(state.files);
    ui.clearTree();
    state.catalogue.reset(state.file.bytes);
    runBusyLoop(state, [&] {
        for (int k = 1; k <= kinds; ++k) {
            state.progress.base = static_cast<double>(k - 1) / kinds;
            state.progress.span = 1.0 / kinds;
            state.progress.share = state.progress.base;
            scanKind(state, k);
        }
        ui.setStatusText(0, scan_text::parsingDone());
        if (ui.treeItemCount() > 0) ui.expandTreeItem(0);
        ui.redrawControl(Control::Tree);
    });
    return true;
}

void openCommand(ProgramState& state) {
    if (!commandsAllowed(state)) return;
    state.openDialog.filter = scan_text::openFilter();
    if (!state.ui.showFileDialog(state.openDialog)) return;
    openAndScan(state, state.openDialog.fileName);
}

void filesDroppedCommand(ProgramState& state, const Text& droppedText) {
    if (!commandsAllowed(state)) return;
    openAndScan(state, firstDroppedPath(droppedText));
}

}  // namespace kerbilo
