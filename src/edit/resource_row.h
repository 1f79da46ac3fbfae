#pragma once
// One resource as the records other programs read tell it: list's and inspect's rows and
// the manifests export all writes are all made here, each choosing its columns, so a
// resource reads the same wherever it is listed.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "picture/inspect.h"
#include "runtime/text_records.h"
#include "scan/document.h"

namespace kerbilo {

enum class RowColumn {
    Number,
    Kind,
    Label,
    Offset,
    Length,
    Format,
    Width,
    Height,
    Frames,
    Verdict,
    Extent,
    Sha256,
    Path,
    Source,  // where a resource found by structure came from; empty for a signature's
    Reason,  // why the verdict is what it is, in English; empty for a plain complete
};

// The names of the columns, as header lines and JSON keys carry them.
std::vector<std::string> columnNames(const std::vector<RowColumn>& columns);

// What a resource really is: its format's structure walked and its data's digest.
struct Judged {
    Inspection what;
    std::string sha256;
};

// Resource n (1 ≤ n ≤ catalogue size) walked, not decoded (whether the pane can show it is
// no column, and decoding is the costly part), and hashed. Safe on many threads at once.
Judged judgeResource(const Document& doc, int n);

struct ResourceRow {
    int number = 0;
    std::string kind;  // UTF-8
    std::string label;
    std::int64_t offset = 0;  // of its head in the opened file
    std::int64_t length = 0;  // of its data
    std::optional<Judged> judged;
    std::string path;    // the file a manifest records it in, UTF-8
    std::string source;  // ResourceOrigin::source, UTF-8

    // Appends the row's cells in the order of columns. A format, frame count, size or
    // extent that is unknown, or was not judged, is null; so is everything judging tells
    // when the row was not judged.
    void appendCells(const std::vector<RowColumn>& columns, std::vector<Cell>& cells) const;
};

// The rows of one catalogue. Every resource of a kind repeats its name, and a million of
// them need only one conversion to UTF-8.
class ResourceRows {
  public:
    explicit ResourceRows(const ResourceCatalogue& catalogue) : catalogue_(catalogue) {}
    ResourceRow row(int n, std::optional<Judged> judged = std::nullopt);

  private:
    const ResourceCatalogue& catalogue_;
    int kind_ = -1;
    std::string kindName_;
};

}  // namespace kerbilo
