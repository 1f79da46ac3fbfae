#include "scan/scanner.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "config/config_files.h"
#include "config/hex_codec.h"
#include "picture/inspect.h"
#include "runtime/byte_ops.h"

namespace kerbilo {

namespace {

// A search through a large file that finds nothing would keep the window from answering
// for as long as it takes; it goes in stretches of a few MiB with a progress step between
// them. Stretches overlap by the needle's length less one, so no match is missed. Gives the
// offset of the first match in data[from, end), or -1.
std::int64_t findInStretches(const std::uint8_t* data, std::size_t from, std::size_t end,
                             const ByteBuffer& needle, Progress& progress) {
    constexpr std::size_t kStretch = std::size_t{16} << 20;
    if (needle.empty() || end < from || end - from < needle.size()) return -1;
    for (;;) {
        const std::size_t stop = end - from > kStretch ? from + kStretch : end;
        const std::size_t length = std::min(end, stop + needle.size() - 1) - from;
        const std::int64_t at = findBytesIn(data + from, length, needle.data(), needle.size());
        if (at >= 0) return static_cast<std::int64_t>(from) + at;
        if (stop >= end) return -1;
        from = stop;
        progress.step();
        // An abandoned scan's results are thrown away: what this one says does not matter.
        if (progress.cancelled()) return -1;
    }
}

// The same, passing by the stretches known to be zero: a match whose first nonzero needle
// byte would lie in one cannot be there. A needle of zeros only is searched for everywhere.
std::int64_t findInSteps(const std::uint8_t* data, std::size_t from, std::size_t end,
                         const ByteBuffer& needle, std::span<const ZeroStretch> zeros,
                         Progress& progress) {
    const std::size_t length = needle.size();
    if (zeros.empty() || end < from || end - from < length)
        return findInStretches(data, from, end, needle, progress);
    const auto nonZero =
        std::find_if(needle.begin(), needle.end(), [](std::uint8_t b) { return b != 0; });
    if (nonZero == needle.end()) return findInStretches(data, from, end, needle, progress);
    // Where the needle's first nonzero byte lands, for every start the search may give.
    const auto lead = static_cast<std::size_t>(nonZero - needle.begin());
    std::size_t q = from + lead;
    const std::size_t qEnd = end - length + lead + 1;
    auto z = std::upper_bound(zeros.begin(), zeros.end(), q,
                              [](std::size_t v, const ZeroStretch& s) { return v < s.to; });
    while (q < qEnd) {
        if (z != zeros.end() && z->from <= q) {
            q = z->to;
            ++z;
            continue;
        }
        const std::size_t stop = z == zeros.end() ? qEnd : std::min(qEnd, z->from);
        const std::int64_t at =
            findInStretches(data, q - lead, stop - lead + length - 1, needle, progress);
        if (at >= 0) return at;
        q = stop;
    }
    return -1;
}

}  // namespace

KindSearch::KindSearch(const std::uint8_t* data, std::size_t n, const ByteBuffer& head,
                       const ByteBuffer& tail, bool byFormat, std::span<const ZeroStretch> zeros)
    : KindSearch(data, n, head, tail, byFormat, zeros, 0, n) {}

KindSearch::KindSearch(const std::uint8_t* data, std::size_t n, const ByteBuffer& head,
                       const ByteBuffer& tail, bool byFormat, std::span<const ZeroStretch> zeros,
                       std::size_t begin, std::size_t end)
    : data_(data),
      n_(n),
      end_(std::min(end, n)),
      zeros_(zeros),
      head_(head),
      tail_(tail),
      byFormat_(byFormat),
      from_(begin),
      tailsLeft_(!tail.empty()),
      tailsFrom_(end_) {}

bool KindSearch::advance(std::size_t limit, Progress& progress,
                         const std::function<void(std::int64_t)>& onHead,
                         const std::function<void(const KindMatch&)>& onMatch) {
    while (!done_) {
        progress.step();
        if (from_ >= end_) break;
        if (from_ >= limit) return true;
        // Heads that start before the limit; the last of them may reach past it.
        const std::size_t stop = std::min(limit, end_);
        const std::size_t end = std::min(n_, stop + head_.size() - 1);
        const std::int64_t h = findInSteps(data_, from_, end, head_, zeros_, progress);
        if (h < 0) {
            if (end >= n_ || stop >= end_) break;
            from_ = limit;
            return true;
        }
        const auto headAt = static_cast<std::size_t>(h);
        const auto at = static_cast<std::int64_t>(headAt);
        onHead(at);
        // The next head search, and the tail search, start at the head's second byte: the
        // tail may begin inside the head.
        from_ = headAt + 1;
        if (byFormat_) {
            if (const std::optional<std::int64_t> extent =
                    formatExtent({data_ + headAt, n_ - headAt})) {
                onMatch({at, *extent});
                continue;
            }
        }
        const bool wholeRest = end_ >= n_;  // the part reaches the end of the bytes
        if (tailsLeft_ && tailAt_ < static_cast<std::int64_t>(from_)) {
            const std::size_t tailEnd = wholeRest ? n_ : std::min(n_, end_ + tail_.size() - 1);
            const bool first = !tailsSearched_;
            tailsSearched_ = true;
            if (first) tailsFrom_ = from_;
            tailAt_ = findInSteps(data_, from_, tailEnd, tail_, zeros_, progress);
            if (first) firstTail_ = tailAt_;
            if (tailAt_ < 0) tailsLeft_ = false;
        }
        if (!tailsLeft_) {
            // The tail, if there is one, lies in a later part: the sweep that reads the parts
            // in order knows.
            if (!wholeRest && !tail_.empty()) {
                onMatch({at, kTailBeyondPart});
                continue;
            }
            // No later head can have a tail either: ending at the tail, the kind is done;
            // ending by format, later heads may still walk.
            if (!byFormat_) break;
            continue;
        }
        onMatch({at, tailAt_ + static_cast<std::int64_t>(tail_.size()) - at});
    }
    done_ = true;
    return false;
}

void findKindMatches(const std::uint8_t* data, std::size_t n, const ByteBuffer& head,
                     const ByteBuffer& tail, Progress& progress,
                     const std::function<void(std::int64_t)>& onHead,
                     const std::function<void(const KindMatch&)>& onMatch) {
    KindSearch(data, n, head, tail, false).advance(n, progress, onHead, onMatch);
}

void findKindMatchesByFormat(const std::uint8_t* data, std::size_t n, const ByteBuffer& head,
                             const ByteBuffer& tail, Progress& progress,
                             const std::function<void(std::int64_t)>& onHead,
                             const std::function<void(const KindMatch&)>& onMatch) {
    KindSearch(data, n, head, tail, true).advance(n, progress, onHead, onMatch);
}

std::optional<KindToScan> readKindToScan(const KindsFile& kindsFile, Progress& progress, int k,
                                         const OpenOptions& options) {
    KindToScan kind;
    kind.name = kindsFile.name(k);
    if (kind.name.empty()) return std::nullopt;
    // A suffix that would lead an export out of its folder: the kind is refused (open says
    // which).
    if (!safeSuffix(kindsFile.suffix(kind.name))) return std::nullopt;
    const auto field = [&](KindField f) {
        return decodeHexText(kindsFile.field(kind.name, f), progress);
    };
    kind.head = field(KindField::Head);
    kind.tail = field(KindField::Tail);
    kind.headFill = field(KindField::HeadFill);
    kind.tailFill = field(KindField::TailFill);
    kind.byFormat = options.endsByFormat || kindsFile.endsByFormat(kind.name);
    if (kind.head.empty() || (kind.tail.empty() && !kind.byFormat)) return std::nullopt;
    return kind;
}

namespace {

// One kind's scan as it is told: the kind begins, each head, its resources in the
// catalogue once the search is over.
class KindPublisher {
  public:
    KindPublisher(Services& services, Document& doc, KindToScan& kind, OpenEvents& events)
        : services_(services), doc_(doc), events_(events) {
        events.kindBegins(kind.name);
        before_ = doc.catalogue.size();
        kind_ =
            doc.catalogue.addKind(kind.name, std::move(kind.headFill), std::move(kind.tailFill));
    }
    void head(std::int64_t at) {
        events_.headFound(at);
        services_.progress.reached(at + 1);
    }
    void match(const KindMatch& m) { doc_.catalogue.append(kind_, m.offset, m.stretch); }
    void finish() {
        const int added = doc_.catalogue.size() - before_;
        if (added >= 1) events_.kindFound(doc_.catalogue, before_ + 1, added);
    }

