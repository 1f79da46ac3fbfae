#include <unistd.h>

#include <iostream>

#include "cli/cli_session.h"
#include "cli/commands.h"

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    kerbilo::PosixFileServices files;
    kerbilo::cli::CliEnv env{files, std::cout, std::cerr, isatty(STDERR_FILENO) ? stderr : nullptr};
    return kerbilo::cli::runCli(env, argc, argv);
}
