#include "runtime/text_records.h"

namespace kerbilo {

std::string tsvField(std::string_view text) {
    if (text.find_first_of("\t\r\n\\") == std::string_view::npos) return std::string(text);
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                out += c;
        }
    }
    return out;
}

void appendJsonString(std::string& out, std::string_view s) {
    out += '"';
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            static const char hex[] = "0123456789abcdef";
            out += "\\u00";
            out += hex[u >> 4];
            out += hex[u & 15];
        } else {
            out += c;
        }
    }
    out += '"';
}

Listing::Listing(std::ostream& out, Format format, std::vector<std::string> columns)
    : out_(out), format_(format), columns_(std::move(columns)) {
    if (format_ == Format::Json) {
        out_ << '[';
        return;
    }
    if (format_ == Format::Jsonl) return;
    std::string header;
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        if (i) header += '\t';
        header += columns_[i];
    }
    out_ << header << '\n';
}

void Listing::format(const std::vector<Cell>& cells, std::string& chunk) const {
    if (format_ == Format::Tsv) {
        for (std::size_t i = 0; i < cells.size(); ++i) {
            if (i) chunk += '\t';
            chunk += cells[i].kind == Cell::Kind::Text ? tsvField(cells[i].value) : cells[i].value;
        }
        chunk += '\n';
        return;
    }
    // A JSON array's objects are separated inside a chunk here and between chunks by print.
    if (format_ == Format::Json && !chunk.empty()) chunk += ",\n";
    chunk += '{';
    for (std::size_t i = 0; i < cells.size() && i < columns_.size(); ++i) {
        if (i) chunk += ',';
        appendJsonString(chunk, columns_[i]);
        chunk += ':';
        switch (cells[i].kind) {
            case Cell::Kind::Text:
                appendJsonString(chunk, cells[i].value);
                break;
            case Cell::Kind::Number:
                chunk += cells[i].value;
                break;
            case Cell::Kind::Null:
                chunk += "null";
                break;
        }
    }
    chunk += '}';
    if (format_ == Format::Jsonl) chunk += '\n';
}

void Listing::print(const std::string& chunk) {
    if (chunk.empty()) return;
    if (format_ == Format::Json) out_ << (printedAny_ ? ",\n" : "\n");
    out_ << chunk;
    printedAny_ = true;
}

void Listing::row(const std::vector<Cell>& cells) {
    format(cells, pending_);
    if (pending_.size() < (std::size_t{1} << 20)) return;
    print(pending_);
    pending_.clear();
}

bool Listing::finish() {
    print(pending_);
    pending_.clear();
    if (format_ == Format::Json) out_ << (printedAny_ ? "\n]\n" : "]\n");
    out_.flush();
    return static_cast<bool>(out_);
}

}  // namespace kerbilo
