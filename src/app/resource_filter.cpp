#include "app/resource_filter.h"

#include <cctype>
#include <cstdio>
#include <limits>
#include <optional>

#include "app/resource_table.h"
#include "runtime/byte_ops.h"

namespace kerbilo {

namespace {

// "4096", "100k", "2M", "1g": a size in bytes; nothing for anything else.
std::optional<std::int64_t> sizeOf(std::string_view t) {
    if (t.empty()) return std::nullopt;
    std::int64_t unit = 1;
    switch (t.back()) {
        case 'K':
            unit = std::int64_t{1} << 10;
            break;
        case 'M':
            unit = std::int64_t{1} << 20;
            break;
        case 'G':
            unit = std::int64_t{1} << 30;
            break;
        default:
            break;
    }
    if (unit != 1) t.remove_suffix(1);
    if (t.empty() || t.size() > 15) return std::nullopt;
    std::int64_t v = 0;
    for (const char c : t) {
        if (c < '0' || c > '9') return std::nullopt;
        v = v * 10 + (c - '0');
    }
    return v * unit;
}

bool contains(const Text& haystack, const Text& upperNeedle) {
    return findText(upperText(haystack), upperNeedle) >= 0;
}

Text hexOffset(std::int64_t v) {
    char text[24];
    std::snprintf(text, sizeof text, "%llX", static_cast<unsigned long long>(v));
    return text;
}

}  // namespace

ResourceFilter ResourceFilter::parse(const Text& gbk) {
    ResourceFilter f;
    std::size_t at = 0;
    while (at < gbk.size()) {
        const std::size_t end = gbk.find(' ', at);
        Text token = upperText(gbk.substr(at, end == Text::npos ? Text::npos : end - at));
        at = end == Text::npos ? gbk.size() : end + 1;
        if (token.empty()) continue;
        Word w;
        const std::string_view t = token;
        const std::size_t dash = t.find('-');
        if (t.rfind(">=", 0) == 0 || t.rfind("<=", 0) == 0) {
            if (const auto v = sizeOf(t.substr(2))) (t[0] == '>' ? w.least : w.most) = *v;
        } else if (t.front() == '>' || t.front() == '<') {
            if (const auto v = sizeOf(t.substr(1)))
                t[0] == '>' ? (w.least = *v + 1) : (w.most = *v - 1);
        } else if (dash != std::string_view::npos && dash > 0) {
            const auto low = sizeOf(t.substr(0, dash)), high = sizeOf(t.substr(dash + 1));
            if (low && high) {
                w.least = *low;
                w.most = *high;
            }
        } else if (t.rfind("VERDICT:", 0) == 0) {
            // The listing's own words, as kerbilo-cli --verdict takes them.
            std::string names(t.substr(8));
            for (char& c : names)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            w.verdicts = VerdictSet::parse(names);
            if (!w.verdicts) w.verdicts = VerdictSet{};  // no name known: nothing fits
            f.words_.push_back(std::move(w));
            continue;
        } else if (t.size() > 2 && t.rfind("0X", 0) == 0) {
            w.offset = true;
            token = token.substr(2);
        }
        if (w.least < 0 && w.most < 0) w.text = token;
        f.words_.push_back(std::move(w));
    }
    return f;
}

bool ResourceFilter::wantsFacts() const {
    for (const Word& w : words_)
        if ((!w.text.empty() && !w.offset) || w.verdicts) return true;
    return false;
}

bool ResourceFilter::matches(const Document& doc, int n, const Inspection* facts) const {
    const ResourceCatalogue& catalogue = doc.catalogue;
    for (const Word& w : words_) {
        if (w.verdicts) {
            if (!facts || !w.verdicts->has(facts->verdict)) return false;
            continue;
        }
        if (w.least >= 0 || w.most >= 0) {
            const std::int64_t size = catalogue.dataLength(n);
            if ((w.least >= 0 && size < w.least) || (w.most >= 0 && size > w.most)) return false;
            continue;
        }
        const Text offset = hexOffset(catalogue.slot(n).offset);
        if (w.offset) {
            // Leading zeros do not matter: 0x00FF is FF.
            Text digits = w.text;
            digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
            if (offset != (digits.empty() ? "0" : digits)) return false;
            continue;
        }
        bool found = contains(catalogue.kindNameOf(n), w.text) || contains(offset, w.text);
        if (const ResourceOrigin* origin = catalogue.origin(n); !found && origin)
            found = contains(origin->source, w.text);
        if (!found && facts)
            found = contains(tableCell(doc, n, TableColumn::Format, facts), w.text) ||
                    contains(tableCell(doc, n, TableColumn::Verdict, facts), w.text) ||
                    contains(verdictName(facts->verdict), w.text);
        if (!found) return false;
    }
    return true;
}

}  // namespace kerbilo
