#include "cli/render_command.h"

#include <charconv>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "cli/resource_lookup.h"
#include "picture/picture_pane.h"
#include "runtime/file_services.h"
#include "runtime/gbk.h"

namespace kerbilo::cli {

namespace {

constexpr int kDefaultWidth = 464;
constexpr int kDefaultHeight = 312;

void printUsage(std::FILE* to) {
    std::fprintf(to,
                 "usage: kerbilo-cli render INPUT -o OUT.png [options]\n"
                 "\n"
                 "Draws the picture pane for INPUT's bytes and writes it as a PNG file.\n"
                 "\n"
                 "  -o, --output OUT.png   file to write (required)\n"
                 "  --resource N           show resource N (1-based) found in INPUT instead\n"
                 "  --config PATH          resource kinds to scan with (for --resource)\n"
                 "  --size WxH             pane size in pixels (default %dx%d)\n"
                 "  --stretch              stretch the picture over the pane (default: centred,\n"
                 "                         never enlarged)\n"
                 "  --background RRGGBB    pane background (default F0F0F0, the window's)\n"
                 "  --frame K              for animated GIFs, the canvas after K frames\n"
                 "                         (default 1, the first image)\n"
                 "  -h, --help             show this help\n"
                 "\n"
                 "Data that is not a picture still writes the background-only pane.\n",
                 kDefaultWidth, kDefaultHeight);
}

int usageError(const char* what, const std::string& detail = {}) {
    std::fprintf(stderr, "render: %s%s\n\n", what, detail.c_str());
    printUsage(stderr);
    return 2;
}

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

// The program's own file services: the same reading rules as opening a file in the
// window, and an output PNG that replaces an existing one only once fully written.
bool readFile(const std::string& path, ByteBuffer& out, std::string& why) {
    PosixFileServices files;
    std::optional<ByteBuffer> data = files.tryReadWholeFile(utf8ToGbk(path));
    if (!data) {
        why = gbkToUtf8(files.lastError());
        return false;
    }
    out = std::move(*data);
    return true;
}

bool writeFile(const std::string& path, const ByteBuffer& data, std::string& why) {
    PosixFileServices files;
    if (files.writeWholeFile(utf8ToGbk(path), data)) return true;
    why = gbkToUtf8(files.lastError());
    return false;
}

}  // namespace

RenderSource loadResourceForRender(const std::string& file, long number,
                                   const std::string& configPath) {
    std::string why;
    const std::optional<std::string> config =
        configPath.empty() ? std::nullopt : std::optional<std::string>(configPath);
    std::optional<ByteBuffer> data = loadResourceData(file, static_cast<int>(number), config, why);
    if (data) return {std::move(data), 0, {}};
    // A file that opened but has no such resource is a wrong argument, not an I/O failure.
    const bool opened = why.find(" has no resource ") != std::string::npos;
    return {std::nullopt, opened ? 2 : 1, why};
}

int runRender(int argc, char** argv) {
    std::string input, output, configPath;
    bool haveInput = false;
    long resource = 0;
    long frame = 1;
    PaneSettings settings;
    int width = kDefaultWidth, height = kDefaultHeight;

    for (int i = 0; i < argc; ++i) {
        std::string_view arg = argv[i];
        std::string_view value;
        bool hasInlineValue = false;
        if (arg.starts_with("--")) {
            if (const auto eq = arg.find('='); eq != std::string_view::npos) {
                value = arg.substr(eq + 1);
                arg = arg.substr(0, eq);
                hasInlineValue = true;
            }
        }
        const auto takeValue = [&](std::string_view& v) {
            if (hasInlineValue) {
                v = value;
                return true;
            }
            if (i + 1 >= argc) return false;
            v = argv[++i];
            return true;
        };
        std::string_view v;
        if (arg == "-h" || arg == "--help") {
            printUsage(stdout);
            return 0;
        } else if (arg == "-o" || arg == "--output") {
            if (!takeValue(v) || v.empty())
                return usageError("missing file after ", std::string(arg));
            output = v;
        } else if (arg == "--resource") {
            if (!takeValue(v) || !parseNumber(v, resource) || resource < 1)
                return usageError("--resource needs a number of 1 or more");
        } else if (arg == "--config") {
            if (!takeValue(v) || v.empty()) return usageError("missing path after --config");
            configPath = v;
        } else if (arg == "--size") {
            if (!takeValue(v) || !parseSize(v, width, height))
                return usageError(
                    "--size needs WxH with each side 1 to 32768, at most 64 Mi pixels");
        } else if (arg == "--stretch") {
            if (hasInlineValue) return usageError("--stretch takes no value");
            settings.mode = DisplayMode::Stretched;
        } else if (arg == "--background") {
            if (!takeValue(v) || !parseColour(v, settings.background))
                return usageError("--background needs six hexadecimal digits RRGGBB");
        } else if (arg == "--frame") {
            if (!takeValue(v) || !parseNumber(v, frame) || frame < 1)
                return usageError("--frame needs a number of 1 or more");
        } else if (arg.size() > 1 && arg.front() == '-') {
            return usageError("unknown option ", std::string(arg));
        } else if (haveInput) {
            return usageError("more than one input: ", std::string(arg));
        } else {
            input = arg;
            haveInput = true;
        }
    }
    if (!haveInput) return usageError("no input file");
    if (output.empty()) return usageError("no output file (-o OUT.png)");

    ByteBuffer data;
    std::string why;
    if (resource > 0) {
        RenderSource source = loadResourceForRender(input, resource, configPath);
        if (!source.bytes) {
            std::fprintf(stderr, "render: %s\n", source.message.c_str());
            return source.exitCode != 0 ? source.exitCode : 1;
        }
        data = std::move(*source.bytes);
    } else if (!readFile(input, data, why)) {
        std::fprintf(stderr, "render: cannot read %s: %s\n", input.c_str(), why.c_str());
        return 1;
    }

    PictureState state = PictureState::Empty;
    const Image pane =
        renderPane(data, settings, width, height, static_cast<std::size_t>(frame), &state);
    if (pane.empty()) {
        std::fprintf(stderr, "render: out of memory for a %dx%d pane\n", width, height);
        return 1;
    }
    if (state == PictureState::Empty || state == PictureState::NotRecognised) {
        std::fprintf(stderr,
                     "render: %s: not recognised as a picture; writing the background only\n",
                     input.c_str());
    } else if (state == PictureState::Undecodable) {
        std::fprintf(stderr,
                     "render: %s: recognised as %s but could not be decoded; writing the "
                     "background only\n",
                     input.c_str(), pictureFormatName(recognisePicture(bytesOf(data))));
    }
    const ByteBuffer png = encodePng(pane);
    if (png.empty() || !writeFile(output, png, why)) {
        std::fprintf(stderr, "render: cannot write %s: %s\n", output.c_str(),
                     png.empty() ? "PNG encoding failed" : why.c_str());
        return 1;
    }
    return 0;
}

}  // namespace kerbilo::cli
