#pragma once
// The filter box's words, as every view of what was found applies them: each word must
// fit the resource. A word is a size range (">100k", "<=4096", "1k-2m"), an offset ("0x1F3A0"
// or hex digits found in the offset), or a text found, whatever its case, in the kind's
// name, the format, the verdict (in Chinese or the listing's English word) or the source;
// "verdict:complete,trailing-bytes" keeps exactly those verdicts, as kerbilo-cli --verdict.

#include <cstdint>
#include <optional>
#include <vector>

#include "picture/inspect.h"
#include "scan/document.h"

namespace kerbilo {

class ResourceFilter {
  public:
    ResourceFilter() = default;
    // `gbk`: what the box holds.
    static ResourceFilter parse(const Text& gbk);

    bool empty() const { return words_.empty(); }
    // Whether a word can only be told with the resource inspected (a format, a verdict).
    bool wantsFacts() const;
    // Whether resource n fits every word; `facts` null while it is not inspected, and then
    // only what the catalogue tells is looked at.
    bool matches(const Document& doc, int n, const Inspection* facts) const;

  private:
    struct Word {
        Text text;                           // upper-cased
        std::int64_t least = -1, most = -1;  // a size range, when either is set
        bool offset = false;                 // "0x…": the offset alone
        std::optional<VerdictSet> verdicts;  // "verdict:…": one of these verdicts
    };
    std::vector<Word> words_;
};

}  // namespace kerbilo
