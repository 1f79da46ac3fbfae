// Names of any bytes through kerbilo-cli: each reaches the same file as the file opened, the
// target of one export, the folder of export-all and the folder made in it from the file's
// name, the replacement file, the saved copy, the program folder and the stored output
// folder. The file system never sees a replacement character.

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "cli_fixture.h"
#include "config/config_files.h"
#include "names_of_any_bytes.h"
#include "runtime/byte_ops.h"
#include "runtime/gbk.h"

extern char** environ;

namespace kerbilo::testing {
namespace {

class Names : public CliFixture {
  protected:
    std::string sample() const { return g + r1 + g + r2 + g; }
    const std::string g = "########";
    const std::string r1 = std::string(pngResource(6, 'a').view());
    const std::string r2 = std::string(pngResource(10, 'b').view());
};

TEST_F(Names, EveryNameReachesTheSameFile) {
    int i = 0;
    for (const std::string& name : namesOfAnyBytes()) {
        SCOPED_TRACE(printable(name));
        const std::string c = path("c" + std::to_string(i++));
        for (const char* sub : {"", "/in", "/one", "/with", "/saved", "/all", "/set"})
            ASSERT_EQ(::mkdir((c + sub).c_str(), 0755), 0);
        const std::string program = c + "/" + name;
        ASSERT_EQ(::mkdir(program.c_str(), 0755), 0);
        ASSERT_EQ(::mkdir((c + "/all/" + name).c_str(), 0755), 0);
        ASSERT_EQ(::mkdir((c + "/set/" + name).c_str(), 0755), 0);
        files_ = std::make_unique<PosixFileServices>(utf8ToGbk(program));
        const std::string in = c + "/in/" + name;
        rawWrite(in, sample());
        rawWrite(c + "/with/" + name, "XYZ");

        // Opening: the kinds file is written in the program folder.
        ASSERT_EQ(run({"list", in}), 0) << err;
        EXPECT_EQ(out,
                  "number\tkind\tlabel\toffset\tlength\n1\tPNG\t9\t8\t30\n"
                  "2\tPNG\t2F\t46\t34\n");
        EXPECT_EQ(rawRead(program + "/resource.config"),
                  std::string(defaultKindsFileContent().view()));

        ASSERT_EQ(run({"export", in, "--resource", "2", "-o", c + "/one/" + name}), 0) << err;
        EXPECT_EQ(rawRead(c + "/one/" + name), r2);

        ASSERT_EQ(run({"export", in, "--out", c + "/all/" + name}), 0) << err;
        EXPECT_EQ(rawRead(c + "/all/" + name + "/" + name + "/9.png"), r1);
        EXPECT_EQ(rawRead(c + "/all/" + name + "/" + name + "/2F.png"), r2);

        ASSERT_EQ(run({"set-output-folder", c + "/set/" + name}), 0) << err;
        ASSERT_EQ(run({"export", in}), 0) << err;
        EXPECT_EQ(rawRead(c + "/set/" + name + "/" + name + "/2F.png"), r2);

        ASSERT_EQ(run({"replace", in, "--resource", "1", "--with", c + "/with/" + name, "-o",
                       c + "/saved/" + name}),
                  0)
            << err;
        EXPECT_EQ(rawRead(c + "/saved/" + name), g + "XYZ" + std::string(27, '\0') + g + r2 + g);
    }
    EXPECT_EQ(replacementCharactersBelow(dir_), std::vector<std::string>{});
}

// The program folder as the real program finds it, from where its executable lies: a copy
// in a folder of each name keeps its kinds file and Resource.ini there.
// Runs a program with its output thrown away; its exit code, −1 when it did not exit.
int runProgram(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (spawned != 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

TEST_F(Names, TheProgramFolderIsWhereTheExecutableLies) {
    const std::string binary = path("kerbilo-cli");
    std::error_code ec;
    std::filesystem::copy_file(KERBILO_CLI, binary, ec);
    ASSERT_FALSE(ec) << ec.message();
    int i = 0;
    for (const std::string& name : namesOfAnyBytes()) {
        SCOPED_TRACE(printable(name));
        const std::string c = path("p" + std::to_string(i++));
        const std::string program = c + "/" + name;
        ASSERT_EQ(::mkdir(c.c_str(), 0755), 0);
        ASSERT_EQ(::mkdir(program.c_str(), 0755), 0);
        ASSERT_EQ(::link(binary.c_str(), (program + "/kerbilo-cli").c_str()), 0);
        const std::string exe = program + "/kerbilo-cli";
        const std::string folder = program + "/out";
        rawWrite(c + "/sample", sample());
        EXPECT_EQ(runProgram({exe, "set-output-folder", folder}), 0);
        EXPECT_EQ(runProgram({exe, "list", c + "/sample"}), 0);
        EXPECT_NE(rawRead(program + "/Resource.ini").find(utf8ToGbk(folder)), std::string::npos);
        EXPECT_EQ(rawRead(program + "/resource.config"),
                  std::string(defaultKindsFileContent().view()));
    }
    EXPECT_EQ(replacementCharactersBelow(dir_), std::vector<std::string>{});
}

}  // namespace
}  // namespace kerbilo::testing
