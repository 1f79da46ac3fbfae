#include <gtest/gtest.h>

#include "runtime/gbk.h"
#include "runtime/ini.h"

namespace kerbilo {
namespace {

TEST(Gbk, KnownBytesBothWays) {
    EXPECT_EQ(utf8ToGbk("资源种类数"), "\xD7\xCA\xD4\xB4\xD6\xD6\xC0\xE0\xCA\xFD");
    EXPECT_EQ(utf8ToGbk("格式资源"), "\xB8\xF1\xCA\xBD\xD7\xCA\xD4\xB4");
    EXPECT_EQ(gbkToUtf8("\xCE\xC4\xBC\xFE"), "文件");
    EXPECT_EQ(utf8ToGbk("plain/ascii"), "plain/ascii");
    EXPECT_EQ(utf8ToGbk(""), "");
}

TEST(Gbk, NamesOutsideGbkRoundTrip) {
    for (const char* name : {"emoji-😀.png", "한국어", "Ελληνικά", "mixed 资源 ü"}) {
        EXPECT_EQ(gbkToUtf8(utf8ToGbk(name)), name);
    }
}

TEST(Gbk, InvalidBytesPassThrough) {
    // A Linux file name need not be valid UTF-8; it must still name the same file.
    const std::string odd =
        "a\xFF"
        "b";
    EXPECT_EQ(gbkToUtf8(utf8ToGbk(odd)), odd);
}

const std::string kIni =
    "; comment\r\n"
    "[Config]\r\n"
    "  资源种类数  =  3  \r\n"
    "PNG尾补齐=\r\n"
    "Quoted=\"a b\"\r\n"
    "Single='x'\r\n"
    "Half=\"open\r\n"
    "Eq=a=b\r\n"
    "dup=first\r\n"
    "DUP=second\r\n"
    "[other]\r\n"
    "k=other\r\n"
    "[CONFIG]\r\n"
    "late=never\r\n";

TEST(Ini, LookupRules) {
    const std::string ini = utf8ToGbk(kIni);
    struct Case {
        std::string section, key;
        std::optional<std::string> want;
    } cases[] = {
        {"config", utf8ToGbk("资源种类数"), "3"},
        {"Config", utf8ToGbk("PNG尾补齐"), ""},
        {"config", "quoted", "a b"},
        {"config", "single", "x"},
        {"config", "half", "\"open"},
        {"config", "eq", "a=b"},
        {"config", "dup", "first"},
        {"config", "late", std::nullopt},  // only the first section of a name counts
        {"OTHER", "K", "other"},
        {"config", "missing", std::nullopt},
        {"nosuch", "k", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(iniLookup(ini, c.section, c.key), c.want) << c.key;
}

TEST(Ini, LfOnlyLinesAndLongValues) {
    EXPECT_EQ(iniLookup("[a]\nk=v\n", "a", "k"), "v");
    const std::string longValue(20000, 'x');
    const auto got = iniLookup("[a]\r\nk=" + longValue, "a", "k");
    ASSERT_TRUE(got);
    EXPECT_EQ(got->size(), kIniValueLimit);
}

TEST(Ini, AssignKeepsOtherLinesByteForByte) {
    const std::string before = "; top\r\n[Config]\r\nA = 1 \r\nB=2\r\n\r\n[Next]\nC=3\n";
    EXPECT_EQ(iniAssign(before, "config", "b", "two"),
              "; top\r\n[Config]\r\nA = 1 \r\nb=two\r\n\r\n[Next]\nC=3\n");
    EXPECT_EQ(iniAssign(before, "Config", "New", "x"),
              "; top\r\n[Config]\r\nA = 1 \r\nB=2\r\nNew=x\r\n\r\n[Next]\nC=3\n");
    EXPECT_EQ(iniAssign(before, "Fresh", "k", "v"), before + "[Fresh]\r\nk=v\r\n");
    EXPECT_EQ(iniAssign("", "Config", "k", "v"), "[Config]\r\nk=v\r\n");
    EXPECT_EQ(iniAssign("[Config]", "Config", "k", "v"), "[Config]\r\nk=v\r\n");
    EXPECT_EQ(iniAssign("x=1", "S", "k", "v"), "x=1\r\n[S]\r\nk=v\r\n");
}

}  // namespace
}  // namespace kerbilo
