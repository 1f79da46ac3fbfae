#include "cli/listing.h"

namespace kerbilo::cli {

std::string tsvField(const std::string& text) {
    if (text.find_first_of("\t\r\n\\") == std::string::npos) return text;
    std::string out;
    out.reserve(text.size() + 8);
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

void appendJsonString(std::string& out, const std::string& s) {
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
        buffer_ += '[';
        return;
    }
    for (std::size_t i = 0; i < columns_.size(); ++i) {
        if (i) buffer_ += '\t';
        buffer_ += columns_[i];
    }
    buffer_ += '\n';
}

void Listing::row(const std::vector<Cell>& cells) {
    if (format_ == Format::Json) {
        buffer_ += first_ ? "\n{" : ",\n{";
        for (std::size_t i = 0; i < cells.size() && i < columns_.size(); ++i) {
            if (i) buffer_ += ',';
            appendJsonString(buffer_, columns_[i]);
            buffer_ += ':';
            switch (cells[i].kind) {
                case Cell::Kind::Text:
                    appendJsonString(buffer_, cells[i].value);
                    break;
                case Cell::Kind::Number:
                    buffer_ += cells[i].value;
                    break;
                case Cell::Kind::Null:
                    buffer_ += "null";
                    break;
            }
        }
        buffer_ += '}';
    } else {
        for (std::size_t i = 0; i < cells.size(); ++i) {
            if (i) buffer_ += '\t';
            buffer_ +=
                cells[i].kind == Cell::Kind::Text ? tsvField(cells[i].value) : cells[i].value;
        }
        buffer_ += '\n';
    }
    first_ = false;
    flushIfLarge();
}

void Listing::flushIfLarge() {
    if (buffer_.size() < (std::size_t{1} << 20)) return;
    out_ << buffer_;
    buffer_.clear();
}

bool Listing::finish() {
    if (format_ == Format::Json) buffer_ += first_ ? "]\n" : "\n]\n";
    out_ << buffer_;
    buffer_.clear();
    out_.flush();
    return static_cast<bool>(out_);
}

}  // namespace kerbilo::cli
