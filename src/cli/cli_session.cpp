#include "cli/cli_session.h"

#include <cerrno>
#include <charconv>

#include "config/config_files.h"
#include "runtime/gbk.h"
#include "scan/open.h"

namespace kerbilo::cli {

KindsFileRedirect::KindsFileRedirect(FileServices& inner, std::optional<Text> kindsPath)
    : inner_(inner), kindsPath_(std::move(kindsPath)) {}

bool KindsFileRedirect::redirected(std::string_view path) const {
    return kindsPath_ && path == kindsFilePath(inner_);
}

std::string KindsFileRedirect::kindsFileName() const {
    return utf8(kindsPath_ ? *kindsPath_ : kindsFilePath(inner_));
}

std::optional<ByteBuffer> KindsFileRedirect::readKindsFile() {
    if (!kinds_) {
        kinds_ = inner_.tryReadWholeFile(kindsPath_ ? std::string_view(*kindsPath_)
                                                    : std::string_view(kindsFilePath(inner_)));
        if (!*kinds_) kindsFailure_ = inner_.lastFailure();
    }
    if (!*kinds_) ownFailure_ = kindsFailure_;
    return *kinds_;
}

std::optional<ByteBuffer> KindsFileRedirect::tryReadWholeFile(std::string_view path) {
    ownFailure_.reset();
    if (isKindsFile(path)) return readKindsFile();
    return inner_.tryReadWholeFile(path);
}

std::optional<ByteBuffer> KindsFileRedirect::tryMapWholeFile(std::string_view path) {
    ownFailure_.reset();
    if (isKindsFile(path)) return readKindsFile();
    return inner_.tryMapWholeFile(path);
}

std::optional<ByteBuffer> KindsFileRedirect::readWholeFileInSteps(std::string_view path,
                                                                  Progress& progress) {
    ownFailure_.reset();
    if (isKindsFile(path)) return readKindsFile();
    return inner_.readWholeFileInSteps(path, progress);
}

bool KindsFileRedirect::writeWholeFile(std::string_view path, std::span<const ByteBuffer> parts) {
    ownFailure_.reset();
    if (redirected(path)) {
        ownFailure_ = FileError{EROFS, 0, {}};
        return false;
    }
    // What is read next is what was written now.
    if (isKindsFile(path)) kinds_.reset();
    return inner_.writeWholeFile(path, parts);
}

std::unique_ptr<FileWriter> KindsFileRedirect::startFile(std::string_view path) {
    if (isKindsFile(path)) return FileServices::startFile(path);
    return inner_.startFile(path);
}

bool KindsFileRedirect::pathExists(std::string_view path) {
    return inner_.pathExists(redirected(path) ? std::string_view(*kindsPath_) : path);
}

RunKinds readRunKinds(CliEnv& env, const std::optional<std::string>& configUtf8) {
    RunKinds run;
    if (configUtf8) {
        std::optional<ByteBuffer> content = env.files.tryReadWholeFile(utf8ToGbk(*configUtf8));
        if (!content) {
            run.unreadable = env.files.lastFailure();
            return run;
        }
        run.kinds = std::make_shared<const KindsFile>(std::move(content));
        return run;
    }
    ensureKindsFile(env.files);
    run.kinds = std::make_shared<const KindsFile>(KindsFile::read(env.files));
    return run;
}

Session::Session(CliEnv& e, const std::optional<std::string>& configUtf8,
                 const OpenOptions& options, const RunKinds* run)
    : env(e),
      files(e.files, configUtf8 ? std::optional<Text>(utf8ToGbk(*configUtf8)) : std::nullopt),
      progressLine(e.progress),
      config_(configUtf8),
      options_(options),
      run_(run) {
    if (run_) options_.kinds = run_->kinds;
}

std::string utf8(const Text& gbk) {
    // Labels and numbers are plain ASCII; millions of them need no conversion.
    bool ascii = true;
    for (const char c : gbk) ascii = ascii && static_cast<unsigned char>(c) < 0x80 && c != '\r';
    if (ascii) return gbk;
    std::string s = gbkToUtf8(gbk);
    // Message texts break lines the Windows way; a terminal wants plain line feeds.
    for (std::size_t at; (at = s.find("\r\n")) != std::string::npos;) s.erase(at, 1);
    return s;
}

namespace {

const char* stopText(zip::Stop stop) {
    switch (stop) {
        case zip::Stop::Truncated:
            return "the data ends early";
        case zip::Stop::Damaged:
            return "the data is damaged";
        case zip::Stop::StreamLimit:
            return "the limit per stream was reached (512 MiB unless the kinds file sets another)";
        case zip::Stop::TotalLimit:
            return "the limit per file was reached (4 GiB unless the kinds file sets another)";
        case zip::Stop::RatioLimit:
            return "the compression ratio passes the limit";
        case zip::Stop::Encrypted:
            return "the entry is encrypted";
        case zip::Stop::Unsupported:
            return "the compression method is not supported";
        case zip::Stop::None:
            break;
    }
    return "";
}

}  // namespace

bool Session::ready(const std::string& fileUtf8) {
    std::optional<FileError> unreadable;
    if (run_) unreadable = run_->unreadable;
    // Read through the session's files, which keep what they read for the scan.
    else if (config_ && !files.tryReadWholeFile(kindsFilePath(files)))
        unreadable = files.lastFailure();
    else if (!config_)
        ensureKindsFile(files);
    if (config_ && unreadable) {
        env.err << "kerbilo-cli: " << env.say("cannot read the kinds file") << " " << *config_
                << ": " << env.reason(*unreadable) << "\n";
        return false;
    }
    Services s = services();
    const OpenResult opened = openFile(s, doc, utf8ToGbk(fileUtf8), options_, progressLine);
    progressLine.finish();
    if (!opened.opened) {
        env.err << "kerbilo-cli: " << env.say("cannot open") << " " << fileUtf8 << ": "
                << env.reason(opened.error) << "\n";
        return false;
    }
    for (const Text& name : opened.refusedKinds)
        env.err << "kerbilo-cli: " << env.say("the kind") << " " << utf8(name) << " "
                << env.say(
                       "is not searched for: its suffix holds \"/\", \"..\" or NUL and would "
                       "name a path outside the output folder")
                << "\n";
    if (opened.kindsScanned == 0) {
        // Say what was looked for, in which encoding: a kinds file saved by another tool is
        // the usual cause.
        env.err << "kerbilo-cli: " << env.say("no resource kinds could be read from") << " "
                << files.kindsFileName() << " ("
                << (opened.kindsEncoding == KindsEncoding::Utf8 ? "UTF-8" : "GBK") << ", "
                << env.say("looked for the keys") << " 资源种类数, 1, 1_head, 1_tail "
                << env.say("in the section") << " [Config])" << env.say("; nothing is searched for")
                << "\n";
        // With the structure scan on, something was searched for all the same.
        if (!options_.structureScan) return false;
    }
    for (const ContainerStop& stop : opened.containerStops) {
        env.err << "kerbilo-cli: " << fileUtf8 << ": " << utf8(stop.source) << ": ";
        if (stop.why == ContainerStop::Why::Depth)
            env.err << env.say(
                "archives nested deeper than four levels are not opened (the depth limit)");
        else if (stop.why == ContainerStop::Why::ArchiveDamaged)
            env.err << env.say("entries that overlap others or name no local header are left out");
        else
            env.err << env.say("inflating stopped:") << " " << env.say(stopText(stop.stop));
        env.err << "\n";
    }
    return true;
}

bool Args::has(const std::string& flag) const {
    for (const std::string& f : flags)
        if (f == flag) return true;
    return false;
}

std::optional<std::string> Args::value(const std::string& option) const {
    std::optional<std::string> v;
    for (const auto& [name, value] : options)
        if (name == option) v = value;
    return v;
}

Args parseArgs(int argc, char** argv, const CommandDoc& command) {
    Args a;
    for (int i = 0; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--") {
            for (++i; i < argc; ++i) a.positional.emplace_back(argv[i]);
            break;
        }
        if (arg.size() < 2 || arg[0] != '-') {
            a.positional.push_back(arg);
            continue;
        }
        std::optional<std::string> inlineValue;
        if (const std::size_t eq = arg.find('=');
            arg.starts_with("--") && eq != std::string::npos) {
            inlineValue = arg.substr(eq + 1);
            arg.resize(eq);
        }
        const Option* option = command.find(arg);
        if (option) arg = option->name;
        if (option && !option->value) {
            if (inlineValue) {
                a.error = "option " + arg + " takes no value";
                return a;
            }
            a.flags.push_back(arg);
        } else if (option) {
            if (!inlineValue && i + 1 >= argc) {
                a.error = "option " + arg + " needs a value";
                return a;
            }
            a.options.emplace_back(arg, inlineValue ? *inlineValue : argv[++i]);
        } else {
            a.error = "unknown option " + arg;
            return a;
        }
    }
    return a;
}

