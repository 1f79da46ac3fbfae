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
    return runListingCommand(env, argc, argv, kInspectDoc,
                             {C::Number, C::Kind, C::Label, C::Offset, C::Length, C::Format,
                              C::Width, C::Height, C::Frames, C::Verdict, C::Extent, C::Sha256},
                             inspectRows, {C::Source}, {C::Reason});
}

}  // namespace kerbilo::cli
