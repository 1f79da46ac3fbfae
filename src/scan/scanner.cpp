#include "scan/scanner.h"

#include <algorithm>
#include <optional>
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
    : data_(data),
      n_(n),
      zeros_(zeros),
      head_(head),
      tail_(tail),
      byFormat_(byFormat),
      tailsLeft_(!tail.empty()) {}

bool KindSearch::advance(std::size_t limit, Progress& progress,
                         const std::function<void(std::int64_t)>& onHead,
                         const std::function<void(const KindMatch&)>& onMatch) {
    while (!done_) {
        progress.step();
        if (from_ >= n_) break;
        if (from_ >= limit) return true;
        // Heads that start before the limit; the last of them may reach past it.
        const std::size_t end = std::min(n_, limit + head_.size() - 1);
        const std::int64_t h = findInSteps(data_, from_, end, head_, zeros_, progress);
        if (h < 0) {
            if (end >= n_) break;
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
        if (tailsLeft_ && tailAt_ < static_cast<std::int64_t>(from_)) {
            tailAt_ = findInSteps(data_, from_, n_, tail_, zeros_, progress);
            if (tailAt_ < 0) tailsLeft_ = false;
        }
        if (!tailsLeft_) {
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

int scanKindsInOneSweep(Services& services, Document& doc, const KindsFile& kindsFile,
                        std::int64_t kinds, const OpenOptions& options, OpenEvents& events,
                        const SweepShares& shares) {
    struct Scan {
        KindToScan kind;
        std::optional<KindSearch> search;
        std::vector<std::int64_t> heads;
        std::vector<KindMatch> matches;
    };
    Progress& progress = services.progress;
    // The scan reads the bytes as opened; events it lets run cannot change them (busy).
    const ByteBuffer bytes = doc.file.bytes;
    std::vector<Scan> scans;
    for (std::int64_t k = 1; k <= kinds; ++k) {
        progress.step();  // a million kinds, most of them skipped, still let events run
        if (std::optional<KindToScan> kind =
                readKindToScan(kindsFile, progress, static_cast<int>(k), options))
            scans.push_back({std::move(*kind), std::nullopt, {}, {}});
    }
    const std::vector<ZeroStretch> zeros = bytes.knownZeros();
    for (Scan& s : scans)
        s.search.emplace(bytes.data(), bytes.size(), s.kind.head, s.kind.tail, s.kind.byFormat,
                         zeros);
    // A block at a time, every kind in turn: the block is read from memory once and stays
    // in the processor's cache for the other kinds.
    constexpr std::size_t kBlock = std::size_t{2} << 20;
    progress.beginStage(shares.sweep, bufferLength(bytes));
    for (std::size_t limit = 0;;) {
        limit = std::min(bytes.size(), limit + kBlock);
        bool more = false;
        for (Scan& s : scans)
            more |= s.search->advance(
                limit, progress, [&](std::int64_t at) { s.heads.push_back(at); },
                [&](const KindMatch& m) { s.matches.push_back(m); });
        progress.reached(static_cast<std::int64_t>(limit));
        if (!more || progress.cancelled()) break;
    }
    for (Scan& s : scans) {
        if (progress.cancelled()) break;
        progress.beginStage(shares.publishEach(scans.size()), bufferLength(bytes),
                            shares.treePartOfKind);
        KindPublisher publisher(services, doc, s.kind, events);
        for (const std::int64_t at : s.heads) publisher.head(at);
        for (const KindMatch& m : s.matches) publisher.match(m);
        publisher.finish();
    }
    return static_cast<int>(scans.size());
}

}  // namespace kerbilo
