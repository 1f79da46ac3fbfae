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

const char* const kExportUsage =
    "usage: kerbilo-cli export FILE... [-r] [-L] [-j N] [--out DIR] [--config PATH]\n"
    "                          [--jsonl] [--ends format]\n"
    "       kerbilo-cli export FILE --resource N -o PATH [--config PATH] [--ends format]\n"
    "\n"
    "Without --resource: exports every resource of FILE, as the window's export-all does,\n"
    "to DIR/NAME/LABEL.SUFFIX (NAME the file's name, LABEL the tree label, SUFFIX the\n"
    "kind's suffix from the kinds file), and DIR/NAME/manifest.tsv recording every file\n"
    "written: number, kind, label, offset, length, sha256, path, format, width, height,\n"
    "frames, verdict (as inspect tells them). Prints how many files were written and\n"
    "every failure with its reason, first the folder DIR/NAME when it could not be made.\n"
    "Where DIR/NAME is a file (FILE itself, exported into its own folder), the folder is\n"
    "DIR/NAME_资源 (or NAME_资源2, ...).\n"
    "Several FILEs and folders (-r) are exported one after the other, a file found in a\n"
    "folder into DIR/FOLDER/.../NAME.\n"
    "With --resource: writes the data of resource N (numbered as `list` prints them) to\n"
    "PATH.\n"
    "\n"
    "  --out DIR       output folder, made with its parents when missing (default: the\n"
    "                  one set with set-output-folder, else the current folder)\n"
    "  -r, -L, -j N    as for list: read folders, follow links, N files at once\n"
    "  --jsonl         also write manifest.jsonl, the manifest as JSON Lines\n"
    "  --resource N    export only resource N of one FILE; needs -o\n"
    "  -o PATH         target file of the single export\n"
    "  --config PATH   read the resource kinds from PATH (nothing is written)\n"
    "  --ends format   end each resource where its picture format ends (see list --help)\n"
    "  --help          show this text\n"
    "\n"
    "Exit codes: 0 everything written, 1 a file could not be read or written, 2 usage error;\n"
    "with several files the worst of theirs.\n";

const char* const kReplaceUsage =
    "usage: kerbilo-cli replace FILE --resource N --with NEWFILE [--resource N --with NEWFILE]...\n"
    "                           -o OUT [--yes] [--config PATH] [--ends format]\n"
    "\n"
    "Replaces resource N (numbered as `list` prints them) by the bytes of NEWFILE in the\n"
    "in-memory copy of FILE, pair by pair in the order given, then saves the whole copy to\n"
    "OUT. New data not longer than the resource's stretch is written there followed by zero\n"
    "bytes, so the file keeps its length; longer data grows the file, which needs --yes.\n"
    "Either way the resource's whole stretch is rewritten: a resource that encloses it grows\n"
    "with it, and one inside it or across its edge is no longer in the file and cannot be\n"
    "replaced by a later pair.\n"
    "\n"
    "  --resource N    the resource to replace; each is followed by its --with\n"
    "  --with NEWFILE  the file whose bytes replace it\n"
    "  -o OUT          where the modified copy is written (may be FILE itself)\n"
    "  --yes           allow replacements that grow the file\n"
    "  --config PATH   read the resource kinds from PATH (nothing is written)\n"
    "  --ends format   end each resource where its picture format ends (see list --help)\n"
    "  --help          show this text\n"
    "\n"
    "Exit codes: 0 saved, 1 a file could not be read or written, a growth was not allowed\n"
    "or a resource was no longer in the file (nothing is written then), 2 usage error.\n";

