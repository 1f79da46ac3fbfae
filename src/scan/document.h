#pragma once
// The one file being worked on and the resources found in it, and the services the
// operations on them reach the world through. The program state holds a Document; the
// command line holds one per file it works on. Nothing here knows a window: what the
// operations find out reaches the front ends as events and results.

#include "runtime/file_services.h"
#include "runtime/progress.h"
#include "scan/catalogue.h"

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

// What the operations need of the world: files and settings, and a way to report progress
// (and to be cancelled).
struct Services {
    FileServices& files;
    Progress& progress;
};

// What an open tells whoever shows it, in the order it happens. The window turns these into
// its title, tree and status bar; the command line into a progress line, or nothing.
class OpenEvents {
  public:
    virtual ~OpenEvents() = default;
    // The file was read and the document is now this file, with nothing found in it yet.
    virtual void taken(const Text& path) { (void)path; }
    // The search for a kind's resources begins.
    virtual void kindBegins(const Text& name) { (void)name; }
    // A head of that kind at 0-based offset `at`; heads come in file order.
    virtual void headFound(std::int64_t at) { (void)at; }
    // Resources first … first + count − 1 (count ≥ 1) of the kind are in the catalogue.
    virtual void kindFound(const ResourceCatalogue& catalogue, int first, int count) {
        (void)catalogue, (void)first, (void)count;
    }
    // Every kind was searched (not said when the open was cancelled).
    virtual void scanned() {}
};

}  // namespace kerbilo
