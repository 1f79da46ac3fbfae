// Several files and folders in one run: output in argument and walk order whatever order the
// files finish in, a leading file column, JSON Lines, the worst exit code, and manifests
// that match what export wrote.

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>

#include "cli_fixture.h"
#include "runtime/byte_ops.h"
#include "runtime/sha256.h"

namespace kerbilo::testing {
namespace {

class Batch : public CliFixture {
  protected:
    void SetUp() override {
        CliFixture::SetUp();
        // tree/b.bin, tree/a.bin, tree/sub/c.bin, and one.bin beside the tree.
        ASSERT_EQ(::mkdir(path("tree").c_str(), 0755), 0);
        ASSERT_EQ(::mkdir(path("tree/sub").c_str(), 0755), 0);
        write("tree/b.bin", concatBytes({pngResource(2, 'b'), pngResource(3, 'B')}));
        write("tree/a.bin", pngResource(1, 'a'));
        write("tree/sub/c.bin", concatBytes({ByteBuffer::fromText("pad"), pngResource(4, 'c')}));
        write("one.bin", pngResource(5, 'o'));
    }
    std::string listOf(std::vector<std::string> args) {
        args.insert(args.begin(), "list");
        EXPECT_EQ(run(args), 0) << err;
        return out;
    }
};

TEST_F(Batch, RowsFollowArgumentAndWalkOrderWithTheirFile) {
    const std::string header = "file\tnumber\tkind\tlabel\toffset\tlength\n";
    const std::string expected =
        header + path("one.bin") + "\t1\tPNG\t1\t0\t29\n" + path("tree") +
        "/a.bin\t1\tPNG\t1\t0\t25\n" + path("tree") + "/b.bin\t1\tPNG\t1\t0\t26\n" + path("tree") +
        "/b.bin\t2\tPNG\t1B\t26\t27\n" + path("tree") + "/sub/c.bin\t1\tPNG\t4\t3\t28\n";
    for (const char* jobs : {"1", "2", "7"}) {
        SCOPED_TRACE(jobs);
        EXPECT_EQ(listOf({path("one.bin"), path("tree"), "-r", "-j", jobs}), expected);
    }
    // One file alone keeps today's output; with -r even one file gets the column.
    EXPECT_EQ(listOf({path("one.bin")}), "number\tkind\tlabel\toffset\tlength\n1\tPNG\t1\t0\t29\n");
    EXPECT_EQ(listOf({path("one.bin"), "-r"}), header + path("one.bin") + "\t1\tPNG\t1\t0\t29\n");
}

TEST_F(Batch, JsonAndJsonLinesCarryTheFile) {
    const std::string a = "{\"file\":\"" + path("one.bin") +
                          "\",\"number\":1,\"kind\":\"PNG\",\"label\":\"1\",\"offset\":0,"
                          "\"length\":29}";
    const std::string b = "{\"file\":\"" + path("tree/a.bin") +
                          "\",\"number\":1,\"kind\":\"PNG\",\"label\":\"1\",\"offset\":0,"
                          "\"length\":25}";
    EXPECT_EQ(listOf({path("one.bin"), path("tree/a.bin"), "--json"}),
              "[\n" + a + ",\n" + b + "\n]\n");
    EXPECT_EQ(listOf({path("one.bin"), path("tree/a.bin"), "--jsonl"}), a + "\n" + b + "\n");
    EXPECT_EQ(listOf({path("one.bin"), "--jsonl"}),
              "{\"number\":1,\"kind\":\"PNG\",\"label\":\"1\",\"offset\":0,\"length\":29}\n");
}

TEST_F(Batch, AFileThatCannotBeReadDoesNotStopTheOthers) {
    struct Case {
        std::vector<std::string> args;
        int rc;
        std::string inErr;
        int rows;
    };
    const std::vector<Case> cases = {
        {{"list", path("missing.bin"), path("one.bin")},
         1,
         "cannot open " + path("missing.bin"),
         1},
        {{"list", path("tree"), path("one.bin")}, 1, path("tree") + " is a folder; give -r", 1},
        {{"inspect", path("one.bin"), path("missing.bin"), path("tree/a.bin")},
         1,
         "missing.bin",
         2},
        {{"list", path("one.bin"), path("tree/a.bin"), "-j", "0"}, 2, "-j needs a number", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[1]);
        EXPECT_EQ(run(c.args), c.rc);
        EXPECT_NE(err.find(c.inErr), std::string::npos) << err;
        const auto lines = static_cast<int>(std::count(out.begin(), out.end(), '\n'));
        EXPECT_EQ(lines, c.rc == 2 ? 0 : c.rows + 1) << out;
    }
}

TEST_F(Batch, SymbolicLinksAreFollowedOnlyWithL) {
    ASSERT_EQ(::symlink(path("one.bin").c_str(), path("tree/link.bin").c_str()), 0);
    ASSERT_EQ(::symlink(path("tree").c_str(), path("tree/sub/loop").c_str()), 0);
    const std::string plain = listOf({path("tree"), "-r"});
    EXPECT_EQ(plain.find("link.bin"), std::string::npos);
    const std::string followed = listOf({path("tree"), "-r", "-L"});
    EXPECT_NE(followed.find(path("tree") + "/link.bin\t1\tPNG"), std::string::npos) << followed;
    EXPECT_EQ(followed.find("loop"), std::string::npos) << "a folder is walked once";
    // A link named on the command line is what the user asked for.
    EXPECT_NE(listOf({path("tree/link.bin"), path("one.bin")}).find("link.bin"), std::string::npos);
}

TEST_F(Batch, ExportWritesEachFileAndAManifestOfIt) {
    ASSERT_EQ(::mkdir(path("out").c_str(), 0755), 0);
    ASSERT_EQ(run({"export", path("one.bin"), path("tree"), "-r", "--out", path("out"), "--jsonl"}),
              0)
        << err;
    EXPECT_EQ(out, "wrote 1 of 1 files to " + path("out") + "/one.bin\n" +
                       "wrote 1 of 1 files to " + path("out") + "/tree/a.bin\n" +
                       "wrote 2 of 2 files to " + path("out") + "/tree/b.bin\n" +
                       "wrote 1 of 1 files to " + path("out") + "/tree/sub/c.bin\n");
    // Every manifest row names a file whose bytes have the digest it records.
    int rows = 0;
    for (const char* folder :
         {"out/one.bin", "out/tree/a.bin", "out/tree/b.bin", "out/tree/sub/c.bin"}) {
        SCOPED_TRACE(folder);
        std::istringstream manifest(
            std::string(read(std::string(folder) + "/manifest.tsv").view()));
        std::string line;
        std::getline(manifest, line);
        EXPECT_EQ(line,
                  "number\tkind\tlabel\toffset\tlength\tsha256\tpath\tformat\twidth\theight\t"
                  "frames\tverdict");
        while (std::getline(manifest, line)) {
            std::vector<std::string> f;
            std::istringstream fields(line);
            for (std::string x; std::getline(fields, x, '\t');) f.push_back(x);
            ASSERT_GE(f.size(), 12u) << line;
            const ByteBuffer written = files_->tryReadWholeFile(f[6]).value_or(ByteBuffer{});
            EXPECT_EQ(f[5], sha256Hex(written.data(), written.size()));
            EXPECT_EQ(std::to_string(written.size()), f[4]);
            EXPECT_EQ(f[11], "damaged") << "PNG-shaped bytes, no real picture";
            ++rows;
        }
        EXPECT_TRUE(exists(std::string(folder) + "/manifest.jsonl"));
    }
    EXPECT_EQ(rows, 5);
    EXPECT_EQ(
        run({"export", path("one.bin"), path("tree/a.bin"), "--resource", "1", "-o", path("x")}),
        2);
    EXPECT_NE(err.find("--resource goes with one FILE"), std::string::npos);
}

}  // namespace
}  // namespace kerbilo::testing
