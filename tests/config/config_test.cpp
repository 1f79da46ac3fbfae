#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>

#include "config/config_files.h"
#include "config/hex_codec.h"
#include "config/texts.h"
#include "memory_files.h"
#include "printers.h"
#include "runtime/gbk.h"
#include "step_counter.h"

namespace kerbilo {
namespace {

using testing::MemoryFileServices;

ByteBuffer H(std::initializer_list<std::uint8_t> b) {
    return ByteBuffer(b);
}

TEST(Hex, DecodesByPositionWithoutValidation) {
    struct Case {
        std::string text;
        ByteBuffer want;
    } cases[] = {
        {"89504E470D0A1A0A0000000D",
         H({0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 0x0D})},
        {"FFD8FFE", H({0xFF, 0xD8, 0xFF, 0x0E})},  // a lone last digit is its own value
        {"ffd9", H({0xFF, 0xD9})},
        {"fFd9", H({0xFF, 0xD9})},
        {"", ByteBuffer()},
        {"89 50", H({0x89, 0xE5, 0x00})},  // blank counts −2: −2×16+5 = −27 → E5
        {"G1", H({0xE1})},
        {"1", H({0x01})},
        {"A", H({0x0A})},
        {"GG", H({0xDE})},  // −34
        {"\xB0"
         "a",
         H({0xDE})},  // 'a' behind a high byte is not upper-cased
        {"\xB0"
         "A",
         H({0xEA})},  // −2×16 + 10 = −22
    };
    NoProgress none;
    for (const auto& c : cases) EXPECT_EQ(decodeHexText(c.text, none), c.want) << c.text;
}

TEST(Hex, YieldsOncePerProducedByte) {
    testing::StepCounter progress;
    decodeHexText("FFD8FFE", progress);
    EXPECT_EQ(progress.steps, 4);
}

TEST(Hex, DigitGroupValues) {
    EXPECT_EQ(hexDigitsValue("FF"), 255);
    EXPECT_EQ(hexDigitsValue("  "), -34);
    EXPECT_EQ(hexDigitsValue("e"), 14);
    EXPECT_EQ(hexDigitsValue("aB"), 171);
    EXPECT_EQ(hexDigitsValue("0G"), -2);
    // A letter that is the second byte of a double-byte character is no digit; one that
    // follows a whole character is.
    EXPECT_EQ(hexDigitsValue("\x81\x61"), -34);  // 0x61 is 'a'
    EXPECT_EQ(hexDigitsValue("\x81\x81\x61"), -34 * 16 + 10);
    EXPECT_EQ(hexDigitsValue("a\x81"), 158);
}

TEST(Hex, FormatHex) {
    const std::pair<std::int64_t, const char*> cases[] = {
        {0, "0"},       {16, "10"}, {255, "FF"},
        {4097, "1001"}, {-1, ""},   {0x7FFFFFFFFFFFFFFF, "7FFFFFFFFFFFFFFF"}};
    for (auto [v, want] : cases) EXPECT_EQ(formatHex(v), want) << v;
}

TEST(Texts, KnownGbkBytes) {
    EXPECT_EQ(config_text::kindCountKey(), "\xD7\xCA\xD4\xB4\xD6\xD6\xC0\xE0\xCA\xFD");
    EXPECT_EQ(config_text::suffixField(), "\xCE\xC4\xBC\xFE\xBA\xF3\xD7\xBA");
    EXPECT_EQ(config_text::outputFolderKey(), "\xCA\xE4\xB3\xF6\xCE\xC4\xBC\xFE\xBC\xD0");
}

std::string sha256(const ByteBuffer& data) {
    // Hash through the system tool so the test does not depend on a crypto library.
    char tmpl[] = "/tmp/kerbilo-sha-XXXXXX";
    const int fd = mkstemp(tmpl);
    if (fd < 0) return {};
    FILE* f = fdopen(fd, "wb");
    fwrite(data.data(), 1, data.size(), f);
    fclose(f);
    std::string cmd = std::string("sha256sum ") + tmpl;
    std::array<char, 128> buf{};
    FILE* p = popen(cmd.c_str(), "r");
    std::string out;
    if (p && fgets(buf.data(), buf.size(), p)) out = std::string(buf.data()).substr(0, 64);
    if (p) pclose(p);
    std::remove(tmpl);
    return out;
}

TEST(KindsFile, FirstStartWritesTheExactDefault) {
    MemoryFileServices files("/prog");
    ensureKindsFile(files);
    const ByteBuffer& written = files.files.at("/prog/resource.config");
    EXPECT_EQ(written.size(), 313u);
    EXPECT_EQ(sha256(written), "3181bf9492601ae2bee61267c03a789607b4418bf8053048d2f561d7c5ba17bc");
    EXPECT_EQ(files.writes, 1);
    EXPECT_FALSE(files.pathExists("/prog/Resource.ini"));
    EXPECT_EQ(readOutputFolder(files), "/prog");

    EXPECT_EQ(KindsFile::read(files).count(), 3);
    EXPECT_EQ(KindsFile::read(files).name(2), "JPG");
    EXPECT_EQ(KindsFile::read(files).field("JPG", KindField::Head), "FFD8FFE");
    EXPECT_EQ(KindsFile::read(files).suffix("GIF"), "png");
    EXPECT_EQ(KindsFile::read(files).field("PNG", KindField::HeadFill), "89");
    EXPECT_EQ(KindsFile::read(files).field("PNG", KindField::TailFill, "dflt"), "");
}

TEST(KindsFile, AnythingExistingIsLeftUntouched) {
    MemoryFileServices files("/prog");
    files.files["/prog/resource.config"] = ByteBuffer();
    ensureKindsFile(files);
    EXPECT_TRUE(files.files.at("/prog/resource.config").empty());
    EXPECT_EQ(KindsFile::read(files).count(), 0);

    MemoryFileServices withDir("/prog");
    withDir.directories.insert("/prog/resource.config");
    ensureKindsFile(withDir);
    EXPECT_EQ(withDir.writes, 0);
}

TEST(KindsFile, UnwritableProgramDirectoryMeansNoKinds) {
    MemoryFileServices files("/prog");
    files.unwritable.insert("/prog/resource.config");
    ensureKindsFile(files);
    EXPECT_EQ(KindsFile::read(files).count(), 0);
}

TEST(KindsFile, ReadingRules) {
    struct Case {
        std::string content;
        int count;
    } cases[] = {
        {"[CoNfIg]\r\n资源种类数=2\r\n", 2},
        {"[config]\r\n资源种类数=abc\r\n", 0},
        {"[config]\r\n资源种类数= 3\r\n", 3},
        {"[config]\r\n资源种类数=３\r\n", 3},  // full-width digit
        {"[other]\r\n资源种类数=3\r\n", 0},
        {"", 0},
    };
    for (const auto& c : cases) {
        MemoryFileServices files("/prog");
        files.files["/prog/resource.config"] = ByteBuffer::fromText(utf8ToGbk(c.content));
        EXPECT_EQ(KindsFile::read(files).count(), c.count) << c.content;
    }
}

TEST(KindsFile, KeysMatchWhateverTheCaseOfTheName) {
    MemoryFileServices files("/prog");
    files.files["/prog/resource.config"] = ByteBuffer::fromText(
        utf8ToGbk("[Config]\r\n1=png\r\nPNG_head=89\r\nPNG文件后缀=\r\n2=BMP\r\n"));
    EXPECT_EQ(KindsFile::read(files).field(KindsFile::read(files).name(1), KindField::Head), "89");
    EXPECT_EQ(KindsFile::read(files).suffix("png"), "");     // present but empty
    EXPECT_EQ(KindsFile::read(files).suffix("BMP"), "BMP");  // absent: the name
    EXPECT_EQ(KindsFile::read(files).name(3), "");
}

// Only a kind number written as the lookup writes it ("1", never "01") names a kind.
TEST(KindsFile, HighestNamedKindCountsOnlyNameKeys) {
    struct Case {
        std::string content;
        int highest;
    } cases[] = {
        {"[Config]\r\n1=A\r\n3=C\r\n2=B\r\n", 3},
        {"[Config]\r\n 7 =G\r\n", 7},
        {"[Config]\r\n01=A\r\n+2=B\r\n3x=C\r\n-4=D\r\n", 0},
        {"[Config]\r\n99999999999=A\r\n2147483647=B\r\n", 2147483647},
        {"[Other]\r\n5=A\r\n[Config]\r\n2=B\r\n[config]\r\n9=C\r\n", 2},
        {"", 0},
    };
    for (const auto& c : cases) {
        MemoryFileServices files("/prog");
        files.files["/prog/resource.config"] = ByteBuffer::fromText(c.content);
        EXPECT_EQ(KindsFile::read(files).highestNamed(), c.highest) << c.content;
    }
    MemoryFileServices none("/prog");
    EXPECT_EQ(KindsFile::read(none).highestNamed(), 0);
}

TEST(KindsFile, EndingByFormatOnlyWhenTheKeySaysFormat) {
    MemoryFileServices files("/prog");
    files.files["/prog/resource.config"] = ByteBuffer::fromText(
        utf8ToGbk("[Config]\r\nA结束方式=格式\r\nB结束方式=尾部\r\nc结束方式= 格式 \r\n"));
    EXPECT_TRUE(KindsFile::read(files).endsByFormat("A"));
    EXPECT_FALSE(KindsFile::read(files).endsByFormat("B"));
    EXPECT_TRUE(KindsFile::read(files).endsByFormat("C"));  // key case and blanks as ever
    EXPECT_FALSE(KindsFile::read(files).endsByFormat("D"));
}

TEST(KindsFile, EditsCountAtTheNextRead) {
    MemoryFileServices files("/prog");
    ensureKindsFile(files);
    EXPECT_EQ(KindsFile::read(files).suffix("PNG"), "png");
    files.files["/prog/resource.config"] =
        ByteBuffer::fromText(utf8ToGbk("[Config]\r\nPNG文件后缀=bin\r\n"));
    EXPECT_EQ(KindsFile::read(files).suffix("PNG"), "bin");
    files.files.erase("/prog/resource.config");
    EXPECT_EQ(KindsFile::read(files).count(), 0);
}

TEST(OutputFolder, DefaultsAndStoredValues) {
    MemoryFileServices files("/prog");
    EXPECT_EQ(readOutputFolder(files), "/prog");
    files.files["/prog/Resource.ini"] =
        ByteBuffer::fromText(utf8ToGbk("[Config]\r\n输出文件夹=\r\n"));
    EXPECT_EQ(readOutputFolder(files), "");
    const Text folder = utf8ToGbk("/导出");
    ASSERT_TRUE(writeOutputFolder(files, folder));
    EXPECT_EQ(readOutputFolder(files), folder);
    EXPECT_NE(files.content("/prog/Resource.ini").find(folder), Text::npos);
}

}  // namespace
}  // namespace kerbilo

