#include "config/config_files.h"
#include "edit/edit.h"
#include "edit/texts.h"
#include "runtime/byte_ops.h"
#include "scan/tree.h"

namespace kerbilo {

Text suffixOfItem(FileServices& files, UiServices& ui, int item) {
    return readKindSuffix(files, kindNameOfItem(ui, item));
}

WriteResult exportResourceTo(FileServices& files, const ResourceCatalogue& catalogue, int n,
                             const Text& path) {
    if (files.writeWholeFile(path, catalogue.data(n))) return {true, {}};
    return {false, files.lastError()};
}

ExportReport exportAllInto(Services& services, const Document& doc, const Text& outputFolder) {
    ExportReport report;
    report.confirmed = true;
    UiServices& ui = services.ui;
    FileServices& files = services.files;
    const int items = ui.treeItemCount();
    services.progress.beginStage(1.0, items);
    for (int item = 0; item < items; ++item) {
        services.progress.reached(item);
        services.progress.step();
        const int n = resourceOfItem(ui, doc.catalogue, item);
        if (n == 0) continue;
        const Text suffix = suffixOfItem(files, ui, item);
        const Text folder = concatText({outputFolder, "/", doc.file.name});
        // Usually exists already after the first; that failure is harmless. Its reason is
        // kept in case the write fails too and no folder is there: then it is the cause.
        const bool made = files.createDirectory(folder);
        const Text folderReason = made ? Text() : files.lastError();
        const Text text = ui.treeItemText(item);
        const Text path = concatText({folder, "/", text, ".", suffix});
        if (files.writeWholeFile(path, doc.catalogue.data(n)))
            ++report.written;
        else if (!made && !files.pathExists(folder))
            report.failures.push_back({path, folderReason, folder});
        else
            report.failures.push_back({path, files.lastError(), {}});
        ui.setStatusText(0, concatText({edit_text::writingPrefix(), text}));
    }
    return report;
}

}  // namespace kerbilo
