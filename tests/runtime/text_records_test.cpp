#include <gtest/gtest.h>

#include <string>

#include "runtime/text_records.h"

namespace kerbilo {
namespace {

// A tab, CR, LF or backslash inside a field would split a row or be taken for an escape;
// each is written as its escape, and a backslash is doubled so the escapes read back.
TEST(TsvField, EscapesWhatWouldSplitARow) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain", "plain"},   {"", ""},
        {"a\tb", "a\\tb"},    {"a\rb", "a\\rb"},
        {"a\nb", "a\\nb"},    {"a\\b", "a\\\\b"},
        {"\\t", "\\\\t"},     {"\t\r\n\\", "\\t\\r\\n\\\\"},
        {"图片 x", "图片 x"}, {std::string("\0x", 2), std::string("\0x", 2)},
    };
    for (const auto& [field, written] : cases) EXPECT_EQ(tsvField(field), written) << field;
}

TEST(JsonString, EscapesQuotesBackslashesAndControlBytes) {
    std::string out;
    appendJsonString(out, "a\"b\\c\x01\n图");
    EXPECT_EQ(out, "\"a\\\"b\\\\c\\u0001\\u000a图\"");
}

}  // namespace
}  // namespace kerbilo
