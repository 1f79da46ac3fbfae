#include <gtest/gtest.h>
#include <iconv.h>

#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "names_of_any_bytes.h"
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

std::string utf8Of(char32_t c) {
    std::string s;
    if (c < 0x80) {
        s += static_cast<char>(c);
    } else if (c < 0x800) {
        s += static_cast<char>(0xC0 | (c >> 6));
        s += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        s += static_cast<char>(0xE0 | (c >> 12));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        s += static_cast<char>(0xF0 | (c >> 18));
        s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (c & 0x3F));
    }
    return s;
}

// The C library's own conversion, without any escaping; nothing when it refuses the input.
class PlainIconv {
  public:
    PlainIconv(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~PlainIconv() { iconv_close(cd_); }
    std::optional<std::string> operator()(std::string in) {
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        std::string out(in.size() * 4 + 16, '\0');
        char* src = in.data();
        std::size_t srcLeft = in.size();
        char* dst = out.data();
        std::size_t dstLeft = out.size();
        if (iconv(cd_, &src, &srcLeft, &dst, &dstLeft) == static_cast<std::size_t>(-1))
            return std::nullopt;
        out.resize(out.size() - dstLeft);
        return out;
    }

  private:
    iconv_t cd_;
};

// File names as the file system may hand them over: any bytes but '/' and NUL; beyond
// the names the other tests use, byte strings no encoder would make.
std::vector<std::string> fileSystemNames() {
    std::vector<std::string> names = kerbilo::testing::namesOfAnyBytes();
    for (const char* odd : {
             "\xC0\x80 \xED\xA0\x80 \xF4\x90\x80\x80",  // overlong NUL, surrogate, beyond U+10FFFF
             "cut \xE8\xB5",                            // a character cut short
             "\xE3\x32\xA7\x34",                        // the bytes of an escape, as a raw name
         })
        names.push_back(odd);
    names.push_back(std::string(85, '\xFF'));
    return names;
}

TEST(Gbk, EveryByteStringRoundTrips) {
    for (const std::string& name : fileSystemNames()) {
        EXPECT_EQ(gbkToUtf8(utf8ToGbk(name)), name) << ::testing::PrintToString(name);
    }
    for (int a = 1; a < 256; ++a) {
        for (int b = 1; b < 256; ++b) {
            const std::string s{static_cast<char>(a), static_cast<char>(b)};
            ASSERT_EQ(gbkToUtf8(utf8ToGbk(s)), s) << ::testing::PrintToString(s);
        }
    }
    std::mt19937 rng(20240);
    std::uniform_int_distribution<int> byte(1, 255), length(1, 12);
    for (int n = 0; n < 20000; ++n) {
        std::string s(static_cast<std::size_t>(length(rng)), ' ');
        for (char& c : s) c = static_cast<char>(byte(rng));
        ASSERT_EQ(gbkToUtf8(utf8ToGbk(s)), s) << ::testing::PrintToString(s);
    }
}

// A GBK text that came from well-formed UTF-8 is the one plain GB18030 gives, so texts shown
// and compared elsewhere do not change; a character the C library cannot encode still comes
// back whole.
TEST(Gbk, WellFormedUtf8ConvertsAsPlainGb18030) {
    PlainIconv toGb18030("GB18030", "UTF-8");
    std::string encodable, refused;
    for (char32_t c = 1; c <= 0x10FFFF; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF) continue;
        const std::string u = utf8Of(c);
        (toGb18030(u) ? encodable : refused) += u;
    }
    EXPECT_EQ(utf8ToGbk(encodable), toGb18030(encodable));
    EXPECT_EQ(gbkToUtf8(utf8ToGbk(encodable)), encodable);
    EXPECT_EQ(gbkToUtf8(utf8ToGbk(refused)), refused);
    EXPECT_LT(refused.size(), 200u)
        << "the C library refuses more than a few private-use code points";
}

TEST(Gbk, EscapesLieBeyondUnicode) {
    PlainIconv fromGb18030("UTF-8", "GB18030");
    std::set<std::string> seen;
    for (int b = 0x80; b <= 0xFF; ++b) {
        const std::string raw(1, static_cast<char>(b));
        const std::string esc = utf8ToGbk(raw);
        ASSERT_EQ(esc.size(), 4u) << b;
        const auto* p = reinterpret_cast<const unsigned char*>(esc.data());
        // A well-formed four-byte code whose number lies past U+10FFFF (E3 32 9A 35).
        EXPECT_TRUE(p[0] >= 0x81 && p[0] <= 0xFE && p[1] >= 0x30 && p[1] <= 0x39 && p[2] >= 0x81 &&
                    p[2] <= 0xFE && p[3] >= 0x30 && p[3] <= 0x39)
            << b;
        EXPECT_GT(esc, "\xE3\x32\x9A\x35") << b;
        EXPECT_FALSE(fromGb18030(esc)) << "the escape is a character: " << b;
        EXPECT_EQ(gbkToUtf8(esc), raw);
        EXPECT_TRUE(seen.insert(esc).second) << b;
    }
    EXPECT_EQ(utf8ToGbk("\x80"), "\xE3\x32\xA7\x34");
    EXPECT_EQ(utf8ToGbk("\xFF"), "\xE3\x32\xB4\x31");
}

