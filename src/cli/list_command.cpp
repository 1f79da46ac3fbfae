#include <string>

#include "cli/cli_session.h"
#include "cli/listing.h"
#include "scan/tree.h"

namespace kerbilo::cli {

const char* const kListUsage =
    "usage: kerbilo-cli list FILE [--config PATH] [--json]\n"
    "\n"
    "Scans FILE for every resource kind and lists what it finds, one line per resource in\n"
    "the order of the window's tree:\n"
    "  number<TAB>kind<TAB>label<TAB>offset<TAB>length\n"
    "number is the resource number, kind the kind's name, label its tree label (its\n"
    "1-based position in the file, hexadecimal), offset the 0-based offset of its head in\n"
    "the file, length the length of its data in bytes. Texts are UTF-8; a tab, carriage\n"
    "return, line feed or backslash inside a text is written as \\t, \\r, \\n or \\\\.\n"
    "\n"
    "  --config PATH  read the resource kinds from PATH (nothing is written); without it\n"
    "                 resource.config beside the program is used, written with the\n"
    "                 built-in kinds when it does not exist\n"
    "  --json         print a JSON array of objects with the keys number, kind, label,\n"
    "                 offset and length instead\n"
    "  --help         show this text\n"
    "\n"
    "Exit codes: 0 listed, 1 the file or the kinds file cannot be read, 2 usage error.\n";

int listCommand(CliEnv& env, int argc, char** argv) {
    const Args args = parseArgs(argc, argv, {{"--config"}, {"--json", "--help"}});
    if (const std::optional<int> done = checkFileCommand(env, args, "list", kListUsage))
        return *done;
    const bool json = args.has("--json");

    Session session(env, args.value("--config"));
    if (!session.ready(args.positional[0])) return kExitFailed;

    const ResourceCatalogue& catalogue = session.doc.catalogue;
    ConsoleUi& ui = session.ui;
    Listing listing(env.out, json ? Listing::Format::Json : Listing::Format::Tsv,
                    {"number", "kind", "label", "offset", "length"});
    // Kind names repeat for every resource of a group: convert each group's name once.
    int groupItem = -2;
    std::string kind;
    const int count = ui.treeItemCount();
    for (int i = 0; i < count; ++i) {
        const int n = resourceOfItem(ui, catalogue, i);
        if (n == 0) continue;
        if (ui.treeItemParent(i) != groupItem) {
            groupItem = ui.treeItemParent(i);
            kind = utf8(kindNameOfItem(ui, i));
        }
        listing.row({Cell::number(n), Cell::text(kind), Cell::text(utf8(ui.treeItemText(i))),
                     Cell::number(catalogue.openedOffset(n)),
                     Cell::number(catalogue.dataLength(n))});
    }
    return listing.finish() ? kExitOk : kExitFailed;
}

}  // namespace kerbilo::cli
