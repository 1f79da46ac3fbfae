#include "cli/cli_session.h"

#include <charconv>
#include <string_view>

#include "picture/picture_pane.h"
#include "runtime/gbk.h"

namespace kerbilo::cli {

namespace {

constexpr int kDefaultWidth = 464;
constexpr int kDefaultHeight = 312;

}  // namespace

namespace {

bool parseNumber(std::string_view text, long& out) {
    if (text.empty()) return false;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
    return ec == std::errc{} && end == text.data() + text.size();
}

bool parseSize(std::string_view text, int& w, int& h) {
    const auto x = text.find_first_of("xX");
    long a = 0, b = 0;
    if (x == std::string_view::npos || !parseNumber(text.substr(0, x), a) ||
        !parseNumber(text.substr(x + 1), b))
        return false;
    const DecodeLimits limits;
    if (!limits.allows(a, b)) return false;
    w = static_cast<int>(a);
    h = static_cast<int>(b);
    return true;
}

bool parseColour(std::string_view text, Pixel& out) {
    if (!text.empty() && text.front() == '#') text.remove_prefix(1);
    if (text.size() != 6) return false;
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + 6, value, 16);
    if (ec != std::errc{} || end != text.data() + 6) return false;
    out = 0xFF000000u | value;
    return true;
}

struct RenderOptions {
    std::string input;
    std::string output;
    std::optional<std::string> config;
    long resource = 0;
    long frame = 1;
    int width = kDefaultWidth;
    int height = kDefaultHeight;
    PaneSettings settings;
    OpenOptions scan;
};

// The options as given, or the usage problem.
std::optional<std::string> readOptions(const Args& args, RenderOptions& o) {
    if (!args.error.empty()) return args.error;
    if (args.positional.size() > 1) return "more than one input: " + args.positional[1];
    for (const auto& [name, value] : args.options) {
        if (name == "-o") {
            if (value.empty()) return "missing file after -o";
            o.output = value;
        } else if (name == "--resource") {
            if (!parseNumber(value, o.resource) || o.resource < 1)
                return "--resource needs a number of 1 or more";
        } else if (name == "--config") {
            if (value.empty()) return "missing path after --config";
            o.config = value;
        } else if (name == "--size") {
            if (!parseSize(value, o.width, o.height))
                return "--size needs WxH with each side 1 to 32768, at most 64 Mi pixels";
        } else if (name == "--background") {
            if (!parseColour(value, o.settings.background))
                return "--background needs six hexadecimal digits RRGGBB";
        } else if (name == "--frame") {
            if (!parseNumber(value, o.frame) || o.frame < 1)
                return "--frame needs a number of 1 or more";
        }
    }
    if (args.has("--stretch")) o.settings.mode = DisplayMode::Stretched;
    if (std::optional<std::string> problem = readScanOptions(args, o.scan)) return problem;
    if (args.positional.empty()) return "no input file";
    if (o.output.empty()) return "no output file (-o OUT.png)";
    o.input = args.positional[0];
    return std::nullopt;
}

}  // namespace

int renderCommand(CliEnv& env, int argc, char** argv) {
    const Args args = parseArgs(argc, argv, kRenderDoc);
    const std::string usage = kRenderDoc.usage();
    if (args.has("--help") && args.error.empty()) {
        env.out << usage;
        return kExitOk;
    }
    RenderOptions o;
    if (const std::optional<std::string> problem = readOptions(args, o))
        return usageError(env, *problem, usage);

    ByteBuffer data;
    if (o.resource > 0) {
        o.scan.mapFile = true;
        Session session(env, o.config, o.scan);
        if (!session.ready(o.input)) return kExitFailed;
        if (!session.doc.catalogue.contains(o.resource)) {
            env.err << "kerbilo-cli: " << o.input << " has no resource " << o.resource << "\n";
            return kExitUsage;
        }
        data = session.doc.catalogue.data(static_cast<int>(o.resource));
    } else if (std::optional<ByteBuffer> read = env.files.tryReadWholeFile(utf8ToGbk(o.input))) {
        data = std::move(*read);
    } else {
        env.err << "kerbilo-cli: " << env.say("cannot read") << " " << o.input << ": "
                << env.reason(env.files.lastFailure()) << "\n";
        return kExitFailed;
    }

    PictureState state = PictureState::Empty;
    DecodeFailure failure = DecodeFailure::None;
    const Image pane = renderPane(data, o.settings, o.width, o.height,
                                  static_cast<std::size_t>(o.frame), &state, &failure);
    if (pane.empty()) {
        env.err << "kerbilo-cli: out of memory for a " << o.width << "x" << o.height << " pane\n";
        return kExitFailed;
    }
    if (state == PictureState::Empty || state == PictureState::NotRecognised) {
        env.err << "kerbilo-cli: " << o.input
                << ": not recognised as a picture; writing the background only\n";
    } else if (state == PictureState::Undecodable) {
        env.err << "kerbilo-cli: " << o.input << ": recognised as "
                << pictureFormatName(recognisePicture(bytesOf(data)))
                << " but could not be decoded (" << decodeFailureText(failure)
                << "); writing the background only\n";
    }
    const ByteBuffer png = encodePng(pane);
    if (png.empty()) {
        env.err << "kerbilo-cli: cannot write " << o.output << ": PNG encoding failed\n";
        return kExitFailed;
    }
    if (!env.files.writeWholeFile(utf8ToGbk(o.output), png)) {
        env.err << "kerbilo-cli: " << env.say("cannot write") << " " << o.output << ": "
                << env.reason(env.files.lastFailure()) << "\n";
        return kExitFailed;
    }
    return kExitOk;
}

}  // namespace kerbilo::cli
