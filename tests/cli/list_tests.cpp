#include "cli_fixture.h"
#include "config/config_files.h"
#include "runtime/byte_ops.h"
#include "runtime/gbk.h"
#include "test_data.h"

namespace kerbilo::testing {
namespace {

class List : public CliFixture {
  protected:
    // Two PNGs at 5 and 5 + 30, one GIF at 4096 + 1.
    void SetUp() override {
        CliFixture::SetUp();
        const ByteBuffer gif{0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x01, 0x00, 0x3B};
        const std::string pad(5, 'x');
        ByteBuffer front =
            concatBytes({ByteBuffer::fromText(pad), pngResource(6, 'a'), pngResource(10, 'b')});
        write(
            "sample.bin",
            concatBytes({front, ByteBuffer::fromText(std::string(4097 - front.size(), 'y')), gif}));
    }
};

TEST_F(List, PlainOutputIsExact) {
    ASSERT_EQ(run({"list", path("sample.bin")}), 0) << err;
    EXPECT_EQ(out,
              "number\tkind\tlabel\toffset\tlength\n"
              "1\tPNG\t6\t5\t30\n"
              "2\tPNG\t24\t35\t34\n"
              "3\tGIF\t1002\t4097\t9\n");
    EXPECT_EQ(err, "");
    // The default kinds file is written beside the program when absent.
    EXPECT_EQ(read("resource.config"), defaultKindsFileContent());
}

// Every option's value may follow "=": both spellings give the same output.
TEST_F(List, ValuesAfterAnEqualsSignMeanTheSame) {
    write("kinds.ini", defaultKindsFileContent());
    ASSERT_EQ(
        run({"inspect", path("sample.bin"), "--ends", "format", "--config", path("kinds.ini")}), 0)
        << err;
    const std::string spaced = out;
    ASSERT_EQ(
        run({"inspect", path("sample.bin"), "--ends=format", "--config=" + path("kinds.ini")}), 0)
        << err;
    EXPECT_EQ(out, spaced);
    EXPECT_EQ(run({"list", path("sample.bin"), "--json=yes"}), 2);
    EXPECT_NE(err.find("--json takes no value"), std::string::npos) << err;
}

// A folder without -r is one message, whether it is the only argument or not.
TEST_F(List, AFolderIsSaidAlikeAloneOrAmongFiles) {
    const std::string said =
        "kerbilo-cli: " + dir_ + " is a folder; give -r to read the files in it\n";
    for (const std::string command : {"list", "inspect", "export"}) {
        SCOPED_TRACE(command);
        // export's folder, never the build folder the tests run in
        const std::string out = command == "export" ? "--out=" + path("o") : "--ends=tail";
        EXPECT_EQ(run({command, dir_, out}), 1);
        EXPECT_EQ(err, said);
        EXPECT_EQ(run({command, dir_, path("sample.bin"), out}), 1);
        EXPECT_EQ(err.substr(0, said.size()), said);
    }
}

TEST_F(List, JsonOutputIsExact) {
    ASSERT_EQ(run({"list", "--json", path("sample.bin")}), 0) << err;
    EXPECT_EQ(out,
              "[\n"
              "{\"number\":1,\"kind\":\"PNG\",\"label\":\"6\",\"offset\":5,\"length\":30},\n"
              "{\"number\":2,\"kind\":\"PNG\",\"label\":\"24\",\"offset\":35,\"length\":34},\n"
              "{\"number\":3,\"kind\":\"GIF\",\"label\":\"1002\",\"offset\":4097,\"length\":9}\n"
              "]\n");
}

TEST_F(List, ConfigOptionIsReadNotWrittenAndNamesAreUtf8) {
    write("kinds.ini", utf8ToGbk("[Config]\r\n资源种类数=1\r\n1=图片\r\n图片_head=4749\r\n"
                                 "图片_tail=3B\r\n图片头补齐=47\r\n"));
    ASSERT_EQ(run({"list", path("sample.bin"), "--config", path("kinds.ini")}), 0) << err;
    EXPECT_EQ(out, "number\tkind\tlabel\toffset\tlength\n1\t图片\t1002\t4097\t9\n");
    EXPECT_FALSE(exists("resource.config"));
    ASSERT_EQ(run({"list", path("sample.bin"), "--json", "--config", path("kinds.ini")}), 0);
    EXPECT_NE(out.find("\"kind\":\"图片\""), std::string::npos);
}

// No kind at all is an error of the kinds file: said with its encoding and the keys looked
// for, and the command fails.
TEST_F(List, NoKindsIsSaidWithTheEncodingAndFails) {
    write("none.ini", std::string("[Config]\r\n"));
    ASSERT_EQ(run({"list", path("sample.bin"), "--config", path("none.ini")}), 1);
    EXPECT_NE(err.find("no resource kinds could be read from " + path("none.ini") + " (GBK, "),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("资源种类数, 1, 1_head, 1_tail"), std::string::npos) << err;
}

TEST_F(List, EmptyFileListsOnlyTheHeader) {
    write("empty", std::string());
    ASSERT_EQ(run({"list", path("empty")}), 0);
    EXPECT_EQ(out, "number\tkind\tlabel\toffset\tlength\n");
    ASSERT_EQ(run({"list", path("empty"), "--json"}), 0);
    EXPECT_EQ(out, "[]\n");
}

TEST_F(List, ExitCodesForUnreadableFilesAndUsageErrors) {
    struct Case {
        std::vector<std::string> args;
        int rc;
        const char* inErr;
    };
    const std::vector<Case> cases = {
        {{"list", path("missing.bin")}, 1, "missing.bin"},
        {{"list", path("sample.bin"), "--config", path("missing.ini")}, 1, "missing.ini"},
        {{"list", dir_}, 1, "is a folder; give -r"},
        {{"list"}, 2, "usage: kerbilo-cli list"},
        {{"list", path("sample.bin"), "--json", "--jsonl"}, 2, "go separately"},
        {{"list", path("sample.bin"), "--bogus"}, 2, "unknown option --bogus"},
        {{"list", path("sample.bin"), "--config"}, 2, "needs a value"},
        {{"frobnicate"}, 2, "usage: kerbilo-cli COMMAND"},
        {{}, 2, "usage: kerbilo-cli COMMAND"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "" : c.args.back());
        EXPECT_EQ(run(c.args), c.rc);
        EXPECT_NE(err.find(c.inErr), std::string::npos) << err;
        EXPECT_EQ(out, "");
    }
}

TEST_F(List, KindNamesWithTabsAndBackslashesKeepTheirRow) {
    write("kinds.ini", utf8ToGbk("[Config]\r\n资源种类数=1\r\n1=G\tI\\F\r\nG\tI\\F_head=4749\r\n"
                                 "G\tI\\F_tail=3B\r\nG\tI\\F头补齐=47\r\n"));
    ASSERT_EQ(run({"list", path("sample.bin"), "--config", path("kinds.ini")}), 0) << err;
    EXPECT_EQ(out, "number\tkind\tlabel\toffset\tlength\n1\tG\\tI\\\\F\t1002\t4097\t9\n");
    ASSERT_EQ(run({"list", path("sample.bin"), "--json", "--config", path("kinds.ini")}), 0);
    EXPECT_NE(out.find("\"kind\":\"G\\u0009I\\\\F\""), std::string::npos) << out;
}

TEST_F(List, HelpExplainsEveryOption) {
    ASSERT_EQ(run({"list", "--help"}), 0);
    for (const char* word : {"--config", "--json", "number", "offset", "length", "\\t", "\\\\"})
        EXPECT_NE(out.find(word), std::string::npos) << word;
    ASSERT_EQ(run({"--help"}), 0);
    for (const char* word : {"list", "export", "replace", "set-output-folder", "render"})
        EXPECT_NE(out.find(word), std::string::npos) << word;
}

// The same kinds saved as UTF-8 (with and without the mark editors put first) find exactly
// what the GBK file finds, names shown alike.
TEST_F(List, KindsSavedAsUtf8FindWhatGbkFinds) {
    write("gbk.config", recommendedKinds());
    const std::string utf8 = gbkToUtf8(recommendedKinds().view());
    write("utf8.config", utf8);
    write("bom.config", "\xEF\xBB\xBF" + utf8);
    ASSERT_EQ(run({"list", path("sample.bin"), "--config", path("gbk.config")}), 0) << err;
    const std::string want = out;
    for (const char* name : {"utf8.config", "bom.config"}) {
        ASSERT_EQ(run({"list", path("sample.bin"), "--config", path(name)}), 0) << name << err;
        EXPECT_EQ(out, want) << name;
    }
}

// A suffix that would lead an export out of its folder refuses its kind, by name; the
// other kinds are searched as ever, and nothing is written outside the folder.
TEST_F(List, KindWithASuffixLeavingTheFolderIsRefused) {
    for (const std::string& suffix :
         {std::string("png/../../../escaped"), std::string(".."), std::string("p\0ng", 4)}) {
        write("unsafe.ini",
              utf8ToGbk("[Config]\r\n资源种类数=2\r\n1=BAD\r\nBAD_head=89504E47\r\n"
                        "BAD_tail=AE426082\r\nBAD文件后缀=") +
                  suffix + utf8ToGbk("\r\n2=PNG\r\nPNG_head=89504E47\r\nPNG_tail=AE426082\r\n"));
        ASSERT_EQ(run({"export", path("sample.bin"), "--out", path("out"), "--config",
                       path("unsafe.ini")}),
                  0)
            << err;
        EXPECT_NE(err.find("the kind BAD is not searched for"), std::string::npos) << err;
        EXPECT_FALSE(exists("escaped"));
        EXPECT_FALSE(exists("../escaped"));
    }
}

}  // namespace

}  // namespace kerbilo::testing
