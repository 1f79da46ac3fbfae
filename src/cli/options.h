#pragma once
// kerbilo-cli's options, declared once for each command in one table: the parser accepts
// what the table declares and --help prints it, so no option can be parsed without being
// explained, nor explained without being parsed.

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kerbilo::cli {

struct Option {
    const char* name;                       // the spelling a command asks Args for
    std::vector<const char*> aliases = {};  // other spellings that mean the same
    const char* value = nullptr;            // the value's name in --help; none for a switch

    bool spelledAs(std::string_view arg) const;
    // Every spelling, the short ones first, then the value's name: "-o, --output OUT.png".
    std::string label() const;
};

// One entry of --help: the options it explains (several when one text serves them all)
// and its lines.
struct OptionDoc {
    std::vector<Option> options;
    std::vector<const char*> helpLines;
};

struct CommandDoc {
    const char* name;         // as given after kerbilo-cli
    const char* synopsis;     // the "usage:" lines
    const char* description;  // the paragraphs before the options
    std::size_t column;       // the width of the option column, labels and padding
    std::vector<OptionDoc> entries;
    const char* footer;  // what follows the options: exit codes, notes

    // The option spelled `arg` (a name or an alias), or nullptr when the command has none.
    const Option* find(std::string_view arg) const;
    // The whole --help text.
    std::string usage() const;
};

extern const CommandDoc kListDoc;
extern const CommandDoc kInspectDoc;
extern const CommandDoc kExportDoc;
extern const CommandDoc kReplaceDoc;
extern const CommandDoc kSetOutputFolderDoc;
extern const CommandDoc kRenderDoc;

// kerbilo-cli --help: the commands and what they do.
extern const char* const kMainUsage;

}  // namespace kerbilo::cli
