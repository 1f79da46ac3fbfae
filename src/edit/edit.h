#pragma once
// Replacing, exporting, saving and the output folder, without dialogs or questions: each
// operation takes the state it works on and returns what happened and why. The window's
// menu commands ask the user first and report afterwards; kerbilo-cli takes the answers
// from its command line.

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "config/config_files.h"
#include "picture/inspect.h"
#include "scan/document.h"

namespace kerbilo {

// The outcome of writing one file.
struct WriteResult {
    bool written = false;
    FileError error;  // why not
};

// ---- replacement ----------------------------------------------------------------------

enum class Growth { Refuse, Allow };

enum class PutStatus {
    Put,          // the data stands in the resource's slot; the catalogue holds it
    NeedsGrowth,  // longer than the slot and growth refused: nothing changed
    OutOfMemory,  // the copy could not be made: nothing changed
    Overwritten,  // another replacement rewrote the slot: the resource is no longer in the
                  // file, and nothing changed
    // Only for a resource found by structure (a Windows program's picture); nothing changed:
    WrongForm,         // the new file is not one it can take (an .ico for a bitmap, a text)
    Damaged,           // the new file's own structure does not hold together
    ProgramGone,       // the program it lies in no longer reads as one, or lost the resource
    DirectoryDamaged,  // the program's resource directory could not be read whole, and
                       // rewriting it would lose what was skipped
    NoRoom,            // no room in the program's headers for the section the resources need
    TooLarge,          // the program's resources would pass the format's limits
    NotReadBack,       // the program as written did not read back with exactly its resources
    InsideCompressed,  // a program's picture inside compressed data: not replaced
    ContainerDamaged,  // the compressed data around it no longer reads whole, or is
                       // encrypted or of a method that cannot be written
    NoRoomInStream,    // a bare gzip or zlib stream whose recompressed data would not fit
                       // where the old one lies (nothing knows what follows it)
};

struct PutResult {
    PutStatus status = PutStatus::Put;
    std::int64_t newLength = 0;   // L: the new data
    std::int64_t slotLength = 0;  // S: the slot it goes into
    // A program's picture: its resources were rebuilt in a section of their own (the file
    // grew), and the signature the program carried, which no longer matched, was removed.
    bool rebuilt = false;
    bool signatureRemoved = false;
};

// Puts data in the slot of resource n (1 ≤ n ≤ catalogue size): zero-filled when it is not
// longer than the slot, otherwise (growth allowed) in place of the slot, so the copy grows
// and later slots move. Either way the whole slot is rewritten: the resources inside it or
// across its edges are overwritten (ResourceCatalogue::rewriteSlot) and cannot be put
// afterwards. Leaves the modified flag and the window to the caller.
//
// A resource found by structure (a Windows program's picture) instead takes data as a file
// of its kind (.ico, .cur, .bmp, .png), turned into the form the program stores: written
// where the old one was when it fits, else with the program's resources rebuilt (growth
// is not asked: a program's resources are its own to grow). The other pictures of that
// program are read again from the result.
PutResult putResourceData(Document& doc, int n, const ByteBuffer& data, Growth growth);

// The question asked before a replacement grows the file: L, S and the warning.
Text growthWarning(std::int64_t newLength, std::int64_t slotLength);

// ---- export ---------------------------------------------------------------------------

// Writes the data of resource n to path.
WriteResult exportResourceTo(FileServices& files, const ResourceCatalogue& catalogue, int n,
                             const Text& path);

struct ExportFailure {
    Text path;        // the file that was not written
    FileError error;  // why: the folder's creation when folder is set, else the write
    Text folder;      // the folder whose creation failed and left no folder; empty otherwise
};
struct ExportReport {
    bool confirmed = false;      // the export ran (the window asks first)
    Text folder;                 // where the files went
    bool folderRenamed = false;  // a file stood where the folder was to be: see ExportAllOptions
    int written = 0;
    std::vector<ExportFailure> failures;
    // The manifests could not be written (path and reason); the resources may have been.
    std::optional<ExportFailure> manifestFailure;
};

struct ExportAllOptions {
    // The folder below the output folder; empty: the opened file's name.
    Text subfolder;
    // Besides manifest.tsv, manifest.jsonl with the same records.
    bool jsonLinesManifest = false;
    // When something other than a folder already has the folder's name (the opened file
    // itself, exported into its own folder), the first of name_资源, name_资源2, … that is
    // a folder or free is used instead.
    bool avoidTakenName = false;
    // The manifests gain a source column (where a resource found by structure came from),
    // as they do when the kinds file turns the structure scan on.
    bool sourceColumn = false;
    // Only resources with these verdicts are exported; none: all of them. The others are
    // passed by: no file, no failure, no manifest record.
    std::optional<VerdictSet> verdicts;
    // Told after each resource was written or failed, with its number (the window shows
    // "正在写出:" and the label).
    std::function<void(int n)> written;
};

// Every resource, in the order of their numbers (the tree's), to outputFolder/file
// name/label.suffix, the suffix the kind's in the kinds file as read once now; a progress
// step before each and before each kind's first (where the tree has its group). Then
// manifest.tsv in that folder records, for every file written, number, kind, label,
// offset, length, sha256, the path written, and format, width, height, frames and verdict
// of the resource (UTF-8, one header line, fields escaped as kerbilo-cli list escapes
// them).
ExportReport exportAllInto(Services& services, const Document& doc, const Text& outputFolder,
                           const ExportAllOptions& options = {});

// The export suffix of resource n: its kind's, from the kinds file as read.
Text exportSuffix(const KindsFile& kindsFile, const ResourceCatalogue& catalogue, int n);

// ---- saving ---------------------------------------------------------------------------

// Writes the whole in-memory copy to path.
WriteResult saveCopy(FileServices& files, const LoadedFile& file, const Text& path);

// From the last "." of name on, dot included; empty when there is none.
Text findExtension(const Text& name);

// ---- output folder --------------------------------------------------------------------

struct StoreResult : WriteResult {
    // The name holds a CR or LF, which no line of Resource.ini can hold: nothing was written.
    bool unstorable = false;
};

// Makes folder the output folder for the rest of the run, then stores it in Resource.ini;
// the result says whether it was stored (a read-only program folder, or a name with a line
// break, keeps it for the run only).
StoreResult storeOutputFolder(FileServices& files, Text& outputFolder, const Text& folder);

}  // namespace kerbilo
