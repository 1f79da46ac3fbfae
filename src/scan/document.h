#pragma once
// The one file being worked on and the resources found in it, and the services the
// operations on them reach the world through. The program state holds a Document; the
// command line holds one per file it works on.

#include "runtime/file_services.h"
#include "runtime/progress.h"
#include "scan/catalogue.h"
#include "ui/services/ui_services.h"

namespace kerbilo {

struct LoadedFile {
    ByteBuffer bytes;  // the in-memory copy, changed by replacements
    Text name;         // last path component, extension included
    bool modified = false;
};

struct Document {
    LoadedFile file;
    ResourceCatalogue catalogue;
};

// What the operations need of the world: files and settings, the window's controls (tree,
// status bar, title, menu states) and a way to report progress.
struct Services {
    FileServices& files;
    UiServices& ui;
    Progress& progress;
};

}  // namespace kerbilo
