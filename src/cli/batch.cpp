#include "cli/batch.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdio>
#include <mutex>
#include <set>
#include <sstream>
#include <system_error>
#include <thread>

#include "runtime/file_services.h"
#include "scan/inspection.h"

namespace kerbilo::cli {

std::optional<std::string> readBatchOptions(const Args& args, BatchOptions& options) {
    options.recursive = args.has("-r");
    options.followLinks = args.has("-L");
    options.jobs = std::max(1u, std::thread::hardware_concurrency());
    if (const std::optional<std::string> j = args.value("-j")) {
        unsigned n = 0;
        const auto [end, ec] = std::from_chars(j->data(), j->data() + j->size(), n);
        if (ec != std::errc() || end != j->data() + j->size() || n < 1 || n > 1024)
            return "-j needs a number of files from 1 to 1024";
        options.jobs = n;
    }
    return std::nullopt;
}

std::optional<std::string> readListingFormat(const Args& args,
                                             std::optional<Listing::Format>& format) {
    if (args.has("--json") && args.has("--jsonl")) return "--json and --jsonl go separately";
    format = args.has("--json")    ? Listing::Format::Json
             : args.has("--jsonl") ? Listing::Format::Jsonl
                                   : Listing::Format::Tsv;
    return std::nullopt;
}

namespace {

std::string lastComponent(const std::string& path) {
    std::string p = path;
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    const std::size_t slash = p.rfind('/');
    const std::string name = slash == std::string::npos ? p : p.substr(slash + 1);
    return name == "." || name == ".." || name == "/" ? std::string() : name;
}

class Walker {
  public:
    Walker(CliEnv& env, const BatchOptions& options, std::vector<Input>& out, int& worst)
        : env_(env), options_(options), out_(out), worst_(worst) {}

    void walk(const std::string& dir, const std::string& exportFolder) {
        struct stat st {};
        if (::stat(dir.c_str(), &st) == 0 && !visited_.insert({st.st_dev, st.st_ino}).second)
            return;  // a link brought us back to a folder already walked
        DIR* d = ::opendir(dir.c_str());
        if (!d) {
            env_.err << "kerbilo-cli: " << env_.say("cannot read the folder") << " " << dir << ": "
                     << env_.reason(FileError{errno, 0, {}}) << "\n";
            worst_ = worse(worst_, kExitFailed);
            return;
        }
        // Each name with the type the folder gives it: most file systems say whether an
        // entry is a file or a folder, which spares a status call per file (on a folder of
        // thousands of small files, about a tenth of reading them).
        std::vector<std::pair<std::string, unsigned char>> names;
        while (const dirent* e = ::readdir(d)) {
            std::string name = e->d_name;
            if (name != "." && name != "..") names.emplace_back(std::move(name), e->d_type);
        }
        ::closedir(d);
        std::sort(names.begin(), names.end());
        const std::string prefix = dir.empty() || dir.back() == '/' ? dir : dir + "/";
        for (const auto& [name, type] : names) {
            const std::string path = prefix + name;
            const std::string folder = exportFolder.empty() ? name : exportFolder + "/" + name;
            struct stat entry {};
            if (type == DT_REG) {
                entry.st_mode = S_IFREG;
            } else if (type == DT_DIR) {
                entry.st_mode = S_IFDIR;
            } else {
                if (::lstat(path.c_str(), &entry) != 0) continue;
                if (S_ISLNK(entry.st_mode)) {
                    if (!options_.followLinks || ::stat(path.c_str(), &entry) != 0) continue;
                }
            }
            if (S_ISDIR(entry.st_mode))
                walk(path, folder);
            else if (S_ISREG(entry.st_mode))
                out_.push_back({path, folder});
            // Pipes, sockets and devices met while walking are not files to scan.
        }
    }

