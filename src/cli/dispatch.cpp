#include <string>

#include "cli/cli_session.h"

namespace kerbilo::cli {

namespace {

const Command kCommands[] = {
    {&kListDoc, listCommand},
    {&kInspectDoc, inspectCommand},
    {&kExportDoc, exportCommand},
    {&kReplaceDoc, replaceCommand},
    {&kSetOutputFolderDoc, setOutputFolderCommand},
    {&kRenderDoc, renderCommand},
};

}  // namespace

std::span<const Command> commands() {
    return kCommands;
}

int runCli(CliEnv& env, int argc, char** argv) {
    if (argc < 2) return usageError(env, "no command given", kMainUsage);
    const std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        env.out << kMainUsage;
        return kExitOk;
    }
    for (const Command& c : commands())
        if (command == c.doc->name) return c.run(env, argc - 2, argv + 2);
    return usageError(env, "unknown command " + command, kMainUsage);
}

}  // namespace kerbilo::cli
