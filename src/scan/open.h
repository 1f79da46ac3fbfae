#pragma once
// Opening a file: read it, make it the loaded file, scan it for every kind. No dialog and
// no message: the result says what happened, and the caller tells the user.

#include "scan/document.h"
#include "scan/scanner.h"

namespace kerbilo {

struct OpenResult {
    bool opened = false;
    // The user cancelled (Progress::cancelled): the document is as it was before, while
    // the window's title, tree, pane and Save item are the caller's to put back.
    bool cancelled = false;
    Text reason;           // why the file could not be read (Chinese, GBK)
    int kindCount = 0;     // "资源种类数" as read
    int kindsScanned = 0;  // kinds with a name, a head and a tail
};

// Reads the file at path, then (only when that worked) clears the modified flag, disables
// Save, takes the bytes and the name, shows the path in the title, empties the picture
// pane, rebuilds the catalogue and the tree kind by kind, shows the completion text and
// expands the first group. A file that cannot be read changes nothing.
OpenResult openFile(Services& services, Document& doc, const Text& path,
                    const OpenOptions& options = {});

// The last component of path; empty when there is none or its bytes on disk (gbkToUtf8)
// exceed 255.
Text fileNameOf(const Text& path);

}  // namespace kerbilo
