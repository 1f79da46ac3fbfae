#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "cli_fixture.h"
#include "config/config_files.h"
#include "memory_files.h"
#include "runtime/byte_ops.h"
#include "runtime/gbk.h"
#include "zeros.h"

namespace kerbilo::testing {
namespace {

ByteBuffer text(const std::string& s) {
    return ByteBuffer::fromText(s);
}

// guard PNG(30 bytes at 8) guard PNG(34 bytes at 46) guard GIF(9 bytes at 88) guard
class Edit : public CliFixture {
  protected:
    void SetUp() override {
        CliFixture::SetUp();
        r1 = pngResource(6, 'a');
        r2 = pngResource(10, 'b');
        gif = ByteBuffer{0x47, 0x49, 0x46, 0x38, 0x39, 0x61, 0x01, 0x00, 0x3B};
        write("sample.bin", concatBytes({g, r1, g, r2, g, gif, g}));
    }
    const ByteBuffer g = text("########");
    ByteBuffer r1, r2, gif;
};

TEST_F(Edit, ExportAllWritesEveryResourceIntoTheFolder) {
    ASSERT_EQ(::mkdir(path("out").c_str(), 0755), 0);
    ASSERT_EQ(run({"export", path("sample.bin"), "--out", path("out") + "/"}), 0) << err;
    EXPECT_EQ(read("out/sample.bin/9.png"), r1);
    EXPECT_EQ(read("out/sample.bin/2F.png"), r2);
    EXPECT_EQ(read("out/sample.bin/59.png"), gif);
    EXPECT_EQ(out, "wrote 3 of 3 files to " + path("out") + "/sample.bin\n");
    EXPECT_EQ(err, "");
}

// Run from another folder, for the exports that write into the current one.
class InFolder {
  public:
    explicit InFolder(const std::string& folder) {
        if (!::getcwd(before_, sizeof before_)) before_[0] = 0;
        ok_ = ::chdir(folder.c_str()) == 0;
    }
    ~InFolder() {
        if (before_[0]) (void)::chdir(before_);
    }
    bool ok() const { return ok_; }

