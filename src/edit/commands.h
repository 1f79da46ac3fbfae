#pragma once
// The menu and window rules the shell calls into. Protocol for the shell:
//   1. construct ProgramState, set state.endProgram (ends the program without asking),
//      call installCommandRules(state) once;
//   2. bind every logic menu item to runMenuCommand(state, item) (it refuses while busy,
//      and parks the command while the right-click pop-up is open, scan/tree.h);
//   3. on a close request call requestClose: Close → close the window; Stay → keep it;
//      Deferred → keep it, endProgram will be called when the running loop ends if the
//      close is then allowed;
//   4. on Exit call requestExit: true → end now; false → deferred like a close.

#include "scan/program_state.h"

namespace kerbilo {

enum class CloseDecision { Close, Stay, Deferred };

void installCommandRules(ProgramState& state);

// Runs the logic's command for item; false for the items the shell carries out itself
// (Exit, About, UpdateLibraries).
bool runMenuCommand(ProgramState& state, MenuItem item);

// Not modified: Close. Modified: asks "文件修改还没有保存,是否保存修改?"; Yes saves and
// closes only when the file was written; No closes; Cancel stays.
CloseDecision requestClose(ProgramState& state);

bool requestExit(ProgramState& state);

}  // namespace kerbilo
