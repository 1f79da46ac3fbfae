#pragma once
// The menu commands: each asks the dialogs and questions the window needs, runs the
// operation of the scanning or editing library, and shows what went wrong. Every command
// returns at once while a loop is running (see app/program_state.h). The results tell
// tests what happened; the window ignores them.

#include <cstdint>
#include <optional>
#include <vector>

#include "app/program_state.h"
#include "edit/edit.h"

namespace kerbilo {

// ---- opening --------------------------------------------------------------------------

// Opens and scans the file at path in a busy loop, after the close question when there are
// unsaved replacements. When it cannot be read, shows why ("提示", OK) and leaves
// everything as it was; when the loop is cancelled, shows the previous file again as it
// was. False when refused (busy, or the question answered Cancel), unreadable or cancelled.
bool openAndScan(ProgramState& state, const Text& path);

// The Open menu command: asks for a file in the open dialog, then openAndScan.
void openCommand(ProgramState& state);

// Files dropped on the main window: opens the first of them.
void filesDroppedCommand(ProgramState& state, const std::vector<Text>& paths);

// The tree's current item changed or was double-clicked: shows its resource.
void showSelectedResource(ProgramState& state);

// The resource number of tree item `item`, or 0 when it is no resource of this catalogue.
int resourceOfItem(ProgramState& state, int item);

// What the tooltip of a tree item says: its whole text, and for a resource what it is.
Text describeTreeItem(ProgramState& state, int item);

// ---- replacement ----------------------------------------------------------------------

enum class ReplaceResult {
    Replaced,
    NotAResource,  // no selection, a group node, nothing opened
    Cancelled,     // the file dialog
    Unreadable,    // the chosen file; a message said why
    Declined,      // the size warning; nothing changed
    OutOfMemory,   // a message said so; nothing changed
    Overwritten,   // no longer in the file (another replacement rewrote it): a message said
                   // so before any file was chosen, and nothing changed, not the flag either
    Refused,       // busy
    Unsuitable,    // a program's picture cannot take the file, or the program cannot take
                   // the picture: a message said why, and nothing changed
};

// The "替换资源" command: asks for a file and puts it in the selected resource's slot.
ReplaceResult replaceResource(ProgramState& state);

// Puts newData in the slot of the resource at tree item itemIndex, asking first with the
// size warning when it is longer; once it stands there, marks the file modified, enables
// Save and shows the new data.
ReplaceResult applyReplacement(ProgramState& state, int itemIndex, const ByteBuffer& newData);

// ---- export ---------------------------------------------------------------------------

// The "导出资源" command; true when the selected resource was written.
bool exportResource(ProgramState& state);

// The "导出全部资源" command: asks, then every resource node to
// output folder/file name/node text.suffix; one message afterwards when any write failed.
ExportReport exportAllResources(ProgramState& state);

// Writes resource n into `folder` under the name export all gives it ("label.suffix"), for
// a drag out of the window; the path written, or nothing when it could not be written.
std::optional<Text> exportIntoFolder(ProgramState& state, int n, const Text& folder);

// ---- saving and the output folder -----------------------------------------------------

// The "保存文件" command; true only when the whole copy was written. The modified flag is
// cleared and Save disabled only then.
bool saveFile(ProgramState& state);

// The "设置输出文件夹" command; true when a folder was chosen (it is then in use, and
// stored in Resource.ini if that could be written; a name with a line break cannot be, and
// a message says so).
bool setOutputFolder(ProgramState& state);

// "结构扫描" (structure scan) in the kinds file: whether it is on, and the checkable
// "结构扫描" menu item, which turns it over and says in the status bar that the next open
// follows it (a failed write is said and changes nothing).
bool structureScanOn(ProgramState& state);
bool toggleStructureScan(ProgramState& state);

// The folder chooser owned by owner; the path without a trailing separator except for
// "/". False, with folder emptied, when nothing was chosen.
bool browseForFolder(UiServices& ui, std::uintptr_t owner, const Text& prompt, Text& folder);

// ---- routing --------------------------------------------------------------------------

// Runs the command of a menu item (parked while the right-click pop-up is open, refused
// while busy); false for the items the shell carries out itself (Exit, About,
// UpdateLibraries).
bool runMenuCommand(ProgramState& state, MenuItem item);

}  // namespace kerbilo