  private:
    char before_[4096];
    bool ok_ = false;
};

// Without --out: the folder stored with set-output-folder, else the current folder, where
// the file itself may lie: its folder then takes the first free name after the file's.
TEST_F(Edit, ExportAllDefaultsToTheStoredFolderElseTheCurrentOne) {
    ASSERT_EQ(::mkdir(path("here").c_str(), 0755), 0);
    {
        InFolder here(path("here"));
        ASSERT_TRUE(here.ok());
        ASSERT_EQ(run({"export", path("sample.bin")}), 0) << err;
        EXPECT_EQ(out, "wrote 3 of 3 files to " + path("here") + "/sample.bin\n");
    }
    EXPECT_EQ(read("here/sample.bin/9.png"), r1);
    {
        InFolder beside(dir_);
        ASSERT_TRUE(beside.ok());
        ASSERT_EQ(run({"export", "sample.bin"}), 0) << err;
        EXPECT_EQ(out, "wrote 3 of 3 files to " + path("sample.bin_资源") + "\n");
    }
    EXPECT_EQ(read("sample.bin_资源/2F.png"), r2);
    ASSERT_EQ(::mkdir(path("in").c_str(), 0755), 0);
    write("in/app.exe", read("sample.bin"));
    ASSERT_EQ(::mkdir(path("输出").c_str(), 0755), 0);
    ASSERT_EQ(run({"set-output-folder", path("输出/")}), 0) << err;
    EXPECT_NE(read("Resource.ini").view().find(utf8ToGbk("输出文件夹=" + path("输出"))),
              std::string::npos);
    ASSERT_EQ(run({"export", path("in/app.exe")}), 0) << err;
    EXPECT_EQ(read("输出/app.exe/59.png"), gif);
}

TEST_F(Edit, ExportAllListsEveryFailure) {
    // Folders stand where the files would go.
    for (const char* name : {"out", "out/sample.bin", "out/sample.bin/9.png",
                             "out/sample.bin/2F.png", "out/sample.bin/59.png"})
        ASSERT_EQ(::mkdir(path(name).c_str(), 0755), 0);
    EXPECT_EQ(run({"export", path("sample.bin"), "--out", path("out")}), 1);
    EXPECT_EQ(out, "wrote 0 of 3 files to " + path("out") + "/sample.bin\n");
    for (const char* name : {"/9.png: ", "/2F.png: ", "/59.png: "})
        EXPECT_NE(err.find(std::string("sample.bin") + name + "this is a folder, not a file"),
                  std::string::npos)
            << err;
}

// --out is made with its parents; when it cannot be, that is said once, and nothing else.
// A folder that could not be made below it is named with its own reason, not the
// "missing" of the writes into it.
TEST_F(Edit, ExportAllNamesTheFolderThatCouldNotBeMade) {
    ASSERT_EQ(run({"export", path("sample.bin"), "--out", path("new/deeper")}), 0) << err;
    EXPECT_EQ(read("new/deeper/sample.bin/59.png"), gif);

    EXPECT_EQ(run({"export", path("sample.bin"), "--out", path("sample.bin/x")}), 1);
    EXPECT_EQ(err, "kerbilo-cli: cannot create folder " + path("sample.bin/x") +
                       ": a part of the path is not a folder\n");
    EXPECT_EQ(out, "");

    ASSERT_EQ(::mkdir(path("ro").c_str(), 0755), 0);
    if (::mount("tmpfs", path("ro").c_str(), "tmpfs", MS_RDONLY, "size=64k") != 0)
        GTEST_SKIP() << "no read-only file system can be mounted here";
    EXPECT_EQ(run({"export", path("sample.bin"), "--out", path("ro")}), 1);
    const std::string folder = path("ro") + "/sample.bin", reason = "the file system is read-only";
    std::string want = "kerbilo-cli: cannot create folder " + folder + ": " + reason + "\n";
    for (const char* name : {"/9.png", "/2F.png", "/59.png"})
        want += "kerbilo-cli: cannot write " + folder + name + ": " + reason + "\n";
    EXPECT_EQ(err, want);
    ::umount(path("ro").c_str());
}

TEST_F(Edit, SingleExport) {
    ASSERT_EQ(run({"export", path("sample.bin"), "--resource", "2", "-o", path("two.png")}), 0)
        << err;
    EXPECT_EQ(read("two.png"), r2);
    EXPECT_EQ(run({"export", path("sample.bin"), "--resource", "2", "-o", path("no/two.png")}), 1);
    EXPECT_NE(err.find(path("no/two.png")), std::string::npos);
}

TEST_F(Edit, ReplaceShrinksInPlaceAndSaves) {
    write("new.bin", std::string("XYZ"));
    ASSERT_EQ(run({"replace", path("sample.bin"), "--resource", "2", "--with", path("new.bin"),
                   "-o", path("out.bin")}),
              0)
        << err;
    EXPECT_EQ(read("out.bin"), concatBytes({g, r1, g, text("XYZ"), zeros(31), g, gif, g}));
    EXPECT_EQ(read("sample.bin"), concatBytes({g, r1, g, r2, g, gif, g}));
}

TEST_F(Edit, ReplaceThatGrowsNeedsYes) {
    write("big.bin", std::string(40, 'Q'));
    const std::vector<std::string> args = {"replace", path("sample.bin"), "--resource",
                                           "1",       "--with",           path("big.bin"),
                                           "-o",      path("out.bin")};
    EXPECT_EQ(run(args), 1);
    EXPECT_NE(err.find("the new data is longer than the resource: 40 bytes instead of 30 bytes"),
              std::string::npos)
        << err;
    EXPECT_FALSE(exists("out.bin"));
    std::vector<std::string> yes = args;
    yes.push_back("--yes");
    ASSERT_EQ(run(yes), 0) << err;
    EXPECT_EQ(read("out.bin"), concatBytes({g, text(std::string(40, 'Q')), g, r2, g, gif, g}));
}

TEST_F(Edit, SeveralPairsApplyInOrderAndOutMayBeTheFile) {
    write("a.bin", std::string("AA"));
    write("b.bin", std::string("BBBB"));
    ASSERT_EQ(run({"replace", path("sample.bin"), "--resource", "3", "--with", path("a.bin"),
                   "--resource", "3", "--with", path("b.bin"), "--resource", "1", "--with",
                   path("a.bin"), "-o", path("sample.bin")}),
              0)
        << err;
    EXPECT_EQ(read("sample.bin"),
              concatBytes({g, text("AA"), zeros(28), g, r2, g, text("BBBB"), zeros(5), g}));
}

// A PNG at 40 (172 bytes) enclosing one at 112 (100 bytes). Replacing the outer one rewrites
// the inner one's bytes, so a later pair for the inner one is refused and nothing is saved;
// the other order grows the outer one and replaces both.
TEST_F(Edit, ReplacingAResourceAnEarlierPairOverwroteIsRefused) {
    const ByteBuffer inner = pngResource(76, 'i');
    const ByteBuffer outerHead{0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 0x0D};
    write("nested.bin",
          concatBytes({text(std::string(40, '#')), outerHead, text(std::string(60, 'o')), inner,
                       text(std::string(40, '#'))}));
    ASSERT_EQ(run({"list", path("nested.bin")}), 0);
    ASSERT_EQ(out,
              "number\tkind\tlabel\toffset\tlength\n1\tPNG\t29\t40\t172\n"
              "2\tPNG\t71\t112\t100\n");
    write("big.bin", std::string(350, 'B'));
    write("small.bin", std::string(50, 's'));
    const auto replace = [&](const char* first, const char* firstWith, const char* second,
                             const char* secondWith) {
        return run({"replace", path("nested.bin"), "--resource", first, "--with", path(firstWith),
                    "--resource", second, "--with", path(secondWith), "-o", path("out.bin"),
                    "--yes"});
    };
    EXPECT_EQ(replace("1", "big.bin", "2", "small.bin"), 1);
    EXPECT_NE(err.find("resource 2 is no longer in the file"), std::string::npos) << err;
    EXPECT_FALSE(exists("out.bin"));

    ASSERT_EQ(replace("2", "small.bin", "1", "big.bin"), 0) << err;
    EXPECT_EQ(read("out.bin"), concatBytes({text(std::string(40, '#')), text(std::string(350, 'B')),
                                            text(std::string(40, '#'))}));
}

TEST_F(Edit, ReplaceAndExportErrors) {
    write("new.bin", std::string("N"));
    struct Case {
        std::vector<std::string> args;
        int rc;
        std::string inErr;
    };
    const std::vector<Case> cases = {
        {{"replace", path("sample.bin"), "--resource", "1", "--with", path("new.bin")},
         2,
         "needs -o"},
        {{"replace", path("sample.bin"), "--resource", "1", "-o", path("o")},
         2,
         "--resource without --with"},
        {{"replace", path("sample.bin"), "--with", path("new.bin"), "-o", path("o")},
         2,
         "--with without --resource"},
        {{"replace", path("sample.bin"), "--resource", "x", "--with", path("new.bin"), "-o",
          path("o")},
         2,
         "number"},
        {{"replace", path("sample.bin"), "--resource", "9", "--with", path("new.bin"), "-o",
          path("o")},
         2,
         "no resource 9"},
        {{"replace", path("sample.bin"), "--resource", "1", "--with", path("gone.bin"), "-o",
          path("o")},
         1,
         "gone.bin"},
        {{"replace", path("gone.bin"), "--resource", "1", "--with", path("new.bin"), "-o",
          path("o")},
         1,
         "gone.bin"},
        {{"replace", path("sample.bin"), "--resource", "1", "--with", path("new.bin"), "-o",
          path("no/o")},
         1,
         "no/o"},
        {{"export", path("sample.bin"), "-o", path("o")}, 2, "-o goes with --resource"},
        {{"export", path("sample.bin"), "--resource", "1"}, 2, "needs -o"},
        {{"export", path("sample.bin"), "--resource", "4", "-o", path("o")}, 2, "no resource 4"},
        {{"export", path("sample.bin"), "--out", ""}, 2, "--out needs a folder"},
        {{"export"}, 2, "usage: kerbilo-cli export"},
        {{"set-output-folder"}, 2, "usage: kerbilo-cli set-output-folder"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.args));
        EXPECT_EQ(run(c.args), c.rc);
        EXPECT_NE(err.find(c.inErr), std::string::npos) << err;
    }
    EXPECT_FALSE(exists("o"));
}

TEST_F(Edit, SetOutputFolderReportsAnUnwritableSettingsFile) {
    ASSERT_EQ(::mkdir(path("Resource.ini").c_str(), 0755), 0);
    EXPECT_EQ(run({"set-output-folder", path("x")}), 1);
    EXPECT_NE(err.find("Resource.ini"), std::string::npos) << err;
}

// Resource.ini keeps the folder exactly: blanks at either end survive, and a name with a
// line break is refused before anything is written.
TEST_F(Edit, SetOutputFolderStoresTheNameExactlyOrNothing) {
    const ByteBuffer before = text("[Config]\r\nother=1\r\n");
    struct Case {
        std::string name;
        bool stored;
    } cases[] = {
        {"out ", true},  {"  two blanks  ", true}, {"\"quoted\"", true}, {"tab\t", true},
        {"a\nb", false}, {"a\rb", false},          {"end\n", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        write("Resource.ini", before);
        const int rc = run({"set-output-folder", path(c.name)});
        if (!c.stored) {
            EXPECT_EQ(rc, 1);
            EXPECT_NE(err.find("Resource.ini"), std::string::npos) << err;
            EXPECT_NE(err.find("line break"), std::string::npos) << err;
            EXPECT_EQ(read("Resource.ini"), before);
            continue;
        }
        ASSERT_EQ(rc, 0) << err;
        ASSERT_EQ(::mkdir(path(c.name).c_str(), 0755), 0);
        ASSERT_EQ(run({"export", path("sample.bin")}), 0) << err;
        EXPECT_EQ(read(c.name + "/sample.bin/2F.png"), r2);
        EXPECT_EQ(out, "wrote 3 of 3 files to " + path(c.name) + "/sample.bin\n");
    }
}

TEST_F(Edit, HelpForEachCommand) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
        {"export", {"--out", "--resource", "-o", "--config"}},
        {"replace", {"--resource", "--with", "-o", "--yes", "--config"}},
        {"set-output-folder", {"DIR", "Resource.ini"}},
    };
    for (const auto& [command, words] : cases) {
        ASSERT_EQ(run({command, "--help"}), 0);
        for (const std::string& w : words)
            EXPECT_NE(out.find(w), std::string::npos) << command << w;
    }
}

}  // namespace
}  // namespace kerbilo::testing