  private:
    Services& services_;
    Document& doc_;
    OpenEvents& events_;
    int before_ = 0;
    int kind_ = 0;
};

}  // namespace

bool scanKind(Services& services, Document& doc, const KindsFile& kindsFile, int k,
              const OpenOptions& options, OpenEvents& events) {
    std::optional<KindToScan> kind = readKindToScan(kindsFile, services.progress, k, options);
    if (!kind) return false;
    const ByteBuffer head = kind->head, tail = kind->tail;
    const bool byFormat = kind->byFormat;
    KindPublisher publisher(services, doc, *kind, events);
    // The scan reads the bytes as opened; events it lets run cannot change them (busy).
    const ByteBuffer bytes = doc.file.bytes;
    const std::vector<ZeroStretch> zeros = bytes.knownZeros();
    KindSearch(bytes.data(), bytes.size(), head, tail, byFormat, zeros)
        .advance(
            bytes.size(), services.progress, [&](std::int64_t at) { publisher.head(at); },
            [&](const KindMatch& m) { publisher.match(m); });
    publisher.finish();
    return true;
}

namespace {

// A block at a time, every kind in turn: the block is read from memory once and stays in
// the processor's cache for the other kinds.
constexpr std::size_t kBlock = std::size_t{2} << 20;

// What one kind's search found in one part of the bytes, and what it learnt of the tails
// there (KindSearch::tailsFrom, firstTail).
struct PartFinds {
    std::vector<std::int64_t> heads;
    std::vector<KindMatch> matches;
    std::size_t tailsFrom = 0;
    std::int64_t firstTail = -1;
};

// The open's progress as another thread of the sweep sees it: it shows nothing and lets no
// events run (only the opening thread may), but it is cancelled when the open is.
class HelperProgress final : public Progress {
  public:
    explicit HelperProgress(const std::atomic<bool>& stop) : stop_(stop) {}
    void step() override {}
    bool cancelled() const override { return stop_.load(std::memory_order_relaxed); }
    void beginStage(double, std::int64_t) override {}
    void reached(std::int64_t) override {}

