#pragma once
// One listing written three ways: tab-separated rows under a header line, a JSON array with
// one object per row, or JSON Lines (one object per line, for streaming into other tools).
// list and inspect print through it, so every listing escapes the same way. Rows are
// formatted into chunks, and chunks are printed in order: several files listed at once
// format their rows in parallel and still come out in the order of the command line.

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "scan/catalogue.h"

namespace kerbilo::cli {

struct Cell {
    enum class Kind { Text, Number, Null };
    std::string value;  // UTF-8 text, or the decimal digits of a number
    Kind kind = Kind::Text;

    static Cell text(std::string v) { return {std::move(v), Kind::Text}; }
    static Cell number(std::int64_t v) { return {std::to_string(v), Kind::Number}; }
    static Cell null() { return {{}, Kind::Null}; }
};

class Listing {
  public:
    enum class Format { Tsv, Json, Jsonl };

    // Prints the header line (TSV) or the opening bracket (JSON).
    Listing(std::ostream& out, Format format, std::vector<std::string> columns);

    const std::vector<std::string>& columns() const { return columns_; }

    // Appends one row, its cells in column order, to a chunk.
    void format(const std::vector<Cell>& cells, std::string& chunk) const;
    // Prints a chunk after those printed before it.
    void print(const std::string& chunk);
    // Closes the JSON array and flushes; false when the output could not be written.
    bool finish();

    // For one file: formats a row and prints whenever a megabyte has gathered.
    void row(const std::vector<Cell>& cells);

  private:
    std::ostream& out_;
    Format format_;
    std::vector<std::string> columns_;
    std::string pending_;
    bool printedAny_ = false;
};

struct Args;

// The UTF-8 names of a catalogue's kinds: every resource of a kind repeats its name, and a
// million of them need only one conversion.
class KindNames {
  public:
    explicit KindNames(const ResourceCatalogue& catalogue) : catalogue_(catalogue) {}
    const std::string& of(int n) {
        const int kind = catalogue_.kindOf(n);
        if (kind != kind_) {
            kind_ = kind;
            name_ = utf8Text(catalogue_.kindName(kind));
        }
        return name_;
    }

  private:
    static std::string utf8Text(const Text& gbk);
    const ResourceCatalogue& catalogue_;
    int kind_ = -1;
    std::string name_;
};

// Tab-separated by default, --json for an array, --jsonl for JSON Lines; a usage problem
// when both are given.
std::optional<std::string> readListingFormat(const Args& args,
                                             std::optional<Listing::Format>& format);

}  // namespace kerbilo::cli
