#include <algorithm>
#include <atomic>
#include <functional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "cli/batch.h"
#include "cli/cli_session.h"

namespace kerbilo::cli {

namespace {

const char* const kInspectUsage =
    "usage: kerbilo-cli inspect FILE... [-r] [-L] [-j N] [--config PATH] [--json | --jsonl]\n"
    "                      [--ends format]\n"
    "\n"
    "Scans FILE as list does and tells, for every resource, what it really is:\n"
    "  number kind label offset length format width height frames verdict extent sha256\n"
    "the first five as list prints them; format PNG, JPEG, GIF, BMP, ICO, CUR or PCX\n"
    "(empty when the data is no picture); width and height in pixels; frames the images\n"
    "of a GIF or an icon (1 for other pictures); verdict one of\n"
    "  complete        the format ends exactly where the resource ends\n"
    "  cut-short       the format goes on past the resource's end (extent says where\n"
    "                  it ends, when the file holds that end)\n"
    "  trailing-bytes  the format ends before the resource does\n"
    "  damaged         the format's structure is broken\n"
    "  unchecked       a PCX picture: the format has no end of its own\n"
    "  not-a-picture   the data is no picture format\n"
    "extent the format's own length in bytes from the resource's first byte, and sha256\n"
    "the SHA-256 of the resource's data. Unknown values are empty (null in JSON).\n"
    "Several FILEs, folders (-r, -L), -j N and --jsonl work as for list, and so does the\n"
    "leading file column.\n"
    "\n"
    "  --config PATH  read the resource kinds from PATH (nothing is written)\n"
    "  -r, -L, -j N   as for list: read folders, follow links, N files at once\n"
    "  --json         print a JSON array of objects with those keys instead\n"
    "  --jsonl        print one such JSON object per line instead (JSON Lines)\n"
    "  --ends format  end each resource where its picture format ends (see list --help)\n"
    "  --help         show this text\n"
    "\n"
    "Exit codes: 0 inspected, 1 a file or the kinds file cannot be read, 2 usage error; with\n"
    "several files the worst of theirs.\n";

// Walking and hashing are independent for every resource and take most of the
// time, so they run on every core, a batch at a time to bound the memory; the rows are
// still printed in tree order.
void judgeAll(const Document& doc, const std::vector<int>& numbers, unsigned cores,
              std::vector<Judged>& out) {
    out.assign(numbers.size(), {});
    std::atomic<std::size_t> next{0};
    const auto work = [&] {
        for (std::size_t i; (i = next.fetch_add(1)) < numbers.size();)
            out[i] = judgeResource(doc, numbers[i]);
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

// The rows of one opened file, in tree order.
void inspectRows(Session& session, unsigned threads,
                 const std::function<void(const ResourceRow&)>& row) {
    const Document& doc = session.doc;
    ResourceRows rows(doc.catalogue);
    constexpr std::size_t kBatch = 4096;
    std::vector<int> numbers;
    std::vector<Judged> judged;
    const auto flush = [&] {
        judgeAll(doc, numbers, threads, judged);
        for (std::size_t b = 0; b < numbers.size(); ++b)
            row(rows.row(numbers[b], std::move(judged[b])));
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
    using C = RowColumn;
    return runListingCommand(env, argc, argv, "inspect", kInspectUsage,
                             {C::Number, C::Kind, C::Label, C::Offset, C::Length, C::Format,
                              C::Width, C::Height, C::Frames, C::Verdict, C::Extent, C::Sha256},
                             inspectRows);
}

}  // namespace kerbilo::cli
