#include <string>

#include <functional>

#include "cli/batch.h"
#include "cli/cli_session.h"

namespace kerbilo::cli {

const char* const kListUsage =
    "usage: kerbilo-cli list FILE... [-r] [-L] [-j N] [--config PATH] [--json | --jsonl]\n"
    "                   [--ends format]\n"
    "\n"
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
    "and the others are still listed.\n"
    "\n"
    "  -r             read the files in the folders given, and in their folders\n"
    "  -L             follow symbolic links met while reading folders\n"
    "  -j N           work on N files at once (default: the number of cores)\n"
    "  --config PATH  read the resource kinds from PATH (nothing is written); without it\n"
    "                 the program's resource.config is used (beside the program, or in\n"
    "                 ~/.config/kerbilo when that folder is not writable), written with\n"
    "                 the built-in kinds when it does not exist\n"
    "  --json         print a JSON array of objects with the keys number, kind, label,\n"
    "                 offset and length instead\n"
    "  --jsonl        print one such JSON object per line instead (JSON Lines)\n"
    "  --ends format  end each resource where its picture format's structure ends\n"
    "                 (PNG, JPEG, GIF, BMP, ICO, CUR), else at the first tail, as a\n"
    "                 kind whose \"结束方式\" key says \"格式\" does; --ends tail (the\n"
    "                 default) leaves it to the kinds file\n"
    "  --help         show this text\n"
    "\n"
    "Exit codes: 0 listed, 1 a file or the kinds file cannot be read, 2 usage error; with\n"
    "several files the worst of theirs.\n";

int listCommand(CliEnv& env, int argc, char** argv) {
    using C = RowColumn;
    return runListingCommand(
        env, argc, argv, "list", kListUsage, {C::Number, C::Kind, C::Label, C::Offset, C::Length},
        [](Session& session, unsigned, const std::function<void(const ResourceRow&)>& row) {
            ResourceRows rows(session.doc.catalogue);
            for (int n = 1; n <= session.doc.catalogue.size(); ++n) row(rows.row(n));
        });
}

}  // namespace kerbilo::cli
