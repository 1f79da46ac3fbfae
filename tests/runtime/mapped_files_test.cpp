// Files mapped instead of copied: the same bytes as a read, never written through, and a
// file that another program shortens ends the run with a message instead of a crash.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "runtime/byte_ops.h"
#include "runtime/file_services.h"
#include "runtime/gbk.h"
#include "runtime/shrink_guard.h"
#include "temp_folder.h"

namespace kerbilo::testing {
namespace {

using MappedFiles = TempFolderTest;

TEST_F(MappedFiles, GiveTheBytesOfAReadAndNeverWriteThrough) {
    PosixFileServices files(home);
    std::string content(100000, 'a');
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 31);
    write("data.bin", content);
    const Text path = home + "/data.bin";
    std::optional<ByteBuffer> mapped = files.tryMapWholeFile(path);
    ASSERT_TRUE(mapped);
    EXPECT_EQ(*mapped, *files.tryReadWholeFile(path));
    ByteBuffer copy = *mapped;
    std::uint8_t* w = copy.mutableData();
    ASSERT_NE(w, nullptr);
    EXPECT_NE(w, mapped->data()) << "writing makes a copy";
    w[0] = 'Z';
    EXPECT_EQ(files.tryReadWholeFile(path)->view(), content);
    EXPECT_EQ(mapped->slice(5, 3).view(), content.substr(5, 3));
}

// What is not a regular file with a size goes the reading way, with its reasons.
TEST_F(MappedFiles, OtherThingsAreReadAsBefore) {
    PosixFileServices files(home);
    write("empty", "");
    struct Case {
        Text path;
        bool ok;
    } cases[] = {
        {home + "/empty", true},
        {"/proc/self/status", true},
        {home + "/missing", false},
        {home, false},
        {"", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const std::optional<ByteBuffer> mapped = files.tryMapWholeFile(c.path);
        const std::optional<ByteBuffer> read = files.tryReadWholeFile(c.path);
        EXPECT_EQ(mapped.has_value(), c.ok);
        EXPECT_EQ(read.has_value(), c.ok);
        if (!c.ok) {
            EXPECT_FALSE(files.lastError().empty());
        }
    }
}

// In a child: map, let the file shrink, touch a page past the new end.
TEST_F(MappedFiles, AShrunkFileEndsTheRunWithAMessage) {
    const std::string path = home + "/shrinks.bin";
    write("shrinks.bin", std::string(3 << 20, 'x'));
    int err[2];
    ASSERT_EQ(::pipe(err), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::dup2(err[1], STDERR_FILENO);
        installShrinkGuard("kerbilo-test");
        PosixFileServices files(home);
        const std::optional<ByteBuffer> mapped = files.tryMapWholeFile(path);
        if (!mapped) ::_exit(3);
        if (::truncate(path.c_str(), 4096) != 0) ::_exit(4);
        volatile std::uint8_t sink = (*mapped)[mapped->size() - 1];
        (void)sink;
        ::_exit(0);  // not reached: the page is gone
    }
    ::close(err[1]);
    std::string message;
    char buf[256];
    for (ssize_t n; (n = ::read(err[0], buf, sizeof buf)) > 0;) message.append(buf, n);
    ::close(err[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(message, "kerbilo-test: " + path + " became shorter while it was read; stopping\n");
}

}  // namespace
}  // namespace kerbilo::testing

namespace kerbilo::testing {
namespace {

// A whole read that the memory left cannot hold is refused at once, with a reason, rather
// than failing late.
TEST_F(MappedFiles, AReadLargerThanTheMemoryLeftIsRefusedAtOnce) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizers need more address space than any limit leaves";
#endif
    write("big.bin", std::string(48 << 20, 'b'));
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        PosixFileServices files(home);
        // Room for 16 MiB more than the process already uses.
        struct rlimit limit {};
        std::FILE* status = std::fopen("/proc/self/status", "r");
        char line[256];
        unsigned long long vmKib = 0;
        while (status && std::fgets(line, sizeof line, status))
            if (std::sscanf(line, "VmSize: %llu", &vmKib) == 1) break;
        if (status) std::fclose(status);
        limit.rlim_cur = limit.rlim_max = (vmKib << 10) + (16 << 20);
        if (::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(3);
        if (files.tryReadWholeFile(home + "/big.bin")) ::_exit(4);
        ::_exit(files.lastError() == utf8ToGbk("文件大于可用的内存") ? 0 : 5);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "3 limit, 4 read, 5 reason";
}

}  // namespace
}  // namespace kerbilo::testing
