#pragma once
// Replacing, exporting, saving and the output folder. Every command returns at once while
// a loop is running (see scan/program_state.h); results tell callers such as kerbilo-cli
// what happened, the window may ignore them.

#include <cstdint>
#include <vector>

#include "scan/program_state.h"

namespace kerbilo {

// ---- replacement ----------------------------------------------------------------------

enum class ReplaceResult {
    Replaced,
    NotAResource,  // no selection, a group node, nothing opened
    Cancelled,     // the file dialog
    Unreadable,    // the chosen file; a message said why
    Declined,      // the size warning; the file stays marked modified
    Refused,       // busy
};

// The "替换资源" command: asks for a file and puts it in the selected resource's slot.
ReplaceResult replaceResource(ProgramState& state);

// Puts newData in the slot of the resource at tree item itemIndex: zero-filled when it is
// not longer than the slot, otherwise (after the size warning) in place of the slot, so
// the copy grows and later slots move.
ReplaceResult applyReplacement(ProgramState& state, int itemIndex, const ByteBuffer& newData);

// ---- export ---------------------------------------------------------------------------

// The "导出资源" command; true when the selected resource was written.
bool exportResource(ProgramState& state);

struct ExportFailure {
    Text path;
    Text reason;
};
struct ExportReport {
    bool confirmed = false;
    int written = 0;
    std::vector<ExportFailure> failures;
};

// The "导出全部资源" command: every resource node to
// output folder/file name/node text.suffix; one message afterwards when any write failed.
ExportReport exportAllResources(ProgramState& state);

// A kind's export suffix, read afresh from resource.config.
Text suffixOfItem(ProgramState& state, int item);

// ---- saving ---------------------------------------------------------------------------

// The "保存文件" command; true only when the whole copy was written. The modified flag is
// cleared and Save disabled only then.
bool saveFile(ProgramState& state);

// From the last "." of name on, dot included; empty when there is none.
Text findExtension(const Text& name);

// ---- output folder --------------------------------------------------------------------

// The "设置输出文件夹" command; true when a folder was chosen (it is then in use, and
// stored in Resource.ini if that could be written).
bool setOutputFolder(ProgramState& state);

// The folder chooser owned by owner; the path without a trailing separator except for
// "/". False, with folder emptied, when nothing was chosen.
bool browseForFolder(UiServices& ui, std::uintptr_t owner, const Text& prompt, Text& folder);

}  // namespace kerbilo
