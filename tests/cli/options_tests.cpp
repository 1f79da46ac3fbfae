// Every command's option table against what the command really does: each option it
// declares is parsed and explained in its --help, an option it does not declare is refused,
// and its --help names no option the command would refuse.

#include <regex>
#include <set>
#include <sstream>

#include "cli_fixture.h"

namespace kerbilo::cli {

// Failures name the command, not its bytes.
void PrintTo(const Command& command, std::ostream* os) {
    *os << command.doc->name;
}

}  // namespace kerbilo::cli

namespace kerbilo::testing {
namespace {

using cli::Command;
using cli::CommandDoc;
using cli::Option;

std::vector<const Option*> declared(const CommandDoc& doc) {
    std::vector<const Option*> options;
    for (const cli::OptionDoc& entry : doc.entries)
        for (const Option& option : entry.options) options.push_back(&option);
    return options;
}

std::vector<std::string> spellings(const Option& option) {
    std::vector<std::string> all{option.name};
    all.insert(all.end(), option.aliases.begin(), option.aliases.end());
    return all;
}

// The words of a text that look like options: "-x" or "--name" after a blank or a bracket.
std::set<std::string> optionWords(const std::string& text) {
    static const std::regex word(R"((?:^|[\s\[(|,])(--?[A-Za-z][A-Za-z-]*))");
    std::set<std::string> words;
    for (auto it = std::sregex_iterator(text.begin(), text.end(), word);
         it != std::sregex_iterator(); ++it)
        words.insert((*it)[1]);
    return words;
}

class CommandOptions : public CliFixture, public ::testing::WithParamInterface<Command> {
  protected:
    const CommandDoc& doc() const { return *GetParam().doc; }
    std::string name() const { return doc().name; }

    // The command's --help, as it prints it.
    std::string help() {
        EXPECT_EQ(run({name(), "--help"}), 0) << err;
        return out;
    }
};

TEST_P(CommandOptions, HelpIsTheTablesText) {
    EXPECT_EQ(help(), doc().usage());
    EXPECT_EQ(err, "");
}

// Each spelling of each option, with a value where it takes one, before --help: a parser
// that refused it would answer with a usage error instead of the help.
TEST_P(CommandOptions, EveryDeclaredOptionIsAccepted) {
    const std::string expected = doc().usage();
    for (const Option* option : declared(doc())) {
        for (const std::string& spelling : spellings(*option)) {
            std::vector<std::vector<std::string>> forms;
            if (!option->value) {
                forms.push_back({spelling});
            } else {
                forms.push_back({spelling, "1"});
                if (spelling.starts_with("--")) forms.push_back({spelling + "=1"});
            }
            for (std::vector<std::string> args : forms) {
                SCOPED_TRACE(args.front());
                args.insert(args.begin(), name());
                args.push_back("--help");
                EXPECT_EQ(run(args), 0) << err;
                EXPECT_EQ(out, expected);
            }
            // The command reads each option by its name, whichever spelling was given.
            std::vector<std::string> args{spelling, "1"};
            std::vector<char*> argv;
            for (std::string& a : args) argv.push_back(a.data());
            const cli::Args parsed = cli::parseArgs(option->value ? 2 : 1, argv.data(), doc());
            EXPECT_EQ(parsed.error, "") << spelling;
            EXPECT_TRUE(option->value ? parsed.value(option->name) == "1"
                                      : parsed.has(option->name))
                << spelling;
        }
    }
}

// The option column of --help holds every spelling of every option, and each text starts
// in the command's column, the lines that go on included.
TEST_P(CommandOptions, EveryDeclaredOptionIsExplained) {
    const std::string text = help();
    std::set<std::string> explained;
    const std::string indent(2 + doc().column, ' ');
    std::istringstream lines(text);
    bool inOptions = false;
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("  -")) {
            inOptions = true;
            SCOPED_TRACE(line);
            ASSERT_GT(line.size(), indent.size());
            EXPECT_EQ(line.substr(indent.size() - 2, 2), "  ");
            EXPECT_NE(line[indent.size()], ' ');
            for (const std::string& w : optionWords(line.substr(0, indent.size())))
                explained.insert(w);
        } else if (inOptions && !line.empty()) {
            SCOPED_TRACE(line);
            EXPECT_TRUE(line.starts_with(indent));
            EXPECT_NE(line[indent.size()], ' ');
        } else {
            inOptions = false;
        }
    }
    for (const Option* option : declared(doc()))
        for (const std::string& spelling : spellings(*option))
            EXPECT_TRUE(explained.count(spelling)) << spelling << " is not in\n" << text;
}

// Made-up options, and those of the other commands, get the usual usage error.
TEST_P(CommandOptions, UndeclaredOptionsAreRefused) {
    std::set<std::string> foreign{"--zoom", "-Z", "--HELP"};
    for (const Command& other : cli::commands())
        for (const Option* option : declared(*other.doc))
            for (const std::string& spelling : spellings(*option))
                if (!doc().find(spelling)) foreign.insert(spelling);
    const std::string usage = doc().usage();
    for (const std::string& option : foreign) {
        SCOPED_TRACE(option);
        EXPECT_EQ(run({name(), option}), 2);
        EXPECT_EQ(err, "kerbilo-cli: unknown option " + option + "\n\n" + usage);
        EXPECT_EQ(out, "");
        if (option.starts_with("--")) {
            EXPECT_EQ(run({name(), option + "=1", "--help"}), 2);
            EXPECT_EQ(err, "kerbilo-cli: unknown option " + option + "\n\n" + usage);
        }
    }
}

// Whatever the synopsis, description or help lines mention, the command takes.
TEST_P(CommandOptions, HelpMentionsOnlyOptionsTheCommandTakes) {
    for (const std::string& word : optionWords(doc().usage()))
        EXPECT_TRUE(doc().find(word)) << word;
}

INSTANTIATE_TEST_SUITE_P(Every, CommandOptions,
                         ::testing::ValuesIn(std::vector<Command>(cli::commands().begin(),
                                                                  cli::commands().end())),
                         [](const ::testing::TestParamInfo<Command>& info) {
                             std::string name = info.param.doc->name;
                             for (char& c : name)
                                 if (c == '-') c = '_';
                             return name;
                         });

// kerbilo-cli --help: a command's line names only options that command takes.
TEST(MainUsage, NamesOnlyOptionsOfTheCommandOnTheLine) {
    std::istringstream lines(cli::kMainUsage);
    std::string line;
    while (std::getline(lines, line) && line != "commands:") {
    }
    const CommandDoc* command = nullptr;
    int checked = 0;
    for (; std::getline(lines, line) && !line.empty();) {
        // A line that starts with a command's name begins its entry; indented lines go on.
        for (const Command& c : cli::commands())
            if (line.starts_with("  " + std::string(c.doc->name) + " ")) command = c.doc;
        ASSERT_NE(command, nullptr) << line;
        for (const std::string& word : optionWords(line)) {
            EXPECT_TRUE(command->find(word)) << command->name << ": " << word;
            ++checked;
        }
    }
    EXPECT_GT(checked, 10);
}

}  // namespace
}  // namespace kerbilo::testing
