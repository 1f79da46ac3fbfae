#include <string>

#include <functional>

#include "cli/batch.h"
#include "cli/cli_session.h"
#include "cli/listing.h"

namespace kerbilo::cli {

namespace {

// The rows of one opened file, in tree order; `file` first when several files are listed.
void listRows(Session& session, const std::optional<std::string>& file,
              const std::function<void(std::vector<Cell>&&)>& row) {
    const ResourceCatalogue& catalogue = session.doc.catalogue;
    KindNames kinds(catalogue);
    for (int n = 1; n <= catalogue.size(); ++n) {
        std::vector<Cell> cells;
        cells.reserve(6);
        if (file) cells.push_back(Cell::text(*file));
        cells.push_back(Cell::number(n));
        cells.push_back(Cell::text(kinds.of(n)));
        cells.push_back(Cell::text(utf8(resourceLabel(catalogue, n))));
        cells.push_back(Cell::number(catalogue.openedOffset(n)));
        cells.push_back(Cell::number(catalogue.dataLength(n)));
        row(std::move(cells));
    }
}

}  // namespace

int listCommand(CliEnv& env, int argc, char** argv) {
    return runListingCommand(
        env, argc, argv, kListDoc, {"number", "kind", "label", "offset", "length"},
        [](Session& session, const std::optional<std::string>& file, unsigned,
           const std::function<void(std::vector<Cell> &&)>& row) { listRows(session, file, row); });
}

}  // namespace kerbilo::cli
