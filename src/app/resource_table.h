#pragma once
// The details view of what was found: one row a resource, in columns, and the facts that
// only inspection tells (format, size, frames, verdict) worked out on a thread of their
// own so that the rows show at once and fill in as they are inspected. No toolkit here: a
// table widget adapts this.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>
#include <unordered_set>
#include <vector>

#include "picture/inspect.h"
#include "scan/document.h"
#include "scan/inspection.h"

namespace kerbilo {

enum class TableColumn { Number, Kind, Offset, Size, Format, Dimensions, Frames, Verdict, Source };
constexpr int kTableColumnCount = 9;

// The column's heading: 编号, 种类, 偏移, 大小, 格式, 尺寸, 帧数, 完整性, 来源 (GBK).
const Text& tableColumnTitle(TableColumn column);
// Whether the column needs the resource inspected.
bool needsInspection(TableColumn column);

// The text of a cell of resource n (GBK). A column that needs inspection is empty while
// `facts` is null, and for a value the picture does not have.
Text tableCell(const Document& doc, int n, TableColumn column, const Inspection* facts);

// "PNG 图片 300×300，109454 字节，完整": what the status bar and the tooltip say of a resource.
Text describeInspection(const Inspection& what, std::int64_t length);

// Resource numbers in the order of `column`, ascending or not, ties kept in number order;
// rows whose facts are not known yet go last either way. `facts[n]` for n = 1 … size.
std::vector<int> sortedResources(const Document& doc, TableColumn column, bool ascending,
                                 const std::vector<std::optional<Inspection>>& facts);

// Inspects resources on a worker thread, the latest asked first: what the user scrolled to
// last is on screen now. Results are taken by the caller's thread; those of an earlier
// generation (another file, a replacement since) are dropped by the caller.
class BackgroundInspector {
  public:
    BackgroundInspector();
    ~BackgroundInspector();
    BackgroundInspector(const BackgroundInspector&) = delete;
    BackgroundInspector& operator=(const BackgroundInspector&) = delete;

    struct Result {
        std::uint64_t generation;
        int n;
        Inspection facts;
    };
    // Adds work. `urgent` work goes before all that was asked so far, the rest after it;
    // a resource asked again goes to the front when urgent and is otherwise left where it
    // is. Each is inspected once until forget().
    void ask(std::uint64_t generation, int n, InspectionInput input, bool urgent = true);
    // Forgets every request not started (a new file).
    void forget();
    std::vector<Result> take();
    bool idle() const;

  private:
    struct Job {
        std::uint64_t generation;
        int n;
        InspectionInput input;
    };
    void run();

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;            // taken from the front
    std::unordered_set<int> asked_;   // since forget(): in jobs_, running or done
    std::unordered_set<int> done_n_;  // inspected since forget(): later copies are skipped
    std::vector<Result> done_;
    bool busy_ = false;
    bool stop_ = false;
    std::thread worker_;
};

}  // namespace kerbilo