  private:
    const std::atomic<bool>& stop_;
};

// Parts enough for the threads to share the work evenly when one part costs more than
// another (heads that walk, a part full of matches), and large enough that handing them out
// costs nothing. Each part keeps a record for every kind: a kinds file of thousands of
// kinds gets fewer, longer parts.
std::size_t choosePartLength(std::size_t n, unsigned threads, std::size_t kinds) {
    constexpr std::size_t kLeast = std::size_t{1} << 20, kMost = std::size_t{16} << 20;
    std::size_t length = std::clamp(n / (std::size_t{threads} * 16), kLeast, kMost);
    const std::size_t most =
        std::max<std::size_t>(threads, (std::size_t{1} << 16) / std::max<std::size_t>(kinds, 1));
    if ((n + length - 1) / length > most) length = (n + most - 1) / most;
    return length;
}

// Every kind's heads and matches in the parts [p × length, (p + 1) × length) of the bytes,
// found by `threads` threads taking the next part as they finish one; the calling thread
// is one of them and the only one that tells progress. finds[part][kind].
std::vector<std::vector<PartFinds>> sweepParts(const ByteBuffer& bytes,
                                               const std::vector<const KindToScan*>& kinds,
                                               std::span<const ZeroStretch> zeros, unsigned threads,
                                               std::size_t length, Progress& progress) {
    const std::size_t n = bytes.size();
    const std::size_t parts = (n + length - 1) / length;
    std::vector<std::vector<PartFinds>> finds(parts, std::vector<PartFinds>(kinds.size()));
    std::atomic<std::size_t> next{0};
    std::atomic<std::uint64_t> swept{0};
    std::atomic<bool> stop{false};
    std::mutex failed;
    std::exception_ptr failure;
    const auto sweep = [&](Progress& own, bool tells) {
        try {
            for (std::size_t part; !stop && (part = next.fetch_add(1)) < parts;) {
                const std::size_t begin = part * length, end = std::min(n, begin + length);
                std::vector<PartFinds>& found = finds[part];
                std::vector<KindSearch> searches;
                searches.reserve(kinds.size());
                for (const KindToScan* k : kinds)
                    searches.emplace_back(bytes.data(), n, k->head, k->tail, k->byFormat, zeros,
                                          begin, end);
                for (std::size_t limit = begin; limit < end;) {
                    const std::size_t from = limit;
                    limit = std::min(end, limit + kBlock);
                    bool more = false;
                    for (std::size_t k = 0; k < kinds.size(); ++k) {
                        PartFinds& f = found[k];
                        more |= searches[k].advance(
                            limit, own, [&](std::int64_t at) { f.heads.push_back(at); },
                            [&](const KindMatch& m) { f.matches.push_back(m); });
                    }
                    const std::uint64_t done = swept.fetch_add(limit - from) + (limit - from);
                    if (tells) {
                        progress.reached(static_cast<std::int64_t>(done));
                        if (progress.cancelled()) stop = true;
                    }
                    if (!more || stop) break;
                }
                for (std::size_t k = 0; k < kinds.size(); ++k) {
                    found[k].tailsFrom = searches[k].tailsFrom();
                    found[k].firstTail = searches[k].firstTail();
                }
            }
        } catch (...) {
            // Out of memory on one thread: the others stop, and the open fails as it would
            // on one.
            std::lock_guard lock(failed);
            if (!failure) failure = std::current_exception();
            stop = true;
        }
    };
    HelperProgress helperProgress(stop);
    std::vector<std::thread> helpers;
    for (unsigned t = 1; t < threads && t < parts; ++t) {
        try {
            helpers.emplace_back(sweep, std::ref(helperProgress), false);
        } catch (const std::system_error&) {
            break;  // fewer threads, the same result
        }
    }
    sweep(progress, true);
    for (std::thread& t : helpers) t.join();
    if (failure) std::rethrow_exception(failure);
    return finds;
}

// Ends kind k's matches whose tails lie beyond their part as one search through the whole
// file ends them, part by part in file order: each at the first tail from its part's end
// on. Ending at tails, the first head that has none ends the kind's search, and what the
// parts after it found is dropped; ending by format, such a head gives nothing. The tails
// are taken from what the parts' searches learnt, and only the bytes before a part's first
// tail search are searched again.
void settleTails(const ByteBuffer& bytes, const KindToScan& kind,
                 std::span<const ZeroStretch> zeros, std::size_t length,
                 std::vector<std::vector<PartFinds>>& finds, std::size_t k, Progress& progress) {
    const ByteBuffer& tail = kind.tail;
    if (tail.empty()) return;
    const std::size_t parts = finds.size(), n = bytes.size();
    // The first tail starting at or after part p's start, −1 when there is none. Asked
    // for parts in order, so one answer serves the parts it lies beyond.
    bool asked = false;
    std::int64_t answer = -1;
    const auto firstTailFrom = [&](std::size_t p) {
        if (asked && (answer < 0 || answer >= static_cast<std::int64_t>(p * length))) return answer;
        asked = true;
        answer = -1;
        for (std::size_t q = p; q < parts && answer < 0; ++q) {
            const PartFinds& f = finds[q][k];
            answer = findInSteps(bytes.data(), q * length,
                                 std::min(n, f.tailsFrom + tail.size() - 1), tail, zeros, progress);
            if (answer < 0) answer = f.firstTail;
        }
        return answer;
    };
    bool over = false;
    for (std::size_t p = 0; p < parts; ++p) {
        PartFinds& f = finds[p][k];
        if (over) {
            f = PartFinds{};
            continue;
        }
        const auto beyond =
            std::find_if(f.matches.begin(), f.matches.end(),
                         [](const KindMatch& m) { return m.stretch == kTailBeyondPart; });
        if (beyond == f.matches.end()) continue;
        const std::int64_t t = firstTailFrom(p + 1);
        if (t >= 0) {
            for (auto m = beyond; m != f.matches.end(); ++m)
                if (m->stretch == kTailBeyondPart)
                    m->stretch = t + static_cast<std::int64_t>(tail.size()) - m->offset;
        } else if (kind.byFormat) {
            f.matches.erase(
                std::remove_if(beyond, f.matches.end(),
                               [](const KindMatch& m) { return m.stretch == kTailBeyondPart; }),
                f.matches.end());
        } else {
            // Every head of the part gave a match or waits for one: the head of this one
            // is the last the search reports.
            const auto i = static_cast<std::size_t>(beyond - f.matches.begin());
            f.heads.resize(i + 1);
            f.matches.resize(i);
            over = true;
        }
    }
}

}  // namespace

int scanKindsInOneSweep(Services& services, Document& doc, const KindsFile& kindsFile,
                        std::int64_t kinds, const OpenOptions& options, OpenEvents& events,
                        const SweepShares& shares) {
    struct Scan {
        KindToScan kind;
        std::optional<KindSearch> search;
    };
    Progress& progress = services.progress;
    // The scan reads the bytes as opened; events it lets run cannot change them (busy).
    const ByteBuffer bytes = doc.file.bytes;
    std::vector<Scan> scans;
    for (std::int64_t k = 1; k <= kinds; ++k) {
        progress.step();  // a million kinds, most of them skipped, still let events run
        if (std::optional<KindToScan> kind =
                readKindToScan(kindsFile, progress, static_cast<int>(k), options))
            scans.push_back({std::move(*kind), std::nullopt});
    }
    const std::vector<ZeroStretch> zeros = bytes.knownZeros();
    progress.beginStage(shares.sweep, bufferLength(bytes));
    const unsigned threads = std::max(1u, options.threads);
    const std::size_t length = options.partLength > 0
                                   ? options.partLength
                                   : choosePartLength(bytes.size(), threads, scans.size());
    std::vector<std::vector<PartFinds>> finds;
    if (threads > 1 && bytes.size() > length) {
        std::vector<const KindToScan*> kindsToScan;
        for (const Scan& s : scans) kindsToScan.push_back(&s.kind);
        finds = sweepParts(bytes, kindsToScan, zeros, threads, length, progress);
        for (std::size_t k = 0; k < scans.size() && !progress.cancelled(); ++k)
            settleTails(bytes, scans[k].kind, zeros, length, finds, k, progress);
    } else {
        // The whole file is the one part.
        finds.assign(1, std::vector<PartFinds>(scans.size()));
        for (std::size_t k = 0; k < scans.size(); ++k)
            scans[k].search.emplace(bytes.data(), bytes.size(), scans[k].kind.head,
                                    scans[k].kind.tail, scans[k].kind.byFormat, zeros);
        for (std::size_t limit = 0;;) {
            limit = std::min(bytes.size(), limit + kBlock);
            bool more = false;
            for (std::size_t k = 0; k < scans.size(); ++k) {
                PartFinds& f = finds[0][k];
                more |= scans[k].search->advance(
                    limit, progress, [&](std::int64_t at) { f.heads.push_back(at); },
                    [&](const KindMatch& m) { f.matches.push_back(m); });
            }
            progress.reached(static_cast<std::int64_t>(limit));
            if (!more || progress.cancelled()) break;
        }
    }
    for (std::size_t k = 0; k < scans.size(); ++k) {
        if (progress.cancelled()) break;
        progress.beginStage(shares.publishEach(scans.size()), bufferLength(bytes),
                            shares.treePartOfKind);
        KindPublisher publisher(services, doc, scans[k].kind, events);
        for (const std::vector<PartFinds>& part : finds)
            for (const std::int64_t at : part[k].heads) publisher.head(at);
        for (std::vector<PartFinds>& part : finds) {
            for (const KindMatch& m : part[k].matches) publisher.match(m);
            part[k] = PartFinds{};  // millions of matches: gone as soon as they are published
        }
        publisher.finish();
    }
    return static_cast<int>(scans.size());
}

}  // namespace kerbilo
