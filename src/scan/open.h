#pragma once
#include "scan/program_state.h"

namespace kerbilo {

// Opens and scans the file at path. When it cannot be read, shows why ("提示", OK) and
// leaves everything as it was. False when refused (busy) or unreadable.
bool openAndScan(ProgramState& state, const Text& path);

// The Open menu command: asks for a file in the open dialog, then openAndScan.
void openCommand(ProgramState& state);

// Files dropped on the main window: opens the first of them.
void filesDroppedCommand(ProgramState& state, const Text& droppedText);

// The last component of path; empty when there is none or it exceeds 255 bytes.
Text fileNameOf(const Text& path);

}  // namespace kerbilo
