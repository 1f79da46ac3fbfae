#pragma once
// What every kerbilo-cli command shares: the environment it runs in, the arguments, the
// file services with an optional kinds file given on the command line, and one opened file.

#include <memory>
#include <optional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/messages.h"
#include "cli/options.h"
#include "cli/progress_line.h"
#include "config/config_files.h"
#include "runtime/file_services.h"
#include "runtime/progress.h"
#include "scan/document.h"
#include "scan/scanner.h"

namespace kerbilo::cli {

enum ExitCode { kExitOk = 0, kExitFailed = 1, kExitUsage = 2 };

struct CliEnv {
    FileServices& files;  // the real file system; its program directory holds the settings
    std::ostream& out;
    std::ostream& err;
    std::FILE* progress = nullptr;          // stderr when it is a terminal
    Language language = Language::English;  // of the messages about files

    const char* say(const char* english) const { return cli::say(language, english); }
    std::string reason(const FileError& error) const { return reasonText(language, error); }
};

// Passes everything through, except that the kinds file is read from another path and
// never written: a kinds file named on the command line is used as it is. The kinds file is
// read once: an operation (open, then export) asks for it again and gets what was read.
class KindsFileRedirect final : public FileServices {
  public:
    KindsFileRedirect(FileServices& inner, std::optional<Text> kindsPath);

    Text programDirectory() const override { return inner_.programDirectory(); }
    std::optional<ByteBuffer> tryReadWholeFile(std::string_view path) override;
    std::optional<ByteBuffer> tryMapWholeFile(std::string_view path) override;
    std::optional<ByteBuffer> readWholeFileInSteps(std::string_view path,
                                                   Progress& progress) override;
    using FileServices::writeWholeFile;
    bool writeWholeFile(std::string_view path, std::span<const ByteBuffer> parts) override;
    std::unique_ptr<FileWriter> startFile(std::string_view path) override;
    bool createDirectory(std::string_view path) override { return inner_.createDirectory(path); }
    bool pathExists(std::string_view path) override;
    bool isDirectory(std::string_view path) override { return inner_.isDirectory(path); }
    FileError lastFailure() const override {
        return ownFailure_ ? *ownFailure_ : inner_.lastFailure();
    }

    // The kinds file in use, as a UTF-8 path for messages.
    std::string kindsFileName() const;

  private:
    bool redirected(std::string_view path) const;
    bool isKindsFile(std::string_view path) const { return path == kindsFilePath(inner_); }
    std::optional<ByteBuffer> readKindsFile();

    FileServices& inner_;
    std::optional<Text> kindsPath_;
    std::optional<FileError> ownFailure_;
    // The kinds file as first read, or why it could not be.
    std::optional<std::optional<ByteBuffer>> kinds_;
    FileError kindsFailure_;
};

// The kinds file as a run over many files reads it: once, before its first file, so that
// every file is scanned for the same kinds and thousands of small files do not each read it.
struct RunKinds {
    std::shared_ptr<const KindsFile> kinds;
    std::optional<FileError> unreadable;  // why the kinds file --config names cannot be read
};
// Without --config, first writes the default kinds file when there is none, as opening a
// file does.
RunKinds readRunKinds(CliEnv& env, const std::optional<std::string>& configUtf8);

// One file opened with the program's settings (or a kinds file given by --config).
class Session {
  public:
    // `run`: the kinds the run read for all its files; without it, the open reads them.
    Session(CliEnv& env, const std::optional<std::string>& configUtf8,
            const OpenOptions& options = {}, const RunKinds* run = nullptr);

    // False, with the reason on stderr, when the kinds file named by --config cannot be
    // read or the file cannot be opened. Says on stderr when no kind could be read.
    bool ready(const std::string& fileUtf8);

    Services services() { return {files, progress}; }

    CliEnv& env;
    KindsFileRedirect files;
    ProgressLine progressLine;
    NoProgress progress;
    Document doc;
    Text outputFolder;  // where export all writes

  private:
    std::optional<std::string> config_;
    OpenOptions options_;
    const RunKinds* run_;
};

// ---- arguments ------------------------------------------------------------------------

struct Args {
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, std::string>> options;  // in order
    std::vector<std::string> flags;
    std::string error;  // non-empty: a usage error

    bool has(const std::string& flag) const;
    std::optional<std::string> value(const std::string& option) const;
};

// "--name value" and "--name=value" alike, for the options `command` declares; anything
// else that starts with "-" is a usage error. Options are recorded under their names,
// whichever spelling was given.
Args parseArgs(int argc, char** argv, const CommandDoc& command);

// Reports a usage error with the command's usage; returns kExitUsage.
int usageError(CliEnv& env, const std::string& problem, std::string_view usage);

// What every command on one FILE checks first: --help, argument errors, exactly one FILE.
// An exit code when the command is already done, nothing when it should go on.
std::optional<int> checkFileCommand(CliEnv& env, const Args& args, const char* name,
                                    std::string_view usage);
// The same for the commands that take several FILEs and folders.
std::optional<int> checkFilesCommand(CliEnv& env, const Args& args, const char* name,
                                     std::string_view usage);
// More than one FILE, or -r: rows then start with the file they come from.
bool severalFiles(const Args& args);
std::optional<int> parseResourceNumber(const std::string& text);
// --ends tail (the kinds file decides, as the window does) or --ends format (every kind
// ends its resources where the picture format ends), and --deep (the structure scan). A
// usage problem, or nothing.
std::optional<std::string> readScanOptions(const Args& args, OpenOptions& options);
// Whether the commands scan structures: --deep, or "结构扫描=是" in the kinds file in use.
// Sets options.structureScan accordingly, so that every file of the command is scanned
// alike even when the kinds file changes meanwhile.
bool settleStructureScan(CliEnv& env, const std::optional<std::string>& configUtf8,
                         OpenOptions& options);
std::string utf8(const Text& gbk);

int listCommand(CliEnv& env, int argc, char** argv);
int exportCommand(CliEnv& env, int argc, char** argv);
int replaceCommand(CliEnv& env, int argc, char** argv);
int setOutputFolderCommand(CliEnv& env, int argc, char** argv);
int renderCommand(CliEnv& env, int argc, char** argv);
int inspectCommand(CliEnv& env, int argc, char** argv);
struct Command {
    const CommandDoc* doc;  // its name, options and --help
    int (*run)(CliEnv& env, int argc, char** argv);
};
// Every command runCli knows.
std::span<const Command> commands();

// Dispatches argv[1] (argv[0] is the program); the whole command line.
int runCli(CliEnv& env, int argc, char** argv);

}  // namespace kerbilo::cli
