#pragma once
// Many files in one run: the FILE arguments and the files found in folders (-r, -L), worked
// on N at a time (-j), their output printed in argument and walk order whatever order they
// finish in, a progress line on a terminal, and the worst exit code of them all.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_session.h"
#include "edit/resource_row.h"
#include "runtime/text_records.h"

namespace kerbilo::cli {

struct BatchOptions {
    bool recursive = false;    // -r: walk folders
    bool followLinks = false;  // -L: follow symbolic links met while walking
    unsigned jobs = 1;         // -j N: files at once (default: the number of cores)
};

// -r, -L and -j N; a usage problem, or nothing.
std::optional<std::string> readBatchOptions(const Args& args, BatchOptions& options);

// Tab-separated by default, --json for an array, --jsonl for JSON Lines; a usage problem
// when both are given.
std::optional<std::string> readListingFormat(const Args& args,
                                             std::optional<Listing::Format>& format);

struct Input {
    std::string path;  // as given, or as found while walking
    // The folder export all writes into below the output folder: empty for the file's
    // name; for a file found by walking, its path from the walked folder's name on, so
    // that files of the same name in different folders do not share one.
    std::string exportFolder;
};

// The files the arguments name, in argument order, a walked folder's files in name order,
// depth first. Symbolic links given as arguments are followed; those met while walking
// only with -L (each folder once). A folder without -r, or one that cannot be read, is
// reported on stderr and counts as a failure (worst becomes at least 1).
std::vector<Input> expandInputs(CliEnv& env, const std::vector<std::string>& arguments,
                                const BatchOptions& options, int& worst);

struct FileResult {
    std::string out;  // this file's share of the output
    std::string err;  // its messages
    int exitCode = kExitOk;
    std::uint64_t bytes = 0;  // how much was read, for the progress line
};

// Works on every input, `jobs` at a time, each on its own thread with its own file services
// (env.files when it cannot give them: then one at a time); hands each result to `print` in
// input order, one at a time, on the thread that finished it or a later one, and returns
// the worst exit code (2 > 1 > 0).
int runBatch(CliEnv& env, const std::vector<Input>& inputs, unsigned jobs,
             const std::function<FileResult(const Input&, CliEnv& fileEnv)>& work,
             const std::function<void(const FileResult&)>& print);

// One input opened in a session of its own, scanned for the kinds the run read, and handed
// to `use`, which fills the result's output and gives the exit code; a file that cannot be
// opened gives 1, with its reason.
FileResult withOpenedFile(const Input& input, CliEnv& fileEnv,
                          const std::optional<std::string>& config, const OpenOptions& options,
                          const RunKinds& run,
                          const std::function<int(Session&, FileResult&)>& use);

// The threads one file's scan may use: -j N for a single file; with several, the files
// share the threads, one each.
unsigned scanThreads(const BatchOptions& options, bool severalFiles);

// Gives one file's rows in tree order, each as it is made: `cores` is the threads the file
// may use.
using RowSource = std::function<void(Session&, unsigned cores,
                                     const std::function<void(const ResourceRow&)>& row)>;

// list and inspect alike: FILE arguments and folders (-r, -L, -j N), --config, --ends, and
// the listing's format, as `command` declares them. One file prints its rows as they come,
// under `columns` (and `structureColumns` after them when structures are scanned); several
// gain a leading file column and print in argument and walk order. Returns the exit code.
// `lastColumns` come last of all, so that the positions of the others never move.
// --verdict LIST, when the command declares it, keeps only the rows whose resource has one
// of those verdicts (each resource is inspected for it); the numbers stay the same.
int runListingCommand(CliEnv& env, int argc, char** argv, const CommandDoc& command,
                      std::vector<RowColumn> columns, const RowSource& rows,
                      const std::vector<RowColumn>& structureColumns = {},
                      const std::vector<RowColumn>& lastColumns = {});

// --verdict LIST: the set, or the usage problem.
std::optional<std::string> readVerdictOption(const Args& args, std::optional<VerdictSet>& verdicts);

// The worse of two exit codes: a usage error over a failure over success.
inline int worse(int a, int b) {
    return a > b ? a : b;
}

}  // namespace kerbilo::cli
