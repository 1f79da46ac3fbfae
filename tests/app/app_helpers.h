#pragma once
// The program state over in-memory files and the scripted UI, for the menu commands.

#include "app/program_state.h"
#include "scan_helpers.h"

namespace kerbilo::testing {

struct ScanWorld {
    MemoryFileServices files;
    FakeUi ui;
    ProgramState state{files, ui};

    ScanWorld();  // with the default kinds file
    void setKinds(ByteBuffer content) { files.files["/prog/resource.config"] = std::move(content); }
    // Puts data at path and opens it as the Open command does.
    bool open(const ByteBuffer& data, const Text& path = "/data/app.exe");
    std::vector<Listed> listed() { return testing::listed(ui, state.catalogue); }
    int itemOfResource(int n) { return testing::itemOfResource(ui, n); }
};

}  // namespace kerbilo::testing
