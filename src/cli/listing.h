#pragma once
// One listing written two ways: tab-separated rows under a header line, or a JSON array
// with one object per row. list and inspect print through it, so both escape the same way
// and a script reads every listing alike.

#include <ostream>
#include <string>
#include <vector>

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
    enum class Format { Tsv, Json };

    Listing(std::ostream& out, Format format, std::vector<std::string> columns);

    // One row, its cells in column order.
    void row(const std::vector<Cell>& cells);
    // Closes the JSON array and flushes; false when the output could not be written.
    bool finish();

  private:
    void flushIfLarge();

    std::ostream& out_;
    Format format_;
    std::vector<std::string> columns_;
    std::string buffer_;
    bool first_ = true;
};

// A cell's text as one tab-separated field: tab, CR, LF and backslash inside it are written
// \t, \r, \n and \\, so a field never splits a row or a line.
std::string tsvField(const std::string& text);
// A JSON string literal of the text.
void appendJsonString(std::string& out, const std::string& text);

}  // namespace kerbilo::cli