// Texts from a settings file need not be valid GBK; what cannot be decoded is kept as it is
// and the rest still converts.
TEST(Gbk, UndecodableGbkPassesThrough) {
    const struct {
        std::string gbk, utf8;
    } cases[] = {
        {"\x80", "\x80"},
        {"a\xFF", "a\xFF"},
        {"\xD7\xCA\xFF", "资\xFF"},
        {"\xD7\xCA\x81", "资\x81"},                // a lead byte at the end
        {"\x81\x30\xD7\xCA", "\x81\x30资"},        // a four-byte code cut short
        {"\xE3\x32\x9A\x36", "\xE3\x32\x9A\x36"},  // beyond Unicode, but no escape
        {"\xCE\xC4\xE3\x32\xA7\x34", "文\x80"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(gbkToUtf8(c.gbk), c.utf8) << ::testing::PrintToString(c.gbk);
    }
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
    for (const auto& c : cases) {
        EXPECT_EQ(iniLookup(ini, c.section, c.key), c.want) << c.key;
        EXPECT_EQ(IniSection(ini, c.section).lookup(c.key), c.want) << c.key;
    }
}

// A section split once answers every lookup and lists every key as the reading of the
// whole text does, on texts of sections, keys, quotes, blanks and line ends thrown together.
TEST(Ini, SectionSplitOnceAnswersAsTheText) {
    const std::string pieces[] = {"[a]", "[A]",  "[b]", " [ a ] ", "k",        "K",
                                  "k2",  "=",    "\"",  "'",       " ",        "\t",
                                  "v",   "\r\n", "\n",  "\r",      "\x81\x41", "\x81\x61"};
    const std::string keys[] = {"k", "K", "k2", "", "\x81\x41", "\x81\x61", "v", "x"};
    std::mt19937 rng(31);
    for (int n = 0; n < 3000; ++n) {
        std::string ini;
        for (int i = static_cast<int>(rng() % 40); i > 0; --i) ini += pieces[rng() % 18];
        for (const char* section : {"a", "b", "c"}) {
            const IniSection once(ini, section);
            ASSERT_EQ(once.keys(), iniKeys(ini, section)) << ::testing::PrintToString(ini);
            for (const std::string& key : keys)
                ASSERT_EQ(once.lookup(key), iniLookup(ini, section, key))
                    << ::testing::PrintToString(ini) << " " << section << " " << key;
        }
    }
}

// Only ASCII letters fold. The second byte of a double-byte character (81 41, 81 61) may be
// a letter's byte, but it is part of another character: 81 41 and 81 61 are two names.
TEST(Ini, NamesFoldAsciiLettersOnly) {
    struct Case {
        const char* name;
        std::string stored;  // the section and key names in the file
        std::string asked;   // the names looked up and assigned
        bool same;
    } cases[] = {
        {"ascii letters", "Output", "oUTPUT", true},
        {"second byte A/a", "\x81\x41", "\x81\x61", false},
        {"second byte Z/z", "\xB0\x5A", "\xB0\x7A", false},
        {"letter after a character",
         "\xD7\xCA"
         "A",
         "\xD7\xCA"
         "a",
         true},
        {"four-byte code then letter",
         "\x81\x30\x81\x30"
         "B",
         "\x81\x30\x81\x30"
         "b",
         true},
        {"same character", "\x81\x41", "\x81\x41", true},
        {"lone lead byte at the end", "x\x81", "X\x81", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string ini = "[" + c.stored + "]\r\n" + c.stored + "=old\r\n";
        EXPECT_EQ(iniLookup(ini, c.asked, c.stored),
                  c.same ? std::optional<std::string>("old") : std::nullopt);
        EXPECT_EQ(iniLookup(ini, c.stored, c.asked),
                  c.same ? std::optional<std::string>("old") : std::nullopt);
        // Assigning to a different name adds an entry and leaves the stored one alone.
        const std::string assigned = iniAssign(ini, c.stored, c.asked, "new");
        EXPECT_EQ(assigned, c.same ? "[" + c.stored + "]\r\n" + c.asked + "=new\r\n"
                                   : ini + c.asked + "=new\r\n");
        EXPECT_EQ(iniLookup(assigned, c.stored, c.stored), c.same ? "new" : "old");
    }
}

// What is assigned is what is read back: blanks at either end and quotes around a value
// survive, because such a value is written inside quotes of its own.
TEST(Ini, ValuesReadBackAsAssigned) {
    struct Case {
        std::string value;
        std::string written;  // the entry line
    } cases[] = {
        {"plain", "k=plain"},           {"", "k="},
        {"out ", "k=\"out \""},         {" lead", "k=\" lead\""},
        {"\ttabs\t", "k=\"\ttabs\t\""}, {"\"q\"", "k=\"\"q\"\""},
        {"'q'", "k=\"'q'\""},           {"\"", "k=\""},
        {"in side", "k=in side"},       {"a=b", "k=a=b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        const std::string ini = iniAssign("[s]\r\nk=old\r\n", "s", "k", c.value);
        EXPECT_EQ(ini, "[s]\r\n" + c.written + "\r\n");
        EXPECT_EQ(iniLookup(ini, "s", "k"), c.value);
        EXPECT_EQ(iniLookup(iniAssign("", "s", "k", c.value), "s", "k"), c.value);
    }
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
