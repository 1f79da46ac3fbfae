#include "cli/options.h"

#include <algorithm>

namespace kerbilo::cli {

bool Option::spelledAs(std::string_view arg) const {
    if (arg == name) return true;
    for (const char* alias : aliases)
        if (arg == alias) return true;
    return false;
}

std::string Option::label() const {
    std::vector<std::string_view> spellings{name};
    spellings.insert(spellings.end(), aliases.begin(), aliases.end());
    std::stable_partition(spellings.begin(), spellings.end(),
                          [](std::string_view s) { return !s.starts_with("--"); });
    std::string text;
    for (const std::string_view s : spellings) {
        if (!text.empty()) text += ", ";
        text += s;
    }
    if (value) text = text + " " + value;
    return text;
}

const Option* CommandDoc::find(std::string_view arg) const {
    for (const OptionDoc& entry : entries)
        for (const Option& option : entry.options)
            if (option.spelledAs(arg)) return &option;
    return nullptr;
}

std::string CommandDoc::usage() const {
    std::string text = std::string(synopsis) + "\n" + description + "\n";
    for (const OptionDoc& entry : entries) {
        std::string label;
        for (const Option& option : entry.options) {
            if (!label.empty()) label += ", ";
            label += option.label();
        }
        // A label too wide for the column still keeps two blanks before its text.
        label.resize(std::max(column, label.size() + 2), ' ');
        for (const char* line : entry.helpLines) {
            text += "  " + label + line + "\n";
            label.assign(column, ' ');
        }
    }
    return text + "\n" + footer;
}

namespace {

// The options several commands take, spelled alike everywhere.
const Option kConfig{"--config", {}, "PATH"};
const Option kEnds{"--ends", {}, "format"};
const Option kDeep{"--deep"};
const Option kRecursive{"-r"};
const Option kFollowLinks{"-L"};
const Option kJobs{"-j", {}, "N"};
const Option kJson{"--json"};
const Option kJsonLines{"--jsonl"};
const Option kResource{"--resource", {}, "N"};
const Option kHelp{"--help"};
const Option kVerdict{"--verdict", {}, "LIST"};

// Their help where the commands word it alike; list explains these options in full, and
// the others point to it.
const OptionDoc kConfigEntry{{kConfig}, {"read the resource kinds from PATH (nothing is written)"}};
const OptionDoc kEndsEntry{{kEnds},
                           {"end each resource where its picture format ends (see list --help)"}};
const OptionDoc kDeepEntry{{kDeep},
                           {"also find the pictures of Windows programs (see list --help)"}};
const OptionDoc kBatchEntry{{kRecursive, kFollowLinks, kJobs},
                            {"as for list: read folders, follow links, N files at once"}};
const OptionDoc kJsonLinesEntry{{kJsonLines},
                                {"print one such JSON object per line instead (JSON Lines)"}};
const OptionDoc kHelpEntry{{kHelp}, {"show this text"}};
const OptionDoc kVerdictEntry{{kVerdict},
                              {"keep only the resources whose verdict (see inspect --help) is in",
                               "LIST, names separated by commas, e.g. complete,trailing-bytes;",
                               "the numbers stay the ones replace takes"}};

}  // namespace

const CommandDoc kListDoc{
    "list",
    "usage: kerbilo-cli list FILE... [-r] [-L] [-j N] [--config PATH] [--json | --jsonl]\n"
    "                   [--ends format] [--deep] [--verdict LIST]\n",
    "Scans FILE for every resource kind and lists what it finds, one line per resource in\n"
    "the order of the window's tree:\n"
    "  number<TAB>kind<TAB>label<TAB>offset<TAB>length\n"
    "number is the resource number, kind the kind's name, label its tree label (its\n"
    "1-based position in the file, hexadecimal), offset the 0-based offset of its head in\n"
    "the file, length the length of its data in bytes. Texts are UTF-8; a tab, CR, LF or\n"
    "backslash inside a field is written \\t, \\r, \\n or \\\\.\n"
    "With more than one FILE, or with -r, every row starts with the file it comes from\n"
    "(file<TAB>number<TAB>...; a \"file\" key in JSON), in the order of the command line\n"
    "and, inside a folder, of the names. A file that cannot be read is reported on stderr\n"
    "and the others are still listed.\n",
    16,
    {
        {{kRecursive}, {"read the files in the folders given, and in their folders"}},
        {{kFollowLinks}, {"follow symbolic links met while reading folders"}},
        {{kJobs}, {"work on N files at once (default: the number of cores)"}},
        {{kConfig},
         {"read the resource kinds from PATH (nothing is written); without it",
          "the program's resource.config is used (beside the program, or in",
          "~/.config/kerbilo when that folder is not writable), written with",
          "the built-in kinds when it does not exist"}},
        {{kJson},
         {"print a JSON array of objects with the keys number, kind, label,",
          "offset and length instead"}},
        kJsonLinesEntry,
        {{kEnds},
         {"end each resource where its picture format's structure ends",
          "(PNG, JPEG, GIF, BMP, ICO, CUR), else at the first tail, as a",
          "kind whose \"结束方式\" key says \"格式\" does; --ends tail (the",
          "default) leaves it to the kinds file"}},
        {{kDeep},
         {"structure scan: also find the icons, cursors, bitmaps and",
          "pictures that Windows programs (at the start of FILE or inside",
          "it) keep in their resources, listed after the kinds' resources",
          "under kinds of their own, as \"结构扫描=是\" in the kinds file",
          "does; inspect then adds a source column (pe:TYPE/NAME/LANGUAGE,",
          "pe@0xOFFSET: for a program inside FILE); and the pictures inside",
          "ZIP entries, gzip members and zlib streams, four deep (zip:NAME,",
          "zip@0xOFFSET:NAME, zlib@0xOFFSET+0xINNER, steps joined by >)"}},
        kVerdictEntry,
        kHelpEntry,
    },
    "Exit codes: 0 listed, 1 a file or the kinds file cannot be read, 2 usage error; with\n"
    "several files the worst of theirs.\n"};

const CommandDoc kInspectDoc{
    "inspect",
    "usage: kerbilo-cli inspect FILE... [-r] [-L] [-j N] [--config PATH] [--json | --jsonl]\n"
    "                      [--ends format] [--deep] [--verdict LIST]\n",
    "Scans FILE as list does and tells, for every resource, what it really is:\n"
    "  number kind label offset length format width height frames verdict extent sha256\n"
    "  reason\n"
    "the first five as list prints them; format PNG, JPEG, GIF, BMP, ICO, CUR or PCX\n"
    "(empty when the data is no picture); width and height in pixels (an icon's largest\n"
    "image); frames the images of a GIF or an icon (1 for other pictures); verdict one of\n"
    "  complete        the format ends exactly where the resource ends, and its pixel\n"
    "                  data decodes\n"
    "  cut-short       a whole picture that decodes goes on past the resource's end\n"
    "                  (extent says where it ends)\n"
    "  trailing-bytes  a whole picture that decodes ends before the resource does\n"
    "  damaged         the structure is broken, the file ends inside the picture, or\n"
    "                  the pixel data does not decode\n"
    "  unchecked       a PCX picture: the format has no end of its own\n"
    "  not-a-picture   the data is no picture format\n"
    "extent the format's own length in bytes from the resource's first byte, sha256 the\n"
    "SHA-256 of the resource's data, and reason why the verdict is what it is (\"zlib\n"
    "stream ends early\", \"entry 2 points past the file\", \"no trailer\" for a GIF that\n"
    "lacks it; empty for a plain complete). Width, height and frames are given only when\n"
    "the picture's header is sound. reason comes last, after source with --deep. Unknown\n"
    "values are empty (null in JSON).\n"
    "Several FILEs, folders (-r, -L), -j N and --jsonl work as for list, and so does the\n"
    "leading file column.\n",
    16,
    {
        kConfigEntry,
        kBatchEntry,
        {{kJson}, {"print a JSON array of objects with those keys instead"}},
        kJsonLinesEntry,
        kEndsEntry,
        kDeepEntry,
        kVerdictEntry,
        kHelpEntry,
    },
    "Exit codes: 0 inspected, 1 a file or the kinds file cannot be read, 2 usage error; with\n"
    "several files the worst of theirs.\n"};

const CommandDoc kExportDoc{
    "export",
    "usage: kerbilo-cli export FILE... [-r] [-L] [-j N] [--out DIR] [--config PATH]\n"
    "                          [--jsonl] [--ends format] [--deep] [--verdict LIST]\n"
    "       kerbilo-cli export FILE --resource N -o PATH [--config PATH] [--ends format]\n"
    "                          [--deep]\n",
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
    "PATH.\n",
    16,
    {
        {{{"--out", {}, "DIR"}},
         {"output folder, made with its parents when missing (default: the",
          "one set with set-output-folder, else the current folder)"}},
        kBatchEntry,
        {{kJsonLines}, {"also write manifest.jsonl, the manifest as JSON Lines"}},
        {{kResource}, {"export only resource N of one FILE; needs -o"}},
        {{{"-o", {}, "PATH"}}, {"target file of the single export"}},
        kConfigEntry,
        kEndsEntry,
        kDeepEntry,
        kVerdictEntry,
        kHelpEntry,
    },
    "Exit codes: 0 everything written, 1 a file could not be read or written, 2 usage error;\n"
    "with several files the worst of theirs.\n"};

const CommandDoc kReplaceDoc{
    "replace",
    "usage: kerbilo-cli replace FILE --resource N --with NEWFILE [--resource N --with NEWFILE]...\n"
    "                           -o OUT [--yes] [--config PATH] [--ends format] [--deep]\n",
    "Replaces resource N (numbered as `list` prints them) by the bytes of NEWFILE in the\n"
    "in-memory copy of FILE, pair by pair in the order given, then saves the whole copy to\n"
    "OUT. New data not longer than the resource's stretch is written there followed by zero\n"
    "bytes, so the file keeps its length; longer data grows the file, which needs --yes.\n"
    "Either way the resource's whole stretch is rewritten: a resource that encloses it grows\n"
    "with it, and one inside it or across its edge is no longer in the file and cannot be\n"
    "replaced by a later pair.\n"
    "A picture of a Windows program (--deep) takes an .ico, .cur, .bmp or .png file, turned\n"
    "into the form the program stores; when it does not fit, the program's resources are\n"
    "rebuilt in a new section, and a signature it carried is removed (said on stderr).\n",
    16,
    {
        {{kResource}, {"the resource to replace; each is followed by its --with"}},
        {{{"--with", {}, "NEWFILE"}}, {"the file whose bytes replace it"}},
        {{{"-o", {}, "OUT"}}, {"where the modified copy is written (may be FILE itself)"}},
        {{{"--yes"}}, {"allow replacements that grow the file"}},
        kConfigEntry,
        kEndsEntry,
        kDeepEntry,
        kHelpEntry,
    },
    "Exit codes: 0 saved, 1 a file could not be read or written, a growth was not allowed\n"
    "or a resource was no longer in the file (nothing is written then), 2 usage error.\n"};

const CommandDoc kSetOutputFolderDoc{
    "set-output-folder",
    "usage: kerbilo-cli set-output-folder DIR\n",
    "Stores DIR as the output folder of export-all in Resource.ini beside the program,\n"
    "where the window and `kerbilo-cli export` read it. A name with blanks at either end\n"
    "is stored in quotes and read back as it is; a name with a carriage return or line\n"
    "feed cannot be stored, and Resource.ini is left as it was.\n",
    8,
    {kHelpEntry},
    "Exit codes: 0 stored, 1 Resource.ini could not be written or cannot hold DIR,\n"
    "2 usage error.\n"};

const CommandDoc kRenderDoc{
    "render",
    "usage: kerbilo-cli render INPUT -o OUT.png [options]\n",
    "Draws the picture pane for INPUT's bytes and writes it as a PNG file.\n",
    23,
    {
        {{{"-o", {"--output"}, "OUT.png"}}, {"file to write (required)"}},
        {{kResource}, {"show resource N (1-based) found in INPUT instead"}},
        {{kConfig}, {"resource kinds to scan with (for --resource)"}},
        {{kEnds},
         {"end resources where their picture format ends (for", "--resource; see list --help)"}},
        {{kDeep},
         {"also find the pictures of Windows programs (for", "--resource; see list --help)"}},
        {{{"--size", {}, "WxH"}}, {"pane size in pixels (default 464x312)"}},
        {{{"--stretch"}},
         {"stretch the picture over the pane (default: centred,", "never enlarged)"}},
        {{{"--background", {}, "RRGGBB"}}, {"pane background (default F0F0F0, the window's)"}},
        {{{"--frame", {}, "K"}},
         {"for animated GIFs, the pane after K frames (default 1,",
          "the first image); the animation restarts on a cleared",
          "canvas after its last frame, so of n frames K shows",
          "frame (K - 1) mod n + 1, as the window would"}},
        {{{"--help", {"-h"}}}, {"show this help"}},
    },
    "Data that is not a picture still writes the background-only pane.\n"};

const char* const kMainUsage =
    "usage: kerbilo-cli COMMAND [ARGS]\n"
    "\n"
    "Finds the resources embedded in a file by the byte signatures of resource.config,\n"
    "as the Kerbilo window does, and exports or replaces them.\n"
    "\n"
    "commands:\n"
    "  list FILE... [--config PATH] [--json|--jsonl]  list the resources found in FILE\n"
    "  inspect FILE... [--config PATH] [--json|--jsonl]\n"
    "                                                  what each resource is: format, size,\n"
    "                                                  completeness, SHA-256\n"
    "  export FILE... [--out DIR] [--config PATH]      export every resource into DIR\n"
    "  export FILE --resource N -o PATH [--config PATH]  export resource N to PATH\n"
    "  replace FILE --resource N --with NEWFILE... -o OUT [--yes] [--config PATH]\n"
    "                                                  replace resources, save to OUT\n"
    "  set-output-folder DIR                           store the export-all folder\n"
    "  render INPUT -o OUT.png [--resource N] [--size WxH] [--stretch]\n"
    "         [--background RRGGBB] [--frame K] [--config PATH]\n"
    "                                                  draw the picture pane as a PNG\n"
    "\n"
    "list, inspect and export take several files and folders (-r, -L) and work on N at\n"
    "once (-j N). Commands that scan also take --ends format: end each resource where its\n"
    "picture format ends instead of at the first tail, and --deep: also find the icons,\n"
    "cursors and bitmaps of Windows programs.\n"
    "kerbilo-cli COMMAND --help explains a command's options.\n"
    "Exit codes: 0 success, 1 a file could not be read or written, 2 usage error.\n";

}  // namespace kerbilo::cli
