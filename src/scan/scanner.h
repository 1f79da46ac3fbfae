#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>

#include "config/config_files.h"
#include "scan/document.h"

namespace kerbilo {

// One match: the head's 0-based offset and the stretch through the tail's last byte.
struct KindMatch {
    std::int64_t offset;
    std::int64_t stretch;
};

// The stretch of a match found in a part of the file (KindSearch with a part) whose tail
// does not start in that part: it ends at the first tail from the part's end on.
constexpr std::int64_t kTailBeyondPart = -1;

// One kind's search through data[0, n): every head, in file order, and the match it gives.
// It goes as far as it is asked, so that several kinds can go through a large file a block
// at a time.
class KindSearch {
  public:
    // `zeros` (ByteBuffer::knownZeros of the bytes, kept alive by the caller) are passed
    // by instead of read.
    KindSearch(const std::uint8_t* data, std::size_t n, const ByteBuffer& head,
               const ByteBuffer& tail, bool byFormat, std::span<const ZeroStretch> zeros = {});
    // Only the heads that start in the part [begin, end) of the bytes, for a sweep that
    // hands the parts of one file to several threads. Tails are looked for as far as the
    // part's end (a tail starting there may reach past it); a head whose tail starts later
    // gives the stretch kTailBeyondPart, and the search goes on with the next head, since
    // only the parts after this one can tell whether there is a tail at all. A format's
    // walk goes as far as the bytes do.
    KindSearch(const std::uint8_t* data, std::size_t n, const ByteBuffer& head,
               const ByteBuffer& tail, bool byFormat, std::span<const ZeroStretch> zeros,
               std::size_t begin, std::size_t end);

    // Reports the heads that start before `limit` and their matches, one progress step
    // before each head search; false once no later head can give anything.
    bool advance(std::size_t limit, Progress& progress,
                 const std::function<void(std::int64_t)>& onHead,
                 const std::function<void(const KindMatch&)>& onMatch);

    // What the search learnt of the tails in its part, so that a head of an earlier part
    // finds its tail without this part being searched again: the tails starting in
    // [tailsFrom(), end) were looked for (tailsFrom() is the end when none were), and the
    // first of them is at firstTail() (−1 when there is none).
    std::size_t tailsFrom() const { return tailsFrom_; }
    std::int64_t firstTail() const { return firstTail_; }

  private:
    const std::uint8_t* data_;
    std::size_t n_;
    std::size_t end_;  // heads and tails start before it
    std::span<const ZeroStretch> zeros_;
    ByteBuffer head_;
    ByteBuffer tail_;
    bool byFormat_;
    std::size_t from_ = 0;      // next head search start
    std::int64_t tailAt_ = -1;  // first tail at or after the last tail search start
    bool tailsLeft_;            // false once no tail follows the last search start
    bool done_ = false;
    bool tailsSearched_ = false;
    std::size_t tailsFrom_;
    std::int64_t firstTail_ = -1;
};

// Every head followed by a tail in data[0, n), in file order. One progress step before
// each head search, and one every 16 MiB a search goes without finding anything; `onHead`
// for each head found (its 0-based offset), including a last head without a tail. Linear
// in n: the tail found for one head is reused for the next heads as long as it still lies
// after their start.
void findKindMatches(const std::uint8_t* data, std::size_t n, const ByteBuffer& head,
                     const ByteBuffer& tail, Progress& progress,
                     const std::function<void(std::int64_t)>& onHead,
                     const std::function<void(const KindMatch&)>& onMatch);

// The same for a kind that ends its resources by format: each head whose picture format
// walks to an end gives the stretch to that end; any other head ends at the first tail
// after it, and when there is none (or the tail is empty) it gives nothing while the
// search goes on with the next head, since a false head must not hide a real picture.
void findKindMatchesByFormat(const std::uint8_t* data, std::size_t n, const ByteBuffer& head,
                             const ByteBuffer& tail, Progress& progress,
                             const std::function<void(std::int64_t)>& onHead,
                             const std::function<void(const KindMatch&)>& onMatch);

struct OpenOptions {
    // Every kind ends its resources by format, as if its "结束方式" key said "格式".
    bool endsByFormat = false;
    // The file is mapped read-only rather than copied (FileServices::tryMapWholeFile), for
    // work that only reads it: files larger than memory can then be scanned.
    bool mapFile = false;
    // Every kind in one sweep over the bytes (scanKindsInOneSweep), reading memory once
    // instead of once per kind; false scans kind by kind, each kind a pass of its own.
    bool oneSweep = true;
    // Besides the kinds, the pictures that files inside the bytes lead to through their own
    // structures (scanStructures), as if the kinds file said "结构扫描=是".
    bool structureScan = false;
    // The threads one sweep may spread a large file over: each searches parts of it, and
    // what they find is put together in file order, numbered and labelled as one thread
    // finds it.
    unsigned threads = 1;
    // The length of those parts; 0 lets the sweep choose by the file's size and the threads.
    std::size_t partLength = 0;
    // The kinds to scan for, when a run over many files read them once for all of them;
    // null: the open reads the kinds file.
    std::shared_ptr<const KindsFile> kinds = nullptr;
};

// One kind as resource.config describes it, read and decoded; nothing for a kind the scan
// skips (no name, no head, or no tail for a kind that ends at its tail).
struct KindToScan {
    Text name;
    ByteBuffer head, tail, headFill, tailFill;
    bool byFormat = false;
};
std::optional<KindToScan> readKindToScan(const KindsFile& kindsFile, Progress& progress, int k,
                                         const OpenOptions& options);

// Scans the loaded bytes for kind k of the kinds file, appends its resources to the
// catalogue and tells events. False when the kind is skipped (no name, no head, or no tail
// for a kind that ends at its tail).
bool scanKind(Services& services, Document& doc, const KindsFile& kindsFile, int k,
              const OpenOptions& options, OpenEvents& events);

// How a sweep divides its part of the progress bar: the sweep itself, then each kind's
// publishing alike, of which filling the tree takes a part.
struct SweepShares {
    double sweep = 0;
    double publishing = 0;
    double treePartOfKind = 0;
    double publishEach(std::size_t kinds) const {
        return kinds == 0 ? 0 : publishing / static_cast<double>(kinds);
    }
};

// Kinds 1 … kinds in one sweep over the bytes, a block at a time, each kind's search going
// as far as the block: a file larger than the processor's caches is read from memory once
// instead of once per kind. Resources and events come out as kind-by-kind scans give them,
// all after the sweep; events run between blocks and the progress bar
// follows the sweep. With options.threads above one, a file of several parts is swept by
// that many threads, a part each at a time (events run on the calling thread's blocks),
// and what they found is put together afterwards. Returns the kinds scanned.
int scanKindsInOneSweep(Services& services, Document& doc, const KindsFile& kindsFile,
                        std::int64_t kinds, const OpenOptions& options, OpenEvents& events,
                        const SweepShares& shares = {});

}  // namespace kerbilo