namespace kerbilo::testing {
namespace {

// The kinds file is read once per operation, not once per value nor once per step: an
// export of 200 resources reads it once, to open the file and to name what it writes, be it
// the program's or one given with --config.
TEST(ExportReads, TheKindsFileOncePerOperation) {
    for (const bool given : {false, true}) {
        MemoryFileServices files("/prog");
        files.directories.insert("/data");
        ensureKindsFile(files);
        files.files["/data/kinds.config"] = files.files["/prog/resource.config"];
        ByteBuffer data;
        for (int i = 0; i < 200; ++i) data = concatBytes({data, text("...."), pngResource(4, 'x')});
        files.files["/data/app.exe"] = data;
        std::ostringstream out, err;
        cli::CliEnv env{files, out, err, nullptr};
        std::vector<std::string> args = {"kerbilo-cli", "export", "/data/app.exe", "--out", "/out"};
        if (given) args.insert(args.end(), {"--config", "/data/kinds.config"});
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        ASSERT_EQ(cli::runCli(env, static_cast<int>(argv.size()), argv.data()), 0) << err.str();
        EXPECT_EQ(out.str(), "wrote 200 of 200 files to /out/app.exe\n");
        EXPECT_EQ(files.reads[given ? "/data/kinds.config" : "/prog/resource.config"], 1) << given;
    }
}

}  // namespace
}  // namespace kerbilo::testing
