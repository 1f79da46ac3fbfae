#include <unistd.h>

#include <iostream>

#include "cli/cli_session.h"
#include "runtime/program_directory.h"
#include "runtime/shrink_guard.h"

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    // Files are mapped, not copied; one that another program shortens meanwhile ends the
    // run with a message and exit code 1, not a crash.
    kerbilo::installShrinkGuard("kerbilo-cli");
    // The same settings as the window's: resource.config and Resource.ini beside the
    // executable, or in the per-user folder when the executable's folder is not writable.
    kerbilo::PosixFileServices files(kerbilo::programDirectory());
    kerbilo::cli::CliEnv env{files, std::cout, std::cerr, isatty(STDERR_FILENO) ? stderr : nullptr,
                             kerbilo::cli::localeLanguage()};
    return kerbilo::cli::runCli(env, argc, argv);
}
