#include "runtime/ini.h"

#include <vector>

namespace kerbilo {
namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

char foldAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c;
}

// ASCII letters match either case. A byte from 0x80 on starts a double-byte character
// whose second byte may be an ASCII letter's (81 41): both bytes must match as they are,
// or two different characters would be taken for one.
bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (static_cast<unsigned char>(a[i]) >= 0x80) {
            if (a[i] != b[i]) return false;
            if (++i < a.size() && a[i] != b[i]) return false;
            continue;
        }
        if (foldAscii(a[i]) != foldAscii(b[i])) return false;
    }
    return true;
}

struct Line {
    std::size_t begin;  // offset of the first byte
    std::size_t end;    // offset after the text, before CR LF / LF
    std::size_t next;   // offset of the next line
    std::string_view text;
};

std::vector<Line> splitLines(std::string_view c) {
    std::vector<Line> lines;
    std::size_t pos = 0;
    while (pos < c.size()) {
        std::size_t lf = c.find('\n', pos);
        const std::size_t next = lf == std::string_view::npos ? c.size() : lf + 1;
        std::size_t end = lf == std::string_view::npos ? c.size() : lf;
        if (end > pos && c[end - 1] == '\r') --end;
        lines.push_back({pos, end, next, c.substr(pos, end - pos)});
        pos = next;
    }
    return lines;
}

// Name of a section line, or nothing for other lines.
std::optional<std::string_view> sectionName(std::string_view line) {
    const std::string_view t = trimBlanks(line);
    if (t.size() < 2 || t.front() != '[') return std::nullopt;
    const std::size_t close = t.find(']');
    if (close == std::string_view::npos) return std::nullopt;
    return trimBlanks(t.substr(1, close - 1));
}

std::optional<std::string_view> entryKey(std::string_view line) {
    const std::size_t eq = line.find('=');
    if (eq == std::string_view::npos) return std::nullopt;
    return trimBlanks(line.substr(0, eq));
}

// Index range [first, last) of the lines inside the first matching section.
std::optional<std::pair<std::size_t, std::size_t>> findSection(const std::vector<Line>& lines,
                                                               std::string_view section) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        auto name = sectionName(lines[i].text);
        if (!name || !equalsNoCase(*name, section)) continue;
        std::size_t j = i + 1;
        while (j < lines.size() && !sectionName(lines[j].text)) ++j;
        return std::make_pair(i + 1, j);
    }
    return std::nullopt;
}

}  // namespace

std::string_view skipLeadingBlanks(std::string_view s) {
    while (!s.empty() && static_cast<unsigned char>(s.front()) <= 0x20) s.remove_prefix(1);
    return s;
}

namespace {

// An entry line's value as a lookup gives it: trimmed, unquoted, cut.
Text entryValue(std::string_view line) {
    std::string_view v = trimBlanks(line.substr(line.find('=') + 1));
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    if (v.size() > kIniValueLimit) v = v.substr(0, kIniValueLimit);
    return Text(v);
}

}  // namespace

std::optional<Text> iniLookup(std::string_view content, std::string_view section,
                              std::string_view key) {
    const auto lines = splitLines(content);
    const auto range = findSection(lines, section);
    if (!range) return std::nullopt;
    for (std::size_t i = range->first; i < range->second; ++i) {
        auto k = entryKey(lines[i].text);
        if (!k || !equalsNoCase(*k, key)) continue;
        return entryValue(lines[i].text);
    }
    return std::nullopt;
}

IniSection::IniSection(std::string_view content, std::string_view section) {
    const auto lines = splitLines(content);
    const auto range = findSection(lines, section);
    if (!range) return;
    found_ = true;
    for (std::size_t i = range->first; i < range->second; ++i)
        if (auto k = entryKey(lines[i].text)) entries_.push_back({*k, lines[i].text});
}

std::optional<Text> IniSection::lookup(std::string_view key) const {
    if (!found_) return std::nullopt;
    for (const Entry& e : entries_)
        if (equalsNoCase(e.key, key)) return entryValue(e.line);
    return std::nullopt;
}

std::vector<std::string_view> IniSection::keys() const {
    std::vector<std::string_view> keys;
    for (const Entry& e : entries_) keys.push_back(e.key);
    return keys;
}

bool hasLineBreak(std::string_view s) {
    return s.find_first_of("\r\n") != std::string_view::npos;
}

std::string iniValueText(std::string_view value) {
    const bool blankEnd = !value.empty() && (isBlank(value.front()) || isBlank(value.back()));
    const bool quoted = value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                        value.back() == value.front();
    if (!blankEnd && !quoted) return std::string(value);
    return "\"" + std::string(value) + "\"";
}

std::string iniAssign(std::string_view content, std::string_view section, std::string_view key,
                      std::string_view value) {
    const auto lines = splitLines(content);
    const std::string entry = std::string(key) + "=" + iniValueText(value);
    std::string out;
    out.reserve(content.size() + entry.size() + section.size() + 8);
    const auto range = findSection(lines, section);
    if (!range) {
        out.append(content);
        if (!out.empty() && out.back() != '\n') out.append("\r\n");
        out.append("[").append(section).append("]\r\n").append(entry).append("\r\n");
        return out;
    }
    for (std::size_t i = range->first; i < range->second; ++i) {
        auto k = entryKey(lines[i].text);
        if (!k || !equalsNoCase(*k, key)) continue;
        out.append(content.substr(0, lines[i].begin));
        out.append(entry);
        out.append(content.substr(lines[i].end));
        return out;
    }
    // New entry goes after the section's last non-blank line.
    std::size_t after = range->first - 1;  // the section line itself
    for (std::size_t i = range->first; i < range->second; ++i)
        if (!trimBlanks(lines[i].text).empty()) after = i;
    const Line& anchor = lines[after];
    out.append(content.substr(0, anchor.next));
    if (anchor.next == anchor.end)
        out.append("\r\n");  // anchor had no line end
    else if (content[anchor.next - 1] != '\n')
        out.append("\n");  // a last line ending in a lone CR would swallow the entry
    out.append(entry).append("\r\n");
    out.append(content.substr(anchor.next));
    return out;
}

std::vector<std::string_view> iniKeys(std::string_view content, std::string_view section) {
    std::vector<std::string_view> keys;
    const auto lines = splitLines(content);
    const auto range = findSection(lines, section);
    if (!range) return keys;
    for (std::size_t i = range->first; i < range->second; ++i)
        if (auto k = entryKey(lines[i].text)) keys.push_back(*k);
    return keys;
}

}  // namespace kerbilo
