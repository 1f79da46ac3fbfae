#pragma once
// The kind names and the format of list's and inspect's listings.

#include <optional>
#include <string>

#include "runtime/text_records.h"
#include "scan/catalogue.h"

namespace kerbilo::cli {

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
