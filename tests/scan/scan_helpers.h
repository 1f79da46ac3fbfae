#pragma once
// A program state over in-memory files and the scripted UI, with builders for files that
// hold resources at known places.

#include <string>
#include <vector>

#include "fake_ui.h"
#include "memory_files.h"
#include "scan/program_state.h"

namespace kerbilo::testing {

ByteBuffer bytes(std::initializer_list<std::uint8_t> b);
ByteBuffer join(std::initializer_list<ByteBuffer> parts);
ByteBuffer filler(std::size_t n, std::uint8_t value = 0x11);
// A PNG-like resource of the default kind: head, body, IEND tail.
ByteBuffer png(const ByteBuffer& body);
ByteBuffer pngHead();
ByteBuffer pngTail();

// resource.config text (UTF-8 here, stored as GBK) from "key=value" lines.
ByteBuffer kindsFile(std::initializer_list<std::string> lines);

struct Listed {
    int number;
    Text kind;
    Text label;
    std::int64_t offset;
    ByteBuffer data;
    friend bool operator==(const Listed&, const Listed&) = default;
};

struct ScanWorld {
    MemoryFileServices files;
    FakeUi ui;
    ProgramState state{files, ui};

    ScanWorld();  // with the default kinds file
    void setKinds(ByteBuffer content) { files.files["/prog/resource.config"] = std::move(content); }
    // Puts data at /data/app.exe and opens it.
    bool open(const ByteBuffer& data, const Text& path = "/data/app.exe");
    // The tree as the user sees it: every resource node with its group's kind.
    std::vector<Listed> listed();
    int itemOfResource(int n);
};

Text gbk(const char* utf8);

}  // namespace kerbilo::testing
