// Where the settings files live, for the window and kerbilo-cli alike.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "runtime/program_directory.h"
#include "temp_folder.h"

namespace kerbilo::testing {
namespace {

namespace fs = std::filesystem;

using SettingsLocation = TempFolderTest;

TEST_F(SettingsLocation, BesideAWritableExecutableElsePerUser) {
    EXPECT_EQ(programDirectoryFor(home, home, ""), home);
    fs::create_directories(home + "/bin");
    ::chmod((home + "/bin").c_str(), 0555);
    const auto readOnlyCase = [&] {
        return programDirectoryFor(home + "/bin", home, "") == home + "/.config/kerbilo" &&
               fs::is_directory(home + "/.config/kerbilo") &&
               programDirectoryFor(home + "/bin", home, home + "/x") == home + "/x/kerbilo";
    };
    if (::geteuid() != 0) {
        EXPECT_TRUE(readOnlyCase());
        return;
    }
    // Root writes everywhere, so the read-only case runs as an ordinary user in a child.
    ::chmod(home.c_str(), 0777);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
        ::_exit(readOnlyCase() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: wrong folder, 2: could not drop privileges";
}

TEST_F(SettingsLocation, UnknownExecutableFolderGoesPerUser) {
    EXPECT_EQ(programDirectoryFor("", home, ""), home + "/.config/kerbilo");
    EXPECT_EQ(programDirectoryFor("", home, "relative/ignored"), home + "/.config/kerbilo");
}

}  // namespace
}  // namespace kerbilo::testing
