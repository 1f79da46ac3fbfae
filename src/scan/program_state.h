#pragma once
// The whole program state in one record. The shell constructs it once, binds its menu
// commands and events to the operations declared in scan/*.h and edit/*.h, and passes it
// to each of them; the operations reach the world only through `files` and `ui`.
//
// Busy protocol. openAndScan and exportAllResources set `busy` for their whole loop, in
// which they let pending events run. While it is set:
//   - every command operation (open, drop, replace, export, export all, save, set output
//     folder) returns at once without effect; the shell may also grey items out by
//     consulting commandsAllowed();
//   - a close request (requestClose, edit/commands.h) or the Exit command (requestExit) is
//     remembered and answered Deferred; when the loop ends, the logic carries it out, with
//     the unsaved-changes question for a close, and calls `endProgram` if the program is
//     to end. endProgram must end the program without asking again; it runs inside the
//     operation that ran the loop, so it should stop the event loop rather than destroy
//     this state. edit/commands.h installs this rule (installCommandRules).

#include <functional>

#include "runtime/file_services.h"
#include "scan/catalogue.h"
#include "ui/services/ui_services.h"

namespace kerbilo {

struct LoadedFile {
    ByteBuffer bytes;  // the in-memory copy, changed by replacements
    Text name;         // last path component, extension included
    bool modified = false;
};

// How far a running loop (opening and scanning, export all) is, for a progress bar.
struct LoopProgress {
    double share = -1;  // 0 … 1 while a loop runs, −1 otherwise
    double base = 0;    // the part of the loop finished before the current kind's scan
    double span = 1;    // the part of the loop the current kind's scan stands for
};

struct ProgramState {
    ProgramState(FileServices& f, UiServices& u) : files(f), ui(u) {}

    FileServices& files;
    UiServices& ui;

    LoadedFile file;
    ResourceCatalogue catalogue;
    Text outputFolder;
    FileDialogSettings openDialog{FileDialogMode::Open, {}, {}, {}, {}};
    FileDialogSettings saveDialog{FileDialogMode::Save, {}, {}, {}, {}};
    Text desktopFolder;

    bool busy = false;
    LoopProgress progress;
    bool closeRequested = false;  // a close arrived during a loop
    bool exitRequested = false;   // Exit arrived during a loop
    std::function<void()> endProgram;

    // Right-click protocol: while the pop-up menu is open a chosen command is parked here
    // and run only after the press has reached the tree (see treeRightButtonPressed).
    bool popUpOpen = false;
    std::function<void()> parkedCommand;

    // Set by edit/commands.cpp so that a loop can carry out a deferred close; scan cannot
    // ask the close question itself because saving lives in the edit library.
    std::function<void(ProgramState&)> afterLoop;
};

inline bool commandsAllowed(const ProgramState& state) {
    return !state.busy;
}

// Runs the work of a loop with `busy` set, then carries out what was deferred meanwhile.
void runBusyLoop(ProgramState& state, const std::function<void()>& work);

}  // namespace kerbilo
