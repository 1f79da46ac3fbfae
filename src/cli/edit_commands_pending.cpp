#include "cli/cli_session.h"

namespace kerbilo::cli {

const char* const kExportUsage = "usage: kerbilo-cli export (not yet available)\n";
const char* const kReplaceUsage = "usage: kerbilo-cli replace (not yet available)\n";
const char* const kSetOutputFolderUsage =
    "usage: kerbilo-cli set-output-folder (not yet available)\n";

int exportCommand(CliEnv& env, int, char**) {
    return usageError(env, "not available", kExportUsage);
}
int replaceCommand(CliEnv& env, int, char**) {
    return usageError(env, "not available", kReplaceUsage);
}
int setOutputFolderCommand(CliEnv& env, int, char**) {
    return usageError(env, "not available", kSetOutputFolderUsage);
}

}  // namespace kerbilo::cli
