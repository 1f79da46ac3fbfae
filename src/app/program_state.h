#pragma once
// The whole program state in one record, and the protocols of a running program: the busy
// loop, the deferred close and Exit, the right-click pop-up. The shell constructs it once,
// binds its menu items and events to the commands of app/commands.h and passes it to each.
//
// Busy protocol. Opening a file and exporting all resources run as a loop with `busy` set,
// in which pending events run. While it is set:
//   - every command (open, drop, replace, export, export all, save, set output folder)
//     returns at once without effect; the shell may also grey items out;
//   - a loop that can be cancelled (an open) stops at its next step once cancelBusyLoop is
//     called, and leaves the program as it was before it began;
//   - a close request (requestClose; Exit is one too) cancels such a loop, is remembered
//     and answered Deferred; when the loop ends, the close is carried out with the
//     unsaved-changes question, and `endProgram` is called if the program is to end.
//     endProgram must end the program without asking again; it runs inside the command
//     that ran the loop, so it should stop the event loop rather than destroy this state.

#include <functional>

#include "app/close_decision.h"
#include "app/ui_services.h"
#include "runtime/progress.h"
#include "scan/document.h"

namespace kerbilo {

// What a step of long work does in the program: the window handles its pending events,
// and the share of the work done is kept for the progress bar.
class BusyProgress final : public Progress {
  public:
    explicit BusyProgress(UiServices& ui) : ui_(ui) {}

    void step() override { ui_.processPendingEvents(); }
    bool cancelled() const override { return cancelRequested_; }
    void beginStage(double weight, std::int64_t total) override {
        meter_.beginStage(weight, total);
    }
    void reached(std::int64_t position) override { meter_.reached(position); }
    void setStageTotal(std::int64_t total) override { meter_.setStageTotal(total); }
    void reserveLaterPart(double part) override { meter_.reserveLaterPart(part); }
    void beginLaterPart(std::int64_t total) override { meter_.beginLaterPart(total); }
    using Progress::beginStage;

    void begin(bool cancellable) {
        meter_.begin();
        cancellable_ = cancellable;
        cancelRequested_ = false;
    }
    void end() {
        meter_.end();
        cancellable_ = cancelRequested_ = false;
    }
    // 0 … 1 while a loop runs, −1 otherwise.
    double share() const { return meter_.share(); }
    // The running loop can be cancelled, and has not been yet.
    bool cancellable() const { return cancellable_ && !cancelRequested_; }
    void requestCancel() {
        if (cancellable_) cancelRequested_ = true;
    }

  private:
    UiServices& ui_;
    ProgressMeter meter_;
    bool cancellable_ = false;
    bool cancelRequested_ = false;
};

struct ProgramState : Document {
    ProgramState(FileServices& f, UiServices& u) : files(f), ui(u), progress(u) {}

    FileServices& files;
    UiServices& ui;
    BusyProgress progress;

    Text outputFolder;
    FileDialogSettings openDialog{FileDialogMode::Open, {}, {}, {}, {}};
    FileDialogSettings saveDialog{FileDialogMode::Save, {}, {}, {}, {}};
    // The replacement's own dialog: it keeps the last replacement chosen, never the opened
    // file, whose bytes Enter would otherwise put into a resource's slot.
    FileDialogSettings replaceDialog{FileDialogMode::Open, {}, {}, {}, {}};
    Text desktopFolder;

    // The path of the opened file, empty before any; the title shows it.
    Text openedPath;
    // What the picture pane was last given (the shell's logo at first), so that a
    // cancelled open can show it again.
    ByteBuffer shownPicture;

    bool busy = false;
    bool closeRequested = false;  // a close (or Exit) arrived during a loop
    std::function<void()> endProgram;

    // Right-click protocol: while the pop-up menu is open a chosen command is parked here
    // and run only after the press has reached the tree (see treeRightButtonPressed).
    bool popUpOpen = false;
    std::function<void()> parkedCommand;

    Services services() { return {files, progress}; }
};

inline bool commandsAllowed(const ProgramState& state) {
    return !state.busy;
}

enum class Cancel { Impossible, Possible };

// Runs the work of a loop with `busy` set and the progress share running, then carries out
// a close that arrived meanwhile. With Cancel::Possible the work watches
// state.progress.cancelled() and undoes itself when it is set.
void runBusyLoop(ProgramState& state, const std::function<void()>& work,
                 Cancel cancel = Cancel::Impossible);

// The running loop stops at its next step when it can be cancelled; otherwise nothing.
void cancelBusyLoop(ProgramState& state);

// Not modified: Close. Modified: asks "文件修改还没有保存,是否保存修改?"; Yes saves and
// closes only when the file was written; No closes; Cancel stays. While busy: cancels a
// loop that can be cancelled, and is Deferred. Exit asks exactly this.
CloseDecision requestClose(ProgramState& state);

// The same question before the user's unsaved replacements would be dropped for another
// file: true when the work may go on (nothing unsaved, saved, or No), false to stay.
bool mayDiscardChanges(ProgramState& state);

// Gives the picture pane data and remembers it as what the pane shows.
void showInPane(ProgramState& state, const ByteBuffer& data);

// Right button pressed on the tree: pops up the Edit menu; once it has closed, runs
// letPressReachTree (the tree's own press handling, which may select the item under the
// cursor and so show it); only then runs the command chosen in the menu, which
// runMenuCommand parks meanwhile.
void treeRightButtonPressed(ProgramState& state, const std::function<void()>& letPressReachTree);

// Keeps `command` for treeRightButtonPressed when the pop-up menu is open; true then.
bool parkCommand(ProgramState& state, std::function<void()> command);

}  // namespace kerbilo