  private:
    CliEnv& env_;
    const BatchOptions& options_;
    std::vector<Input>& out_;
    int& worst_;
    std::set<std::pair<dev_t, ino_t>> visited_;
};

}  // namespace

std::vector<Input> expandInputs(CliEnv& env, const std::vector<std::string>& arguments,
                                const BatchOptions& options, int& worst) {
    std::vector<Input> inputs;
    Walker walker(env, options, inputs, worst);
    for (const std::string& arg : arguments) {
        struct stat st {};
        if (::stat(arg.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
            if (!options.recursive) {
                env.err << "kerbilo-cli: " << arg << " "
                        << env.say("is a folder; give -r to read the files in it") << "\n";
                worst = worse(worst, kExitFailed);
                continue;
            }
            walker.walk(arg, lastComponent(arg));
            continue;
        }
        // Anything else is opened as a file, which says why when it cannot be.
        inputs.push_back({arg, {}});
    }
    return inputs;
}

FileResult withOpenedFile(const Input& input, CliEnv& fileEnv,
                          const std::optional<std::string>& config, const OpenOptions& options,
                          const RunKinds& run,
                          const std::function<int(Session&, FileResult&)>& use) {
    FileResult r;
    Session session(fileEnv, config, options, &run);
    if (!session.ready(input.path)) {
        r.exitCode = kExitFailed;
        return r;
    }
    r.bytes = session.doc.file.bytes.size();
    r.exitCode = use(session, r);
    return r;
}

unsigned scanThreads(const BatchOptions& options, bool severalFiles) {
    return severalFiles ? 1 : options.jobs;
}

int runBatch(CliEnv& env, const std::vector<Input>& inputs, unsigned jobs,
             const std::function<FileResult(const Input&, CliEnv& fileEnv)>& work,
             const std::function<void(const FileResult&)>& print) {
    std::vector<std::optional<FileResult>> results(inputs.size());
    std::atomic<std::size_t> next{0};
    // Results are printed by whichever worker finishes the one due next, with those after it
    // that are ready: a printer thread woken for every file cost more than listing a small
    // file, and thousands of them were listed slower than cat reads them.
    std::mutex printing;
    std::size_t due = 0;
    int worst = kExitOk;
    std::uint64_t bytes = 0;
    const auto printDue = [&] {
        while (due < inputs.size() && results[due]) {
            const FileResult r = std::move(*results[due]);
            results[due].reset();
            ++due;
            if (env.progress) std::fputs("\r\033[K", env.progress);
            print(r);
            // Writing to stderr sends what stdout holds first, as a file's messages follow
            // its rows; a file without messages leaves its rows to be written with the next
            // ones, rather than one write each. Under a progress line they go at once.
            if (!r.err.empty()) {
                env.err << r.err;
                env.err.flush();
            } else if (env.progress) {
                env.out.flush();
            }
            worst = worse(worst, r.exitCode);
            bytes += r.bytes;
            if (env.progress) {
                std::fprintf(env.progress, "%zu of %zu files, %.1f MiB", due, inputs.size(),
                             static_cast<double>(bytes) / (1 << 20));
                std::fflush(env.progress);
            }
        }
    };

    const auto worker = [&](FileServices& files) {
        for (std::size_t i; (i = next.fetch_add(1)) < inputs.size();) {
            std::ostringstream out, err;
            CliEnv fileEnv{files, out, err, nullptr, env.language};
            FileResult r = work(inputs[i], fileEnv);
            r.out += out.str();
            r.err += err.str();
            std::lock_guard lock(printing);
            results[i] = std::move(r);
            printDue();
        }
    };

    std::vector<std::unique_ptr<FileServices>> services;
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < jobs && t < inputs.size(); ++t) {
        std::unique_ptr<FileServices> own = env.files.forAnotherThread();
        if (!own) break;
        try {
            threads.emplace_back(worker, std::ref(*own));
        } catch (const std::system_error&) {
            break;
        }
        services.push_back(std::move(own));
    }
    // Nobody else to do the work: do it here, in order.
    if (threads.empty()) worker(env.files);
    for (std::thread& t : threads) t.join();
    if (env.progress) std::fputs("\r\033[K", env.progress);
    return worst;
}

std::optional<std::string> readVerdictOption(const Args& args,
                                             std::optional<VerdictSet>& verdicts) {
    const std::optional<std::string> list = args.value("--verdict");
    if (!list) return std::nullopt;
    verdicts = VerdictSet::parse(*list);
    if (!verdicts)
        return "--verdict takes a comma-separated list of complete, cut-short, trailing-bytes, "
               "damaged, unchecked, not-a-picture";
    return std::nullopt;
}

int runListingCommand(CliEnv& env, int argc, char** argv, const CommandDoc& command,
                      std::vector<RowColumn> columns, const RowSource& allRows,
                      const std::vector<RowColumn>& structureColumns,
                      const std::vector<RowColumn>& lastColumns) {
    const Args args = parseArgs(argc, argv, command);
    const std::string usage = command.usage();
    if (const std::optional<int> done = checkFilesCommand(env, args, command.name, usage))
        return *done;
    OpenOptions options;
    options.mapFile = true;  // only read: a file larger than memory still lists
    BatchOptions batch;
    std::optional<Listing::Format> format;
    for (const std::optional<std::string>& problem :
         {readScanOptions(args, options), readBatchOptions(args, batch),
          readListingFormat(args, format)})
        if (problem) return usageError(env, *problem, usage);
    std::optional<VerdictSet> verdicts;
    if (const std::optional<std::string> problem = readVerdictOption(args, verdicts))
        return usageError(env, *problem, usage);
    const std::optional<std::string> config = args.value("--config");
    if (settleStructureScan(env, config, options))
        columns.insert(columns.end(), structureColumns.begin(), structureColumns.end());
    columns.insert(columns.end(), lastColumns.begin(), lastColumns.end());
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const RowSource& rows =
        !verdicts ? allRows
                  : RowSource([&](Session& session, unsigned threads,
                                  const std::function<void(const ResourceRow&)>& row) {
                        allRows(session, threads, [&](const ResourceRow& r) {
                            const Verdict verdict =
                                r.judged ? r.judged->what.verdict
                                         : inspectCatalogued(session.doc, r.number, false).verdict;
                            if (verdicts->has(verdict)) row(r);
                        });
                    });

    int worst = kExitOk;
    const std::vector<Input> inputs = expandInputs(env, args.positional, batch, worst);
    if (!severalFiles(args)) {
        // One file is listed as it is read, row by row; a folder was said already.
        if (inputs.empty()) return worst;
        options.threads = scanThreads(batch, false);
        Session session(env, config, options);
        if (!session.ready(inputs.front().path)) return kExitFailed;
        Listing listing(env.out, *format, columnNames(columns));
        std::vector<Cell> cells;
        rows(session, cores, [&](const ResourceRow& row) {
            cells.clear();
            row.appendCells(columns, cells);
            listing.row(cells);
        });
        return listing.finish() ? kExitOk : kExitFailed;
    }

    std::vector<std::string> withFile = {"file"};
    for (std::string& c : columnNames(columns)) withFile.push_back(std::move(c));
    Listing listing(env.out, *format, withFile);
    // Files in parallel share the cores; one file at a time has them all.
    const unsigned perFile = batch.jobs > 1 ? 1 : cores;
    options.threads = scanThreads(batch, true);
    const RunKinds run = inputs.empty() ? RunKinds{} : readRunKinds(env, config);
    const auto work = [&](const Input& input, CliEnv& fileEnv) {
        const auto list = [&](Session& session, FileResult& r) {
            std::vector<Cell> cells;
            rows(session, perFile, [&](const ResourceRow& row) {
                cells.assign(1, Cell::text(input.path));
                row.appendCells(columns, cells);
                listing.format(cells, r.out);
            });
            return kExitOk;
        };
        return withOpenedFile(input, fileEnv, config, options, run, list);
    };
    worst = worse(worst, runBatch(env, inputs, batch.jobs, work,
                                  [&](const FileResult& r) { listing.print(r.out); }));
    return listing.finish() ? worst : worse(worst, kExitFailed);
}

}  // namespace kerbilo::cli
