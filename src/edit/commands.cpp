#include "edit/commands.h"

#include "edit/edit.h"
#include "edit/texts.h"
#include "scan/open.h"
#include "scan/tree.h"

namespace kerbilo {

namespace {

void afterLoop(ProgramState& state) {
    if (state.exitRequested) {
        state.exitRequested = state.closeRequested = false;
        if (state.endProgram) state.endProgram();
        return;
    }
    if (!state.closeRequested) return;
    state.closeRequested = false;
    if (requestClose(state) == CloseDecision::Close && state.endProgram) state.endProgram();
}

}  // namespace

void installCommandRules(ProgramState& state) {
    state.afterLoop = afterLoop;
}

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
        default:
            return false;
    }
    if (parkCommand(state, command)) return true;
    if (commandsAllowed(state)) command();
    return true;
}

CloseDecision requestClose(ProgramState& state) {
    if (state.busy) {
        state.closeRequested = true;
        return CloseDecision::Deferred;
    }
    if (!state.file.modified) return CloseDecision::Close;
    const int answer = state.ui.showMessage(edit_text::unsavedQuestion(), MessageStyle::YesNoCancel,
                                            edit_text::unsavedTitle());
    if (answer == kResultYes) return saveFile(state) ? CloseDecision::Close : CloseDecision::Stay;
    if (answer == kResultNo) return CloseDecision::Close;
    return CloseDecision::Stay;
}

bool requestExit(ProgramState& state) {
    if (!state.busy) return true;
    state.exitRequested = true;
    return false;
}

}  // namespace kerbilo
