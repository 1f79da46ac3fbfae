#include "app/commands.h"

#include <algorithm>
#include <thread>

#include "app/catalogue_view.h"
#include "app/resource_table.h"
#include "app/texts.h"
#include "config/config_files.h"
#include "runtime/byte_ops.h"
#include "scan/inspection.h"
#include "scan/open.h"

namespace kerbilo {

namespace {

void showFailure(ProgramState& state, const Text& prefix, const Text& subject, const Text& reason) {
    state.ui.showMessage(app_text::cannotMessage(prefix, subject, reason),
                         MessageStyle::OkInformation, app_text::noticeTitle());
}

// A resource that another replacement overwrote cannot be replaced: the bytes there are
// that replacement's. Said before anything is chosen or marked, since nothing could change.
bool refuseOverwritten(ProgramState& state, int item, int n) {
    if (!state.catalogue.overwritten(n)) return false;
    showFailure(state, app_text::cannotReplacePrefix(), state.ui.treeItemText(item),
                app_text::resourceOverwritten());
    return true;
}

// The resource's kind filter: its group's text + "文件|*." + suffix.
Text kindFilter(const ProgramState& state, int n, const Text& suffix) {
    return concatText({groupText(state.catalogue, n), app_text::filterKindMiddle(), suffix});
}

Text suffixOf(ProgramState& state, int n) {
    return exportSuffix(KindsFile::read(state.files), state.catalogue, n);
}

// Why a program's picture could not take the file; null for the other statuses.
const Text* foundProblem(PutStatus status) {
    switch (status) {
        case PutStatus::WrongForm:
            return &app_text::wrongForm();
        case PutStatus::Damaged:
            return &app_text::newFileDamaged();
        case PutStatus::ProgramGone:
            return &app_text::programGone();
        case PutStatus::DirectoryDamaged:
            return &app_text::directoryDamaged();
        case PutStatus::NoRoom:
            return &app_text::noRoomForSection();
        case PutStatus::TooLarge:
            return &app_text::resourcesTooLarge();
        case PutStatus::NotReadBack:
            return &app_text::notReadBack();
        case PutStatus::InsideCompressed:
            return &app_text::insideCompressed();
        case PutStatus::ContainerDamaged:
            return &app_text::containerDamaged();
        case PutStatus::NoRoomInStream:
            return &app_text::noRoomInStream();
        default:
            return nullptr;
    }
}

}  // namespace

// ---- opening --------------------------------------------------------------------------

namespace {

// What the window showed before an open that was cancelled: the opened file's title, tree,
// selection and picture, and the Save item as the modified flag says.
void showDocumentAgain(ProgramState& state, int selected) {
    UiServices& ui = state.ui;
    ui.setWindowTitle(state.openedPath.empty() ? Text("Kerbilo")
                                               : concatText({"Kerbilo - ", state.openedPath}));
    ui.setMenuItemDisabled(MenuItem::Save, !state.file.modified);
    ui.clearTree();
    if (state.openedPath.empty()) {
        ui.addTreeItem(-1, app_text::treeRoot());
    } else {
        publishCatalogue(ui, state.catalogue);
    }
    if (ui.treeItemCount() > 0) ui.expandTreeItem(0);
    if (selected >= 0 && selected < ui.treeItemCount()) {
        if (const int parent = ui.treeItemParent(selected); parent >= 0) ui.expandTreeItem(parent);
        ui.selectTreeItem(selected);
    }
    showInPane(state, state.shownPicture);
    ui.setStatusText(app_text::openCancelled());
    ui.redrawControl(Control::Tree);
}

}  // namespace

namespace {

// What stopped parts of the scan of compressed data, the first few of them, one a line.
Text containerStopsText(const std::vector<ContainerStop>& stops) {
    Text text = app_text::containerStopsStart();
    const std::size_t shown = std::min<std::size_t>(stops.size(), 5);
    for (std::size_t i = 0; i < shown; ++i) {
        const ContainerStop& s = stops[i];
        const Text* why = &app_text::stopDamaged();
        if (s.why == ContainerStop::Why::Depth)
            why = &app_text::stopDepth();
        else if (s.why == ContainerStop::Why::ArchiveDamaged)
            why = &app_text::stopOverlap();
        else if (s.stop == zip::Stop::Truncated)
            why = &app_text::stopTruncated();
        else if (s.stop == zip::Stop::StreamLimit)
            why = &app_text::stopStreamLimit();
        else if (s.stop == zip::Stop::TotalLimit)
            why = &app_text::stopTotalLimit();
        else if (s.stop == zip::Stop::RatioLimit)
            why = &app_text::stopRatio();
        else if (s.stop == zip::Stop::Encrypted)
            why = &app_text::stopEncrypted();
        else if (s.stop == zip::Stop::Unsupported)
            why = &app_text::stopMethod();
        text += concatText({"\r\n", s.source, ": ", *why});
    }
    if (stops.size() > shown)
        text += concatText({"\r\n", app_text::stopsMorePrefix(),
                            intToText(static_cast<std::int64_t>(stops.size() - shown))});
    return text;
}

}  // namespace

bool openAndScan(ProgramState& state, const Text& path) {
    if (!commandsAllowed(state)) return false;
    // Another file would drop the replacements not saved yet: the close question first.
    if (!mayDiscardChanges(state)) return false;
    const int selected = state.ui.selectedTreeItem();
    OpenResult result;
    runBusyLoop(
        state,
        [&] {
            Services services = state.services();
            WindowOpenView view(state.ui, state.progress);
            // A large file's sweep uses every core; the window answers between its blocks.
            OpenOptions options;
            options.threads = std::max(1u, std::thread::hardware_concurrency());
            result = openFile(services, state, path, options, view);
            // Before a close that arrived meanwhile asks its question over this window.
            if (result.cancelled) showDocumentAgain(state, selected);
        },
        Cancel::Possible);
    if (result.opened) {
        state.openedPath = path;
        state.shownPicture = {};  // the open emptied the pane
        // Read again first: another window may have opened files since. A list that cannot
        // be stored is no reason to trouble the user.
        writeRecentFiles(state.files, withRecentFile(readRecentFiles(state.files), path));
        if (!result.refusedKinds.empty()) {
            Text names;
            for (const Text& name : result.refusedKinds)
                names += concatText({names.empty() ? "" : app_text::comma(), name});
            state.ui.showMessage(
                concatText({app_text::refusedKindsStart(), names, app_text::refusedKindsEnd()}),
                MessageStyle::OkInformation, app_text::noticeTitle());
        }
        if (!result.containerStops.empty())
            state.ui.showMessage(containerStopsText(result.containerStops),
                                 MessageStyle::OkInformation, app_text::noticeTitle());
    } else if (!result.cancelled) {
        showFailure(state, app_text::cannotOpenPrefix(), path, describeError(result.error));
    }
    return result.opened;
}

void openCommand(ProgramState& state) {
    if (!commandsAllowed(state)) return;
    state.openDialog.filter = app_text::openFilter();
    if (!state.ui.showFileDialog(state.openDialog)) return;
    openAndScan(state, state.openDialog.fileName);
}

void filesDroppedCommand(ProgramState& state, const std::vector<Text>& paths) {
    if (!commandsAllowed(state) || paths.empty()) return;
    openAndScan(state, paths.front());
}

int resourceOfItem(ProgramState& state, int item) {
    return kerbilo::resourceOfItem(state.ui, state.catalogue, item);
}

Text describeTreeItem(ProgramState& state, int item) {
    const Text text = state.ui.treeItemText(item);
    const int n = resourceOfItem(state, item);
    if (n == 0) return text;
    Text described = concatText(
        {text, "\r\n",
         describeInspection(inspectCatalogued(state, n), state.catalogue.dataLength(n))});
    if (const ResourceOrigin* origin = state.catalogue.origin(n))
        described += concatText({"\r\n", app_text::sourcePrefix(), origin->source});
    return described;
}

void showSelectedResource(ProgramState& state) {
    // A group node or no selection leaves the pane as it was.
    const int n = resourceOfItem(state, state.ui.selectedTreeItem());
    if (n != 0) showInPane(state, state.catalogue.data(n));
}

// ---- replacement ----------------------------------------------------------------------

ReplaceResult replaceResource(ProgramState& state) {
    if (!commandsAllowed(state)) return ReplaceResult::Refused;
    UiServices& ui = state.ui;
    const int item = ui.selectedTreeItem();
    const int n = resourceOfItem(state, item);
    if (n == 0) return ReplaceResult::NotAResource;
    if (refuseOverwritten(state, item, n)) return ReplaceResult::Overwritten;
    FileDialogSettings& dialog = state.replaceDialog;
    Text suffix = suffixOf(state, n);
    // A program's icon or bitmap takes a PNG picture as well as a file of its own kind.
    if (state.catalogue.origin(n) && (suffix == "ico" || suffix == "bmp")) suffix += ";*.png";
    dialog.filter = concatText({kindFilter(state, n, suffix), "|", app_text::filterAllFiles()});
    if (dialog.initialFolder.empty()) dialog.initialFolder = state.openDialog.initialFolder;
    if (!ui.showFileDialog(dialog)) return ReplaceResult::Cancelled;
    const Text path = dialog.fileName;
    const std::optional<ByteBuffer> data = state.files.tryReadWholeFile(path);
    if (!data) {
        showFailure(state, app_text::cannotReadPrefix(), path, state.files.lastError());
        return ReplaceResult::Unreadable;
    }
    return applyReplacement(state, ui.selectedTreeItem(), *data);
}

ReplaceResult applyReplacement(ProgramState& state, int itemIndex, const ByteBuffer& newData) {
    UiServices& ui = state.ui;
    const int n = resourceOfItem(state, itemIndex);
    if (n == 0) return ReplaceResult::NotAResource;
    if (refuseOverwritten(state, itemIndex, n)) return ReplaceResult::Overwritten;
    PutResult put = putResourceData(state, n, newData, Growth::Refuse);
    if (put.status == PutStatus::NeedsGrowth) {
        const int answer =
            ui.showMessage(growthWarning(put.newLength, put.slotLength),
                           MessageStyle::OkCancelInformation, app_text::noticeTitle());
        if (answer != kResultOk) return ReplaceResult::Declined;
        put = putResourceData(state, n, newData, Growth::Allow);
    }
    if (put.status == PutStatus::OutOfMemory) {
        showFailure(state, app_text::cannotReplacePrefix(), ui.treeItemText(itemIndex),
                    app_text::outOfMemory());
        return ReplaceResult::OutOfMemory;
    }
    if (const Text* problem = foundProblem(put.status)) {
        showFailure(state, app_text::cannotReplacePrefix(), ui.treeItemText(itemIndex), *problem);
        return ReplaceResult::Unsuitable;
    }
    // Modified means replacements not saved yet: only a replacement that happened sets it.
    state.file.modified = true;
    ui.setMenuItemDisabled(MenuItem::Save, false);
    showInPane(state, state.catalogue.data(n));
    if (put.signatureRemoved)
        ui.showMessage(app_text::signatureRemoved(), MessageStyle::OkInformation,
                       app_text::noticeTitle());
    return ReplaceResult::Replaced;
}

// ---- export ---------------------------------------------------------------------------

bool exportResource(ProgramState& state) {
    if (!commandsAllowed(state)) return false;
    UiServices& ui = state.ui;
    const int item = ui.selectedTreeItem();
    const int n = resourceOfItem(state, item);
    if (n == 0) return false;
    const Text suffix = suffixOf(state, n);
    state.saveDialog.filter = kindFilter(state, n, suffix);
    state.saveDialog.defaultExtension = suffix;
    if (!ui.showFileDialog(state.saveDialog)) return false;
    const Text path = state.saveDialog.fileName;
    const WriteResult written = exportResourceTo(state.files, state.catalogue, n, path);
    if (!written.written)
        showFailure(state, app_text::cannotWritePrefix(), path, describeError(written.error));
    return written.written;
}

std::optional<Text> exportIntoFolder(ProgramState& state, int n, const Text& folder) {
    if (!state.catalogue.contains(n)) return std::nullopt;
    const ResourceOrigin* origin = state.catalogue.origin(n);
    const Text suffix = origin ? origin->suffix : suffixOf(state, n);
    if (!safeSuffix(suffix)) return std::nullopt;
    const Text path = concatText({folder, "/", resourceLabel(state.catalogue, n), ".", suffix});
    state.files.createDirectory(folder);  // usually there already: that failure is harmless
    if (!exportResourceTo(state.files, state.catalogue, n, path).written) return std::nullopt;
    return path;
}

ExportReport exportAllResources(ProgramState& state) {
    ExportReport report;
    if (!commandsAllowed(state)) return report;
    UiServices& ui = state.ui;
    if (ui.showMessage(app_text::exportAllQuestion(), MessageStyle::OkCancel,
                       app_text::noticeTitle()) != kResultOk)
        return report;
    runBusyLoop(state, [&] {
        Services services = state.services();
        ExportAllOptions options;
        options.avoidTakenName = true;
        options.written = [&state](int n) {
            state.ui.setStatusText(
                concatText({app_text::writingPrefix(), resourceLabel(state.catalogue, n)}));
        };
        report = exportAllInto(services, state, state.outputFolder, options);
        // A folder of another name is said, or the user would look for the usual one.
        Text message = report.folderRenamed
                           ? concatText({app_text::takenFolderStart(), report.folder})
                           : Text();
        // The manifest is one more file written, and fails like the others.
        std::vector<ExportFailure> failures = report.failures;
        if (report.manifestFailure) failures.push_back(*report.manifestFailure);
        if (!failures.empty()) {
            const auto failed = static_cast<std::int64_t>(failures.size());
            // The first failure where it happened: the folder that could not be made, or
            // the file that could not be written.
            const ExportFailure& first = failures.front();
            const Text firstFailure =
                first.folder.empty()
                    ? app_text::cannotMessage(app_text::firstFailedPrefix(), first.path,
                                              describeError(first.error))
                    : app_text::cannotMessage(app_text::cannotCreateFolderPrefix(), first.folder,
                                              describeError(first.error));
            if (!message.empty()) message += "\r\n";
            message += concatText({app_text::failedCountStart(), intToText(report.written + failed),
                                   app_text::failedCountMiddle(), intToText(failed),
                                   app_text::failedCountEnd(), "\r\n", firstFailure});
        }
        if (!message.empty())
            ui.showMessage(message, MessageStyle::OkInformation, app_text::noticeTitle());
    });
    return report;
}

// ---- saving and the output folder -----------------------------------------------------

bool saveFile(ProgramState& state) {
    if (!commandsAllowed(state)) return false;
    UiServices& ui = state.ui;
    state.saveDialog.filter = app_text::filterAllFiles();
    state.saveDialog.defaultExtension = findExtension(state.file.name);
    if (!ui.showFileDialog(state.saveDialog)) return false;
    const Text path = state.saveDialog.fileName;
    const WriteResult saved = saveCopy(state.files, state.file, path);
    if (!saved.written) {
        showFailure(state, app_text::cannotSavePrefix(), path, describeError(saved.error));
        return false;
    }
    state.file.modified = false;
    ui.setMenuItemDisabled(MenuItem::Save, true);
    return true;
}

bool browseForFolder(UiServices& ui, std::uintptr_t owner, const Text& prompt, Text& folder) {
    folder.clear();
    std::optional<Text> chosen = ui.chooseFolder(prompt, owner);
    if (!chosen) return false;
    Text path = chosen->substr(0, chosen->find('\0'));
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    if (path.empty()) return false;
    folder = std::move(path);
    return true;
}

bool setOutputFolder(ProgramState& state) {
    if (!commandsAllowed(state)) return false;
    Text folder;
    if (!browseForFolder(state.ui, state.ui.mainWindowHandle(), app_text::folderPrompt(), folder))
        return false;
    // A read-only program folder keeps the choice for this run only, as before. A name that
    // no settings line can hold is kept for the run too, but the user is told it will not
    // be there next time.
    const StoreResult stored = storeOutputFolder(state.files, state.outputFolder, folder);
    if (stored.unstorable)
        state.ui.showMessage(
            concatText({app_text::cannotMessage(app_text::cannotStoreFolderPrefix(), folder,
                                                describeError(stored.error)),
                        "\r\n", app_text::folderUsedThisRun()}),
            MessageStyle::OkInformation, app_text::noticeTitle());
    return true;
}

bool structureScanOn(ProgramState& state) {
    return KindsFile::read(state.files).structureScan();
}

bool toggleStructureScan(ProgramState& state) {
    if (!commandsAllowed(state)) return false;
    const bool on = !structureScanOn(state);
    if (!writeStructureScan(state.files, on)) {
        showFailure(state, app_text::cannotWriteKindsPrefix(), kindsFilePath(state.files),
                    state.files.lastError());
        return false;
    }
    // The open file stays as it was scanned: the status bar says when the change counts.
    state.ui.setStatusText(on ? app_text::structureScanOn() : app_text::structureScanOff());
    return true;
}

// ---- routing --------------------------------------------------------------------------

bool runMenuCommand(ProgramState& state, MenuItem item) {
    std::function<void()> command;
    switch (item) {
        case MenuItem::Open:
            command = [&state] { openCommand(state); };
            break;
        case MenuItem::SetOutputFolder:
            command = [&state] { setOutputFolder(state); };
            break;
        case MenuItem::Save:
            command = [&state] { saveFile(state); };
            break;
        case MenuItem::ReplaceResource:
            command = [&state] { replaceResource(state); };
            break;
        case MenuItem::ExportResource:
            command = [&state] { exportResource(state); };
            break;
        case MenuItem::ExportAllResources:
            command = [&state] { exportAllResources(state); };
            break;
        case MenuItem::StructureScan:
            command = [&state] { toggleStructureScan(state); };
            break;
        default:
            return false;
    }
    if (parkCommand(state, command)) return true;
    if (commandsAllowed(state)) command();
    return true;
}

}  // namespace kerbilo
