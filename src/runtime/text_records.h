#pragma once
// Fields of the tab-separated and JSON records kerbilo writes for other programs to read:
// kerbilo-cli's listings and the manifests export all leaves beside what it wrote.

#include <cstdint>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace kerbilo {

// The text as one tab-separated field: tab, CR, LF and backslash inside it become \t, \r,
// \n and \\, so a field never splits a row or a line.
std::string tsvField(std::string_view text);

// Appends the text as a JSON string literal (quotes, backslashes and control bytes escaped).
void appendJsonString(std::string& out, std::string_view text);

struct Cell {
    enum class Kind { Text, Number, Null };
    std::string value;  // UTF-8 text, or the decimal digits of a number
    Kind kind = Kind::Text;

    static Cell text(std::string v) { return {std::move(v), Kind::Text}; }
    static Cell number(std::int64_t v) { return {std::to_string(v), Kind::Number}; }
    static Cell null() { return {{}, Kind::Null}; }  // empty in TSV, null in JSON
};

// One listing written three ways: tab-separated rows under a header line, a JSON array with
// one object per row, or JSON Lines (one object per line, for streaming into other tools).
// Every listing and manifest goes through it, so all of them escape the same way. Rows are
// formatted into chunks, and chunks are printed in order: several files listed at once
// format their rows in parallel and still come out in the order of the command line.
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

}  // namespace kerbilo
