#include <string>

#include "cli/cli_session.h"

namespace kerbilo::cli {

namespace {

const char* const kMainUsage =
    "usage: kerbilo-cli COMMAND [ARGS]\n"
    "\n"
    "Finds the resources embedded in a file by the byte signatures of resource.config,\n"
    "as the Kerbilo window does, and exports or replaces them.\n"
    "\n"
    "commands:\n"
    "  list FILE... [--config PATH] [--json|--jsonl]  list the resources found in FILE\n"
    "  inspect FILE... [--config PATH] [--json|--jsonl]\n"
    "                                                  what each resource is: format, size,\n"
    "                                                  completeness, SHA-256\n"
    "  export FILE... [--out DIR] [--config PATH]      export every resource into DIR\n"
    "  export FILE --resource N -o PATH [--config PATH]  export resource N to PATH\n"
    "  replace FILE --resource N --with NEWFILE... -o OUT [--yes] [--config PATH]\n"
    "                                                  replace resources, save to OUT\n"
    "  set-output-folder DIR                           store the export-all folder\n"
    "  render INPUT -o OUT.png [--resource N] [--size WxH] [--stretch]\n"
    "         [--background RRGGBB] [--frame K] [--config PATH]\n"
    "                                                  draw the picture pane as a PNG\n"
    "\n"
    "list, inspect and export take several files and folders (-r, -L) and work on N at\n"
    "once (-j N). Commands that scan also take --ends format: end each resource where its\n"
    "picture format ends instead of at the first tail.\n"
    "kerbilo-cli COMMAND --help explains a command's options.\n"
    "Exit codes: 0 success, 1 a file could not be read or written, 2 usage error.\n";

}  // namespace

int runCli(CliEnv& env, int argc, char** argv) {
    if (argc < 2) return usageError(env, "no command given", kMainUsage);
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        env.out << kMainUsage;
        return kExitOk;
    }
    if (command == "list") return listCommand(env, argc - 2, argv + 2);
    if (command == "inspect") return inspectCommand(env, argc - 2, argv + 2);
    if (command == "export") return exportCommand(env, argc - 2, argv + 2);
    if (command == "replace") return replaceCommand(env, argc - 2, argv + 2);
    if (command == "set-output-folder") return setOutputFolderCommand(env, argc - 2, argv + 2);
    if (command == "render") return renderCommand(env, argc - 2, argv + 2);
    return usageError(env, "unknown command " + command, kMainUsage);
}

}  // namespace kerbilo::cli
