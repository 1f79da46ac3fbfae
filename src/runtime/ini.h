#pragma once
// INI rules on a file's bytes, independent of where the bytes come from: section and key
// names match with ASCII letters in either case (the two bytes of a double-byte character
// only as they are), the first section and the first key of a name win, LF-only lines are
// read like CR LF ones.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/byte_buffer.h"

namespace kerbilo {

inline constexpr std::size_t kIniValueLimit = 10239;

// Leading bytes up to 0x20 are not part of a name argument.
std::string_view skipLeadingBlanks(std::string_view s);

// The entry's value as it is to be returned (trimmed, unquoted, cut), or nothing when the
// section or the key is absent.
std::optional<Text> iniLookup(std::string_view content, std::string_view section,
                              std::string_view key);

// A CR or LF anywhere would end the line: no entry can hold such a name or value.
bool hasLineBreak(std::string_view s);

// The value as written after "=": in double quotes when the reading rules would change it
// otherwise (blanks at either end are trimmed, a pair of quotes around it is removed), so
// that iniLookup gives back exactly the value that was assigned.
std::string iniValueText(std::string_view value);

// The content with the entry set (its value as iniValueText writes it); every other line is
// kept byte for byte. The names and the value hold no line break (hasLineBreak).
std::string iniAssign(std::string_view content, std::string_view section, std::string_view key,
                      std::string_view value);

// The keys of the first section of that name, in file order, as the lookup sees them
// (surrounding blanks removed); lines without "=" are no keys.
std::vector<std::string_view> iniKeys(std::string_view content, std::string_view section);

// One section of a file's bytes split into its entries once, for many lookups by the rules
// of iniLookup: a kinds file is asked dozens of questions for every file scanned. Views
// into `content`, which must outlive it.
class IniSection {
  public:
    IniSection(std::string_view content, std::string_view section);
    // As iniLookup(content, section, key).
    std::optional<Text> lookup(std::string_view key) const;
    // As iniKeys(content, section).
    std::vector<std::string_view> keys() const;

  private:
    struct Entry {
        std::string_view key;
        std::string_view line;
    };
    bool found_ = false;
    std::vector<Entry> entries_;
};

}  // namespace kerbilo
