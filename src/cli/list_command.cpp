#include <string>

#include <functional>

#include "cli/batch.h"
#include "cli/cli_session.h"

namespace kerbilo::cli {

int listCommand(CliEnv& env, int argc, char** argv) {
    using C = RowColumn;
    return runListingCommand(
        env, argc, argv, kListDoc, {C::Number, C::Kind, C::Label, C::Offset, C::Length},
        [](Session& session, unsigned, const std::function<void(const ResourceRow&)>& row) {
            ResourceRows rows(session.doc.catalogue);
            for (int n = 1; n <= session.doc.catalogue.size(); ++n) row(rows.row(n));
        });
}

}  // namespace kerbilo::cli
