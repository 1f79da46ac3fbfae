#pragma once
// Where the program's settings files (resource.config, Resource.ini) live, one rule for
// the window and kerbilo-cli alike: beside the executable when that folder is writable (a
// copy run from where it was built or unpacked), else $XDG_CONFIG_HOME/kerbilo (default
// ~/.config/kerbilo), created when missing, as for a copy installed by the system.

#include <string_view>

#include "runtime/byte_buffer.h"

namespace kerbilo {

// The rule on explicit inputs (GBK executable folder, UTF-8 home and XDG_CONFIG_HOME); a
// relative XDG_CONFIG_HOME is ignored, as the XDG rules say.
Text programDirectoryFor(const Text& executableDir, std::string_view home,
                         std::string_view xdgConfigHome);

// The rule for the running process: its executable's folder and its environment.
Text programDirectory();

}  // namespace kerbilo
