#pragma once
// Opening a file: read it, make it the loaded file, scan it for every kind. No dialog and
// no message: the result says what happened, and the caller tells the user.

#include "scan/container_scan.h"
#include "scan/document.h"
#include "scan/scanner.h"

namespace kerbilo {

struct OpenResult {
    bool opened = false;
    // The user cancelled (Progress::cancelled): the document is as it was before, while
    // the window's title, tree, pane and Save item are the caller's to put back.
    bool cancelled = false;
    FileError error;       // why the file could not be read
    int kindCount = 0;     // "资源种类数" as read
    int kindsScanned = 0;  // kinds with a name, a head and a tail
    // Kinds not searched for because their suffix would name a path outside the output
    // folder ("/", "..", NUL): their names.
    std::vector<Text> refusedKinds;
    KindsEncoding kindsEncoding = KindsEncoding::Gbk;
    // With the structure scan: the parts of compressed data a limit or damage stopped.
    std::vector<ContainerStop> containerStops;
};

// Reads the file at path, then (only when that worked) takes the bytes and the name with the
// modified flag cleared (events.taken), reads the kinds file once and rebuilds the
// catalogue kind by kind (events.kindBegins, headFound, kindFound), then events.scanned. A
// file that cannot be read changes nothing; a cancelled open puts the document back.
OpenResult openFile(Services& services, Document& doc, const Text& path, const OpenOptions& options,
                    OpenEvents& events);
inline OpenResult openFile(Services& services, Document& doc, const Text& path,
                           const OpenOptions& options = {}) {
    OpenEvents quiet;
    return openFile(services, doc, path, options, quiet);
}

// The last component of path; empty when there is none or its bytes on disk (gbkToUtf8)
// exceed 255.
Text fileNameOf(const Text& path);

}  // namespace kerbilo
