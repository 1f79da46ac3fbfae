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

// A close that arrived while the loop ran is carried out now, with its question.
void carryOutDeferred(ProgramState& state) {
    if (!state.closeRequested) return;
    state.closeRequested = false;
    if (requestClose(state) == CloseDecision::Close && state.endProgram) state.endProgram();
}

}  // namespace

void runBusyLoop(ProgramState& state, const std::function<void()>& work, Cancel cancel) {
    state.busy = true;
    state.progress.begin(cancel == Cancel::Possible);
    work();
    state.progress.end();
    state.busy = false;
    carryOutDeferred(state);
}

void cancelBusyLoop(ProgramState& state) {
    if (state.busy) state.progress.requestCancel();
}

CloseDecision requestClose(ProgramState& state) {
    if (state.busy) {
        state.closeRequested = true;
        cancelBusyLoop(state);
        return CloseDecision::Deferred;
    }
    return mayDiscardChanges(state) ? CloseDecision::Close : CloseDecision::Stay;
}

bool mayDiscardChanges(ProgramState& state) {
    if (!state.file.modified) return true;
    const int answer = state.ui.showMessage(app_text::unsavedQuestion(), MessageStyle::YesNoCancel,
                                            app_text::unsavedTitle());
    if (answer == kResultYes) return saveFile(state);
    return answer == kResultNo;
}

void showInPane(ProgramState& state, const ByteBuffer& data) {
    state.shownPicture = data;
    state.ui.setPictureData(Pane::Main, data);
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
