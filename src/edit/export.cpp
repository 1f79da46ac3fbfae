#include "edit/edit.h"
#include "edit/texts.h"
#include "runtime/byte_ops.h"
#include "scan/tree.h"

namespace kerbilo {

namespace {

void reportWriteFailure(ProgramState& state, const Text& path) {
    state.ui.showMessage(concatText({edit_text::cannotWritePrefix(), path, "\r\n",
                                     edit_text::reasonPrefix(), state.files.lastError()}),
                         MessageStyle::OkInformation, edit_text::noticeTitle());
}

}  // namespace

bool exportResource(ProgramState& state) {
    if (!commandsAllowed(state)) return false;
    UiServices& ui = state.ui;
    const int item = ui.selectedTreeItem();
    const int n = resourceOfItem(state, item);
    if (n == 0) return false;
    const Text suffix = suffixOfItem(state, item);
    state.saveDialog.filter = concatText(
        {ui.treeItemText(ui.treeItemParent(item)), edit_text::filterKindMiddle(), suffix});
    state.saveDialog.defaultExtension = suffix;
    if (!ui.showFileDialog(state.saveDialog)) return false;
    const Text path = state.saveDialog.fileName;
    if (state.files.writeWholeFile(path, state.catalogue.data(n))) return true;
    reportWriteFailure(state, path);
    return false;
}

ExportReport exportAllResources(ProgramState& state) {
    ExportReport report;
    if (!commandsAllowed(state)) return report;
    UiServices& ui = state.ui;
    if (ui.showMessage(edit_text::exportAllQuestion(), MessageStyle::OkCancel,
                       edit_text::noticeTitle()) != kResultOk)
        return report;
    report.confirmed = true;
    runBusyLoop(state, [&] {
        const int items = ui.treeItemCount();
        for (int item = 0; item < items; ++item) {
            state.progress.share = static_cast<double>(item) / items;
            ui.processPendingEvents();
            const int n = resourceOfItem(state, item);
            if (n == 0) continue;
            const Text suffix = suffixOfItem(state, item);
            const Text folder = concatText({state.outputFolder, "/", state.file.name, "/"});
            state.files.createDirectory(folder);  // usually exists already after the first
            const Text text = ui.treeItemText(item);
            const Text path = concatText({folder, text, ".", suffix});
            if (state.files.writeWholeFile(path, state.catalogue.data(n)))
                ++report.written;
            else
                report.failures.push_back({path, state.files.lastError()});
            ui.setStatusText(0, concatText({edit_text::writingPrefix(), text}));
        }
        if (report.failures.empty()) return;
        const int total = report.written + static_cast<int>(report.failures.size());
        const ExportFailure& first = report.failures.front();
        ui.showMessage(
            concatText({edit_text::failedCountStart(), intToText(total),
                        edit_text::failedCountMiddle(),
                        intToText(static_cast<std::int64_t>(report.failures.size())),
                        edit_text::failedCountEnd(), "\r\n", edit_text::firstFailedPrefix(),
                        first.path, "\r\n", edit_text::reasonPrefix(), first.reason}),
            MessageStyle::OkInformation, edit_text::noticeTitle());
    });
    return report;
}

}  // namespace kerbilo
