#include "cli/listing.h"

#include "cli/cli_session.h"
#include "runtime/text_records.h"

namespace kerbilo::cli {

std::string KindNames::utf8Text(const Text& gbk) {
    return utf8(gbk);
}

std::optional<std::string> readListingFormat(const Args& args,
                                             std::optional<Listing::Format>& format) {
    if (args.has("--json") && args.has("--jsonl")) return "--json and --jsonl go separately";
    format = args.has("--json")    ? Listing::Format::Json
             : args.has("--jsonl") ? Listing::Format::Jsonl
                                   : Listing::Format::Tsv;
    return std::nullopt;
}

}  // namespace kerbilo::cli