int usageError(CliEnv& env, const std::string& problem, std::string_view usage) {
    env.err << "kerbilo-cli: " << problem << "\n\n" << usage;
    return kExitUsage;
}

namespace {

// --help answered, or the parser's own complaint: the command is done either way.
std::optional<int> helpOrParseError(CliEnv& env, const Args& args, std::string_view usage) {
    if (args.has("--help")) {
        env.out << usage;
        return kExitOk;
    }
    if (!args.error.empty()) return usageError(env, args.error, usage);
    return std::nullopt;
}

}  // namespace

std::optional<int> checkFileCommand(CliEnv& env, const Args& args, const char* name,
                                    std::string_view usage) {
    if (const std::optional<int> done = helpOrParseError(env, args, usage)) return done;
    if (args.positional.size() != 1)
        return usageError(env, std::string(name) + " takes exactly one FILE", usage);
    return std::nullopt;
}

std::optional<std::string> readScanOptions(const Args& args, OpenOptions& options) {
    options.structureScan = args.has("--deep");
    const std::optional<std::string> ends = args.value("--ends");
    if (!ends || *ends == "tail") return std::nullopt;
    if (*ends != "format") return "--ends takes tail or format";
    options.endsByFormat = true;
    return std::nullopt;
}

bool settleStructureScan(CliEnv& env, const std::optional<std::string>& configUtf8,
                         OpenOptions& options) {
    if (!options.structureScan) {
        KindsFileRedirect files(
            env.files, configUtf8 ? std::optional<Text>(utf8ToGbk(*configUtf8)) : std::nullopt);
        options.structureScan = KindsFile::read(files).structureScan();
    }
    return options.structureScan;
}

std::optional<int> checkFilesCommand(CliEnv& env, const Args& args, const char* name,
                                     std::string_view usage) {
    if (const std::optional<int> done = helpOrParseError(env, args, usage)) return done;
    if (args.positional.empty())
        return usageError(env, std::string(name) + " takes one or more FILEs", usage);
    return std::nullopt;
}

bool severalFiles(const Args& args) {
    return args.positional.size() > 1 || args.has("-r");
}

std::optional<int> parseResourceNumber(const std::string& text) {
    int n = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
    if (ec != std::errc() || end != text.data() + text.size() || n < 1) return std::nullopt;
    return n;
}

}  // namespace kerbilo::cli
