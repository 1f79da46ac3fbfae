#pragma once
// kerbilo-cli render: composes the picture pane for a file (or one resource found in it)
// and writes the pane as a PNG, pixel for pixel what the window shows.

#include <optional>
#include <string>

#include "runtime/byte_buffer.h"

namespace kerbilo::cli {

// argv holds the arguments after the word "render". Exit codes: 0 written (also for data
// that is not a picture), 1 input unreadable or output unwritable, 2 usage error.
int runRender(int argc, char** argv);

struct RenderSource {
    std::optional<ByteBuffer> bytes;  // the resource's data, when there is one
    int exitCode = 0;                 // used when bytes is empty
    std::string message;              // printed on stderr when bytes is empty
};

// The data of resource `number` (1-based, numbered as the catalogue numbers them) found in
// the file at path `file` with the resource kinds of `configPath` (empty: the program's own
// configuration).
RenderSource loadResourceForRender(const std::string& file, long number,
                                   const std::string& configPath);

}  // namespace kerbilo::cli