const char* const kSetOutputFolderUsage =
    "usage: kerbilo-cli set-output-folder DIR\n"
    "\n"
    "Stores DIR as the output folder of export-all in Resource.ini beside the program,\n"
    "where the window and `kerbilo-cli export` read it. A name with blanks at either end\n"
    "is stored in quotes and read back as it is; a name with a carriage return or line\n"
    "feed cannot be stored, and Resource.ini is left as it was.\n"
    "\n"
    "  --help  show this text\n"
    "\n"
    "Exit codes: 0 stored, 1 Resource.ini could not be written or cannot hold DIR,\n"
    "2 usage error.\n";

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
int exportAll(Session& session, const std::string& subfolder, bool jsonLines) {
    CliEnv& env = session.env;
    ExportAllOptions options;
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
    const Args args = parseArgs(argc, argv,
                                {{"--out", "--config", "--resource", "-o", "--ends", "-j"},
                                 {"--help", "--jsonl", "-r", "-L"}});
    if (const std::optional<int> done = checkFilesCommand(env, args, "export", kExportUsage))
        return *done;
    OpenOptions options;
    options.mapFile = true;  // only read: a file larger than memory still exports
    BatchOptions batch;
    for (const std::optional<std::string>& problem :
         {readEnds(args, options), readBatchOptions(args, batch)})
        if (problem) return usageError(env, *problem, kExportUsage);
    const std::optional<std::string> resource = args.value("--resource");
    const std::optional<std::string> target = args.value("-o");
    const std::optional<std::string> config = args.value("--config");
    std::optional<int> n;
    if (resource) {
        n = parseResourceNumber(*resource);
        if (!n) return usageError(env, "--resource needs a number from 1 on", kExportUsage);
        if (!target) return usageError(env, "--resource needs -o PATH", kExportUsage);
        if (args.value("--out"))
            return usageError(env, "--out goes without --resource", kExportUsage);
        if (severalFiles(args))
            return usageError(env, "--resource goes with one FILE", kExportUsage);
    } else if (target) {
        return usageError(env, "-o goes with --resource", kExportUsage);
    }
    std::optional<std::string> out = args.value("--out");
    // An empty folder would put the export at the root of the file system.
    if (out && out->empty()) return usageError(env, "--out needs a folder", kExportUsage);
    const bool jsonLines = args.has("--jsonl");

    if (n) {
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
        Session session(env, config, options);
        if (!session.ready(inputs.front().path)) return kExitFailed;
        session.outputFolder = utf8ToGbk(*out);
        return exportAll(session, {}, jsonLines);
    }
    return worse(worst, runBatch(
                            env, inputs, batch.jobs,
                            [&](const Input& input, CliEnv& fileEnv) {
                                return withOpenedFile(
                                    input, fileEnv, config, options,
                                    [&](Session& session, FileResult&) {
                                        session.outputFolder = utf8ToGbk(*out);
                                        return exportAll(session, input.exportFolder, jsonLines);
                                    });
                            },
                            [&](const FileResult& r) { env.out << r.out; }));
}

int replaceCommand(CliEnv& env, int argc, char** argv) {
    const Args args = parseArgs(
        argc, argv, {{"--resource", "--with", "-o", "--config", "--ends"}, {"--yes", "--help"}});
    if (const std::optional<int> done = checkFileCommand(env, args, "replace", kReplaceUsage))
        return *done;
    OpenOptions options;
    if (const std::optional<std::string> problem = readEnds(args, options))
        return usageError(env, *problem, kReplaceUsage);
    const std::optional<std::string> target = args.value("-o");
    if (!target) return usageError(env, "replace needs -o OUT", kReplaceUsage);

    std::vector<std::pair<int, std::string>> pairs;
    std::optional<int> pending;
    for (const auto& [name, value] : args.options) {
        if (name == "--resource") {
            if (pending) return usageError(env, "--resource without --with", kReplaceUsage);
            pending = parseResourceNumber(value);
            if (!pending)
                return usageError(env, "--resource needs a number from 1 on", kReplaceUsage);
        } else if (name == "--with") {
            if (!pending) return usageError(env, "--with without --resource", kReplaceUsage);
            pairs.emplace_back(*pending, value);
            pending.reset();
        }
    }
    if (pending) return usageError(env, "--resource without --with", kReplaceUsage);
    if (pairs.empty())
        return usageError(env, "replace needs --resource N --with NEWFILE", kReplaceUsage);

    Session session(env, args.value("--config"), options);
    if (!session.ready(args.positional[0])) return kExitFailed;
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
    }
    const WriteResult saved = saveCopy(session.files, session.doc.file, utf8ToGbk(*target));
    if (!saved.written) {
        env.err << "kerbilo-cli: " << env.say("cannot save") << " " << *target << ": "
                << env.reason(saved.error) << "\n";
        return kExitFailed;
    }
    env.out << "replaced " << pairs.size() << (pairs.size() == 1 ? " resource" : " resources")
            << ", saved " << *target << "\n";
    return kExitOk;
}

int setOutputFolderCommand(CliEnv& env, int argc, char** argv) {
    const Args args = parseArgs(argc, argv, {{}, {"--help"}});
    if (args.has("--help")) {
        env.out << kSetOutputFolderUsage;
        return kExitOk;
    }
    if (!args.error.empty()) return usageError(env, args.error, kSetOutputFolderUsage);
    if (args.positional.size() != 1 || args.positional[0].empty())
        return usageError(env, "set-output-folder takes exactly one DIR", kSetOutputFolderUsage);

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