namespace kerbilo::testing::window_settings_tests {

using kerbilo::testing::MemoryFileServices;

Text ini(const char* utf8) {
    return utf8ToGbk(utf8);
}

// The window's layout beside the output folder: read back as written, and anything that is
// not a size a window can take read as none stored.
TEST(WindowSettings, LayoutRoundTripsAndRejectsNonsense) {
    MemoryFileServices files("/prog");
    EXPECT_FALSE(readWindowLayout(files).has_value());
    EXPECT_FALSE(files.pathExists("/prog/Resource.ini")) << "reading creates nothing";
    ASSERT_TRUE(writeOutputFolder(files, "/out"));
    ASSERT_TRUE(writeWindowLayout(files, {900, 640, 180, true}));
    EXPECT_EQ(readWindowLayout(files), (WindowLayout{900, 640, 180, true}));
    EXPECT_EQ(readOutputFolder(files), "/out") << "the output folder stays";

    const struct {
        const char* width;
        const char* height;
        const char* tree;
        bool stored;
    } cases[] = {
        {"800", "600", "0", true},       {"99", "600", "100", false}, {"800", "-5", "100", false},
        {"８００", "600", "100", false}, {"800", "600", "", false},   {"40000", "600", "1", false},
        {"800x", "600", "100", false},
    };
    for (const auto& c : cases) {
        MemoryFileServices f("/prog");
        f.files["/prog/Resource.ini"] =
            ByteBuffer::fromText(ini((std::string("[Config]\r\n窗口宽度=") + c.width +
                                      "\r\n窗口高度=" + c.height + "\r\n树宽度=" + c.tree + "\r\n")
                                         .c_str()));
        EXPECT_EQ(readWindowLayout(f).has_value(), c.stored) << c.width << " " << c.height;
    }
}

TEST(WindowSettings, RecentFilesLatestFirstOnceAndAtMostTen) {
    std::vector<Text> list;
    for (int i = 0; i < 12; ++i) list = withRecentFile(list, "/f" + std::to_string(i));
    ASSERT_EQ(list.size(), 10u);
    EXPECT_EQ(list.front(), "/f11");
    EXPECT_EQ(list.back(), "/f2");
    list = withRecentFile(list, "/f5");
    EXPECT_EQ(list.front(), "/f5");
    EXPECT_EQ(std::count(list.begin(), list.end(), "/f5"), 1);
    EXPECT_EQ(list.size(), 10u);

    MemoryFileServices files("/prog");
    const Text chinese = ini("/数据/游戏.pak");
    ASSERT_TRUE(writeRecentFiles(files, {chinese, "/a b/c.exe"}));
    EXPECT_EQ(readRecentFiles(files), (std::vector<Text>{chinese, "/a b/c.exe"}));
    // A shorter list leaves no stale entries behind; a name with a line break is left out.
    ASSERT_TRUE(writeRecentFiles(files, {"/one", "/two\r\nlines"}));
    EXPECT_EQ(readRecentFiles(files), (std::vector<Text>{"/one"}));
}

}  // namespace kerbilo::testing::window_settings_tests

