#pragma once
// The whole program state in one record, and the protocols of a running program: the busy
// loop, the deferred close and Exit, the right-click pop-up. The shell constructs it once,
// binds its menu items and events to the commands of app/commands.h and passes it to each.
//
// Busy protocol. Opening a file and exporting all resources run as a loop with `busy` set,
// in which pending events run. While it is set:
//   - every command (open, drop, replace, export, export all, save, set output folder)
//     returns at once without effect; the shell may also grey items out;
//   - a close request (requestClose) or the Exit command (requestExit) is remembered and
//     answered Deferred; when the loop ends, the close is carried out with the
//     unsaved-changes question, and `endProgram` is called if the program is to end.
//     endProgram must end the program without asking again; it runs inside the command
//     that ran the loop, so it should stop the event loop rather than destroy this state.

#include <functional>

#include "app/close_decision.h"
#include "runtime/progress.h"
#include "scan/document.h"

namespace kerbilo {

// What a step of long work does in the program: the window handles its pending events,
// and the share of the work done is kept for the progress bar.
class BusyProgress final : public Progress {
  public:
    explicit BusyProgress(UiServices& ui) : ui_(ui) {}

    void step() override { ui_.processPendingEvents(); }
    void beginStage(double weight, std::int64_t total) override {
        meter_.beginStage(weight, total);
    }
    void reached(std::int64_t position) override { meter_.reached(position); }
    void setStageTotal(std::int64_t total) override { meter_.setStageTotal(total); }
    void reserveLaterPart(double part) override { meter_.reserveLaterPart(part); }
    void beginLaterPart(std::int64_t total) override { meter_.beginLaterPart(total); }
    using Progress::beginStage;

    void begin() { meter_.begin(); }
    void end() { meter_.end(); }
    // 0 … 1 while a loop runs, −1 otherwise.
    double share() const { return meter_.share(); }

  private:
    UiServices& ui_;
    ProgressMeter meter_;
};

struct ProgramState : Document {
    ProgramState(FileServices& f, UiServices& u) : files(f), ui(u), progress(u) {}

    FileServices& files;
    UiServices& ui;
    BusyProgress progress;

    Text outputFolder;
    FileDialogSettings openDialog{FileDialogMode::Open, {}, {}, {}, {}};
    FileDialogSettings saveDialog{FileDialogMode::Save, {}, {}, {}, {}};
    Text desktopFolder;

    bool busy = false;
    bool closeRequested = false;  // a close arrived during a loop
    bool exitRequested = false;   // Exit arrived during a loop
    std::function<void()> endProgram;

    // Right-click protocol: while the pop-up menu is open a chosen command is parked here
    // and run only after the press has reached the tree (see treeRightButtonPressed).
    bool popUpOpen = false;
    std::function<void()> parkedCommand;

    Services services() { return {files, ui, progress}; }
};

inline bool commandsAllowed(const ProgramState& state) {
    return !state.busy;
}

// Runs the work of a loop with `busy` set and the progress share running, then carries out
// a close or Exit that arrived meanwhile.
void runBusyLoop(ProgramState& state, const std::function<void()>& work);

// Not modified: Close. Modified: asks "文件修改还没有保存,是否保存修改?"; Yes saves and
// closes only when the file was written; No closes; Cancel stays. Deferred while busy.
CloseDecision requestClose(ProgramState& state);

// True: end now. False: a loop runs; the program ends when it is over.
bool requestExit(ProgramState& state);

// Right button pressed on the tree: pops up the Edit menu; once it has closed, runs
// letPressReachTree (the tree's own press handling, which may select the item under the
// cursor and so show it); only then runs the command chosen in the menu, which
// runMenuCommand parks meanwhile.
void treeRightButtonPressed(ProgramState& state, const std::function<void()>& letPressReachTree);

// Keeps `command` for treeRightButtonPressed when the pop-up menu is open; true then.
bool parkCommand(ProgramState& state, std::function<void()> command);

}  // namespace kerbilo
