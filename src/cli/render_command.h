#pragma once
// kerbilo-cli render: composes the picture pane for a file (or one resource found in it)
// and writes the pane as a PNG, pixel for pixel what the window shows.

#include "cli/cli_session.h"

namespace kerbilo::cli {

extern const char* const kRenderUsage;

}  // namespace kerbilo::cli
