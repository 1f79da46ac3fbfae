#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "cli/batch.h"
#include "cli/cli_session.h"
#include "config/config_files.h"
#include "edit/edit.h"
#include "runtime/byte_ops.h"
#include "runtime/gbk.h"

namespace kerbilo::cli {

namespace {

std::string currentFolder() {
    char cwd[PATH_MAX];
    return ::getcwd(cwd, sizeof cwd) ? std::string(cwd) : std::string(".");
}

std::string absolute(const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    return currentFolder() + "/" + path;
}

int exportOne(CliEnv& env, Session& session, int n, const std::string& target) {
    if (!session.doc.catalogue.contains(n)) {
        env.err << "kerbilo-cli: " << env.say("the file has no resource") << " " << n << "\n";
        return kExitUsage;
    }
    const WriteResult written =
        exportResourceTo(session.files, session.doc.catalogue, n, utf8ToGbk(target));
    if (!written.written) {
        env.err << "kerbilo-cli: " << env.say("cannot write") << " " << target << ": "
                << env.reason(written.error) << "\n";
        return kExitFailed;
    }
    env.out << "wrote resource " << n << " to " << target << "\n";
    return kExitOk;
}

}  // namespace

namespace {

// Export all of one opened file into outputFolder/subfolder (the file's name when empty),
// making the folders above it; the summary on stdout, failures on stderr.
int exportAll(Session& session, const std::string& subfolder, bool jsonLines, bool sourceColumn,
              const std::optional<VerdictSet>& verdicts) {
    CliEnv& env = session.env;
    ExportAllOptions options;
    options.verdicts = verdicts;
    options.sourceColumn = sourceColumn;
    options.subfolder = utf8ToGbk(subfolder);
    options.jsonLinesManifest = jsonLines;
    // Exported where it lies (the current folder, by default), a file cannot give its name
    // to the folder: the folder takes the first free name after it.
    options.avoidTakenName = true;
    // A file found in a folder exports below that folder's path; its parents come first.
    for (std::size_t slash = subfolder.find('/'); slash != std::string::npos;
         slash = subfolder.find('/', slash + 1))
        session.files.createDirectory(
            concatText({session.outputFolder, "/", utf8ToGbk(subfolder.substr(0, slash))}));
    options.written = [&session](int n) {
        session.progressLine.writing(resourceLabel(session.doc.catalogue, n));
    };
    Services services = session.services();
    const ExportReport report = exportAllInto(services, session.doc, session.outputFolder, options);
    session.progressLine.finish();
    const std::size_t total = static_cast<std::size_t>(report.written) + report.failures.size();
    env.out << "wrote " << report.written << " of " << total << " files to " << utf8(report.folder)
            << "\n";
    const Text* folderSaid = nullptr;
    for (const ExportFailure& f : report.failures) {
        if (!f.folder.empty() && (!folderSaid || *folderSaid != f.folder)) {
            env.err << "kerbilo-cli: " << env.say("cannot create folder") << " " << utf8(f.folder)
                    << ": " << env.reason(f.error) << "\n";
            folderSaid = &f.folder;
        }
        env.err << "kerbilo-cli: " << env.say("cannot write") << " " << utf8(f.path) << ": "
                << env.reason(f.error) << "\n";
    }
    if (report.manifestFailure)
        env.err << "kerbilo-cli: " << env.say("cannot write") << " "
                << utf8(report.manifestFailure->path) << ": "
                << env.reason(report.manifestFailure->error) << "\n";
    return report.failures.empty() && !report.manifestFailure ? kExitOk : kExitFailed;
}

// Makes the folder and every missing folder above it; why not, when it is no folder after.
FileError makeFolders(FileServices& files, const Text& folder) {
    for (std::size_t slash = folder.find('/', 1); slash != Text::npos;
         slash = folder.find('/', slash + 1))
        files.createDirectory(folder.substr(0, slash));
    if (files.createDirectory(folder) || files.isDirectory(folder)) return {};
    // Something else standing there is the reason, not that the name exists.
    return files.pathExists(folder) ? FileError{ENOTDIR, 0, {}} : files.lastFailure();
}

std::string withoutTrailingSlashes(std::string dir) {
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    return dir;
}

}  // namespace

int exportCommand(CliEnv& env, int argc, char** argv) {
    const Args args = parseArgs(argc, argv, kExportDoc);
    const std::string usage = kExportDoc.usage();
    if (const std::optional<int> done = checkFilesCommand(env, args, "export", usage)) return *done;
    OpenOptions options;
    options.mapFile = true;  // only read: a file larger than memory still exports
    BatchOptions batch;
    std::optional<VerdictSet> verdicts;
    for (const std::optional<std::string>& problem :
         {readScanOptions(args, options), readBatchOptions(args, batch),
          readVerdictOption(args, verdicts)})
        if (problem) return usageError(env, *problem, usage);
    const std::optional<std::string> resource = args.value("--resource");
    const std::optional<std::string> target = args.value("-o");
    const std::optional<std::string> config = args.value("--config");
    const bool structures = options.structureScan;
    std::optional<int> n;
    if (resource) {
        n = parseResourceNumber(*resource);
        if (!n) return usageError(env, "--resource needs a number from 1 on", usage);
        if (!target) return usageError(env, "--resource needs -o PATH", usage);
        if (args.value("--out")) return usageError(env, "--out goes without --resource", usage);
        if (severalFiles(args)) return usageError(env, "--resource goes with one FILE", usage);
        if (verdicts) return usageError(env, "--verdict goes without --resource", usage);
    } else if (target) {
        return usageError(env, "-o goes with --resource", usage);
    }
    std::optional<std::string> out = args.value("--out");
    // An empty folder would put the export at the root of the file system.
    if (out && out->empty()) return usageError(env, "--out needs a folder", usage);
    const bool jsonLines = args.has("--jsonl");

    if (n) {
        options.threads = scanThreads(batch, false);
        Session session(env, config, options);
        if (!session.ready(args.positional[0])) return kExitFailed;
        return exportOne(env, session, *n, *target);
    }
    // Without --out: the folder set with set-output-folder, else the current one.
    if (!out) out = utf8(readStoredOutputFolder(env.files));
    if (out->empty()) out = currentFolder();
    *out = withoutTrailingSlashes(*out);
    // Every carver makes its output folder; one that cannot be made is said once.
    if (const FileError failed = makeFolders(env.files, utf8ToGbk(*out))) {
        env.err << "kerbilo-cli: " << env.say("cannot create folder") << " " << *out << ": "
                << env.reason(failed) << "\n";
        return kExitFailed;
    }

    int worst = kExitOk;
    const std::vector<Input> inputs = expandInputs(env, args.positional, batch, worst);
    if (!severalFiles(args)) {
        if (inputs.empty()) return worst;  // a folder, which was said
        options.threads = scanThreads(batch, false);
        Session session(env, config, options);
        if (!session.ready(inputs.front().path)) return kExitFailed;
        session.outputFolder = utf8ToGbk(*out);
        return exportAll(session, {}, jsonLines, structures, verdicts);
    }
    options.threads = scanThreads(batch, true);
    const RunKinds run = inputs.empty() ? RunKinds{} : readRunKinds(env, config);
    return worse(worst, runBatch(
                            env, inputs, batch.jobs,
                            [&](const Input& input, CliEnv& fileEnv) {
                                return withOpenedFile(input, fileEnv, config, options, run,
                                                      [&](Session& session, FileResult&) {
                                                          session.outputFolder = utf8ToGbk(*out);
                                                          return exportAll(
                                                              session, input.exportFolder,
                                                              jsonLines, structures, verdicts);
                                                      });
                            },
                            [&](const FileResult& r) { env.out << r.out; }));
}

namespace {

// Why a program's picture could not take the new file; nothing for the other statuses.
const char* foundProblem(PutStatus status) {
    switch (status) {
        case PutStatus::WrongForm:
            return "cannot take that file: an icon takes an .ico or .png file, a cursor a .cur "
                   "file, a bitmap a .bmp file";
        case PutStatus::Damaged:
            return "the new file's structure is damaged";
        case PutStatus::ProgramGone:
            return "the program that held it no longer reads as one";
        case PutStatus::DirectoryDamaged:
            return "the program's resource directory is damaged, and rewriting it would lose "
                   "resources";
        case PutStatus::NoRoom:
            return "the program's headers have no room for another section";
        case PutStatus::TooLarge:
            return "the program's resources would pass the format's limits";
        case PutStatus::NotReadBack:
            return "the program as written did not read back as it should";
        case PutStatus::InsideCompressed:
            return "a program's picture inside compressed data cannot be replaced";
        case PutStatus::ContainerDamaged:
            return "the compressed data around it does not read whole, is encrypted or uses "
                   "a method that cannot be written";
        case PutStatus::NoRoomInStream:
            return "the stream compressed anew is longer than the old one, and what follows "
                   "it is of no known container";
        default:
            return nullptr;
    }
}

}  // namespace

int replaceCommand(CliEnv& env, int argc, char** argv) {
    const Args args = parseArgs(argc, argv, kReplaceDoc);
    const std::string usage = kReplaceDoc.usage();
    if (const std::optional<int> done = checkFileCommand(env, args, "replace", usage)) return *done;
    OpenOptions options;
    if (const std::optional<std::string> problem = readScanOptions(args, options))
        return usageError(env, *problem, usage);
    const std::optional<std::string> target = args.value("-o");
    if (!target) return usageError(env, "replace needs -o OUT", usage);

    std::vector<std::pair<int, std::string>> pairs;
    std::optional<int> pending;
    for (const auto& [name, value] : args.options) {
        if (name == "--resource") {
            if (pending) return usageError(env, "--resource without --with", usage);
            pending = parseResourceNumber(value);
            if (!pending) return usageError(env, "--resource needs a number from 1 on", usage);
        } else if (name == "--with") {
            if (!pending) return usageError(env, "--with without --resource", usage);
            pairs.emplace_back(*pending, value);
            pending.reset();
        }
    }
    if (pending) return usageError(env, "--resource without --with", usage);
    if (pairs.empty()) return usageError(env, "replace needs --resource N --with NEWFILE", usage);

    Session session(env, args.value("--config"), options);
    if (!session.ready(args.positional[0])) return kExitFailed;
    bool signatureRemoved = false;
    const Growth growth = args.has("--yes") ? Growth::Allow : Growth::Refuse;
    for (const auto& [n, with] : pairs) {
        if (!session.doc.catalogue.contains(n)) {
            env.err << "kerbilo-cli: " << env.say("the file has no resource") << " " << n << "\n";
            return kExitUsage;
        }
        const std::optional<ByteBuffer> data = session.files.tryReadWholeFile(utf8ToGbk(with));
        if (!data) {
            env.err << "kerbilo-cli: " << env.say("cannot read") << " " << with << ": "
                    << env.reason(session.files.lastFailure()) << "\n";
            return kExitFailed;
        }
        const PutResult put = putResourceData(session.doc, n, *data, growth);
        if (put.status == PutStatus::NeedsGrowth) {
            env.err << "kerbilo-cli: " << env.say("the new data is longer than the resource:")
                    << " " << put.newLength << " " << env.say("bytes instead of") << " "
                    << put.slotLength << " " << env.say("bytes") << "\n"
                    << "kerbilo-cli: " << env.say("resource") << " " << n << " "
                    << env.say("would grow the file; give --yes to allow it") << "\n";
            return kExitFailed;
        }
        if (put.status == PutStatus::Overwritten) {
            env.err << "kerbilo-cli: " << env.say("resource") << " " << n << " "
                    << env.say(
                           "is no longer in the file: an earlier replacement rewrote its "
                           "bytes; nothing was written")
                    << "\n";
            return kExitFailed;
        }
        if (put.status == PutStatus::OutOfMemory) {
            env.err << "kerbilo-cli: " << env.say("not enough memory to replace resource") << " "
                    << n << env.say("; nothing was written") << "\n";
            return kExitFailed;
        }
        if (const char* problem = foundProblem(put.status)) {
            env.err << "kerbilo-cli: " << env.say("resource") << " " << n << ": "
                    << env.say(problem) << env.say("; nothing was written") << "\n";
            return kExitFailed;
        }
        signatureRemoved = signatureRemoved || put.signatureRemoved;
    }
    const WriteResult saved = saveCopy(session.files, session.doc.file, utf8ToGbk(*target));
    if (!saved.written) {
        env.err << "kerbilo-cli: " << env.say("cannot save") << " " << *target << ": "
                << env.reason(saved.error) << "\n";
        return kExitFailed;
    }
    if (signatureRemoved)
        env.err << "kerbilo-cli: "
                << env.say(
                       "the program's digital signature no longer matched its bytes and "
                       "was removed from")
                << " " << *target << "\n";
    env.out << "replaced " << pairs.size() << (pairs.size() == 1 ? " resource" : " resources")
            << ", saved " << *target << "\n";
    return kExitOk;
}

int setOutputFolderCommand(CliEnv& env, int argc, char** argv) {
    const Args args = parseArgs(argc, argv, kSetOutputFolderDoc);
    const std::string usage = kSetOutputFolderDoc.usage();
    if (args.has("--help")) {
        env.out << usage;
        return kExitOk;
    }
    if (!args.error.empty()) return usageError(env, args.error, usage);
    if (args.positional.size() != 1 || args.positional[0].empty())
        return usageError(env, "set-output-folder takes exactly one DIR", usage);

    std::string dir = absolute(args.positional[0]);
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    Text folder;
    const StoreResult stored = storeOutputFolder(env.files, folder, utf8ToGbk(dir));
    if (!stored.written) {
        env.err << "kerbilo-cli: " << env.say("cannot write") << " "
                << utf8(settingsFilePath(env.files)) << ": " << env.reason(stored.error) << "\n";
        return kExitFailed;
    }
    env.out << "output folder: " << utf8(folder) << "\n";
    return kExitOk;
}

}  // namespace kerbilo::cli
