#include "app/program_state.h"

#include "app/commands.h"
#include "app/texts.h"
#include "runtime/byte_ops.h"

namespace kerbilo {

namespace app_text {

Text cannotMessage(const Text& prefix, const Text& subject, const Text& reason) {
    return concatText({prefix, subject, "\r\n", reasonPrefix(), reason});
}

}  // namespace app_text

namespace {

// What arrived while the loop ran: Exit ends the program at once, a close asks first.
void carryOutDeferred(ProgramState& state) {
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

void runBusyLoop(ProgramState& state, const std::function<void()>& work) {
    state.busy = true;
    state.progress.begin();
    work();
    state.progress.end();
    state.busy = false;
    carryOutDeferred(state);
}

CloseDecision requestClose(ProgramState& state) {
    if (state.busy) {
        state.closeRequested = true;
        return CloseDecision::Deferred;
    }
    if (!state.file.modified) return CloseDecision::Close;
    const int answer = state.ui.showMessage(app_text::unsavedQuestion(), MessageStyle::YesNoCancel,
                                            app_text::unsavedTitle());
    if (answer == kResultYes) return saveFile(state) ? CloseDecision::Close : CloseDecision::Stay;
    if (answer == kResultNo) return CloseDecision::Close;
    return CloseDecision::Stay;
}

bool requestExit(ProgramState& state) {
    if (!state.busy) return true;
    state.exitRequested = true;
    return false;
}

bool parkCommand(ProgramState& state, std::function<void()> command) {
    if (!state.popUpOpen) return false;
    state.parkedCommand = std::move(command);
    return true;
}

void treeRightButtonPressed(ProgramState& state, const std::function<void()>& letPressReachTree) {
    state.parkedCommand = nullptr;
    state.popUpOpen = true;
    state.ui.popUpMenu(Menu::Edit);
    state.popUpOpen = false;
    if (letPressReachTree) letPressReachTree();
    std::function<void()> chosen = std::move(state.parkedCommand);
    state.parkedCommand = nullptr;
    if (chosen) chosen();
}

}  // namespace kerbilo
