#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "cli/batch.h"
#include "cli/cli_session.h"
#include "cli/listing.h"
#include "runtime/sha256.h"
#include "scan/inspection.h"

namespace kerbilo::cli {

namespace {

Cell positive(int v) {
    return v > 0 ? Cell::number(v) : Cell::null();
}

struct Judged {
    Inspection what;
    std::string sha256;
};

// Walking, decoding and hashing are independent for every resource and take most of the
// time, so they run on every core, a batch at a time to bound the memory; the rows are
// still printed in tree order.
void judgeAll(const Document& doc, const std::vector<int>& numbers, unsigned cores,
              std::vector<Judged>& out) {
    out.assign(numbers.size(), {});
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t i; (i = next.fetch_add(1)) < numbers.size();) {
            const ByteBuffer data = doc.catalogue.data(numbers[i]);
            // The structure walk tells every column; the decoder, the costly part, would
            // only say whether the pane can show the picture, which inspect does not print.
            out[i] = {inspectCatalogued(doc, numbers[i], false),
                      sha256Hex(data.data(), data.size())};
        }
    };
    const unsigned helpers = numbers.size() < 64 ? 0 : std::max(1u, cores) - 1;
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < helpers; ++t) {
        try {
            threads.emplace_back(work);
        } catch (const std::system_error&) {
            break;  // fewer threads, same result
        }
    }
    work();
    for (std::thread& t : threads) t.join();
}

// The rows of one opened file, in tree order; `file` first when several files are listed.
void inspectRows(Session& session, const std::optional<std::string>& file, unsigned threads,
                 const std::function<void(std::vector<Cell>&&)>& row) {
    const Document& doc = session.doc;
    KindNames kinds(doc.catalogue);
    constexpr std::size_t kBatch = 4096;
    std::vector<int> numbers;
    std::vector<Judged> judged;
    const auto flush = [&] {
        judgeAll(doc, numbers, threads, judged);
        for (std::size_t b = 0; b < numbers.size(); ++b) {
            const int n = numbers[b];
            const Inspection& what = judged[b].what;
            const bool picture = what.format != PictureFormat::None;
            std::vector<Cell> cells;
            cells.reserve(13);
            if (file) cells.push_back(Cell::text(*file));
            for (Cell& c : std::vector<Cell>{
                     Cell::number(n), Cell::text(kinds.of(n)),
                     Cell::text(utf8(resourceLabel(doc.catalogue, n))),
                     Cell::number(doc.catalogue.openedOffset(n)),
                     Cell::number(doc.catalogue.dataLength(n)),
                     picture ? Cell::text(pictureFormatName(what.format)) : Cell::null(),
                     positive(what.width), positive(what.height),
                     picture ? positive(what.frames) : Cell::null(),
                     Cell::text(verdictName(what.verdict)),
                     what.extent ? Cell::number(*what.extent) : Cell::null(),
                     Cell::text(judged[b].sha256)})
                cells.push_back(std::move(c));
            row(std::move(cells));
        }
        numbers.clear();
    };
    for (int n = 1; n <= doc.catalogue.size(); ++n) {
        numbers.push_back(n);
        if (numbers.size() == kBatch) flush();
    }
    flush();
}

}  // namespace

int inspectCommand(CliEnv& env, int argc, char** argv) {
    return runListingCommand(env, argc, argv, kInspectDoc,
                             {"number", "kind", "label", "offset", "length", "format", "width",
                              "height", "frames", "verdict", "extent", "sha256"},
                             inspectRows);
}

}  // namespace kerbilo::cli
