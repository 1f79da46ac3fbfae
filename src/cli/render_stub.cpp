#include <cstdio>

#include "cli/commands.h"

namespace kerbilo::cli {

int runRender(int, char**) {
    std::fputs("kerbilo-cli: render is not available in this build\n", stderr);
    return 2;
}

}  // namespace kerbilo::cli
