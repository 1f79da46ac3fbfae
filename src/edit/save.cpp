#include "config/config_files.h"
#include "edit/edit.h"
#include "edit/texts.h"
#include "runtime/byte_ops.h"

namespace kerbilo {

Text findExtension(const Text& name) {
    const std::size_t dot = name.rfind('.');
    return dot == Text::npos ? Text() : name.substr(dot);
}

bool saveFile(ProgramState& state) {
    if (!commandsAllowed(state)) return false;
    UiServices& ui = state.ui;
    state.saveDialog.filter = edit_text::filterAllFiles();
    state.saveDialog.defaultExtension = findExtension(state.file.name);
    if (!ui.showFileDialog(state.saveDialog)) return false;
    const Text path = state.saveDialog.fileName;
    if (!state.files.writeWholeFile(path, state.file.bytes)) {
        ui.showMessage(concatText({edit_text::cannotSavePrefix(), path, "\r\n",
                                   edit_text::reasonPrefix(), state.files.lastError()}),
                       MessageStyle::OkInformation, edit_text::noticeTitle());
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
    if (!browseForFolder(state.ui, state.ui.mainWindowHandle(), edit_text::folderPrompt(), folder))
        return false;
    state.outputFolder = folder;
    writeOutputFolder(state.files, folder);  // a read-only program folder keeps it for this run
    return true;
}

}  // namespace kerbilo