namespace kerbilo::testing::kinds_encoding_tests {

// The default kinds as GBK, as UTF-8 and as UTF-8 with a byte-order mark answer alike.
TEST(KindsEncoding, Utf8IsReadAsItsGbk) {
    const ByteBuffer gbk = defaultKindsFileContent();
    const std::string utf8 = gbkToUtf8(gbk.view());
    const struct {
        const char* name;
        ByteBuffer content;
        KindsEncoding encoding;
    } cases[] = {
        {"gbk", gbk, KindsEncoding::Gbk},
        {"utf-8", ByteBuffer::fromText(utf8), KindsEncoding::Utf8},
        {"utf-8 with a mark", ByteBuffer::fromText("\xEF\xBB\xBF" + utf8), KindsEncoding::Utf8},
    };
    for (const auto& c : cases) {
        const KindsFile kinds(c.content);
        EXPECT_EQ(kinds.encoding(), c.encoding) << c.name;
        EXPECT_EQ(kinds.count(), 3) << c.name;
        EXPECT_EQ(kinds.highestNamed(), 3) << c.name;
        EXPECT_EQ(kinds.name(2), "JPG") << c.name;
        EXPECT_EQ(kinds.field("PNG", KindField::HeadFill), "89") << c.name;
        EXPECT_EQ(kinds.suffix("GIF"), "png") << c.name;
    }
    // A Chinese kind name comes out as the GBK the program keeps inside.
    const KindsFile chinese(ByteBuffer::fromText("[Config]\r\n资源种类数=1\r\n1=图标\r\n"));
    EXPECT_EQ(chinese.encoding(), KindsEncoding::Utf8);
    EXPECT_EQ(chinese.name(1), utf8ToGbk("图标"));
    // GBK text is not taken for UTF-8, nor is plain ASCII converted.
    EXPECT_EQ(KindsFile(ByteBuffer::fromText(utf8ToGbk("[Config]\r\n1=图标\r\n"))).encoding(),
              KindsEncoding::Gbk);
    EXPECT_EQ(KindsFile(ByteBuffer::fromText("[Config]\r\n1=PNG\r\n")).encoding(),
              KindsEncoding::Gbk);
}

TEST(KindsEncoding, SuffixesThatLeaveTheFolderAreUnsafe) {
    const struct {
        std::string suffix;
        bool safe;
    } cases[] = {
        {"png", true},
        {"", true},
        {"tar.gz", true},
        {".", true},
        {"..", false},
        {"a/b", false},
        {"/etc", false},
        {"png/../../x", false},
        {"...", true},
        {"..png", true},
        {std::string("p\0g", 3), false},
    };
    for (const auto& c : cases) EXPECT_EQ(safeSuffix(c.suffix), c.safe) << c.suffix;
}

}  // namespace kerbilo::testing::kinds_encoding_tests
