// Files larger than memory: kerbilo-cli maps rather than copies them, reports offsets past
// 4 GiB exactly, and a file that shrinks while it is mapped ends the run with a message.

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cli_fixture.h"
#include "runtime/byte_ops.h"

namespace kerbilo::testing {
namespace {

// Only the PNG kind, so a 32 GiB scan is one pass.
const char kPngKinds[] =
    "[Config]\r\n\xD7\xCA\xD4\xB4\xD6\xD6\xC0\xE0\xCA\xFD=1\r\n1=PNG\r\n"
    "PNG_head=89504E470D0A1A0A0000000D\r\nPNG_tail=0000000049454E44AE426082\r\n"
    "PNG\xCD\xB7\xB2\xB9\xC6\xEB=89\r\n";

class LargeFile : public CliFixture {
  protected:
    // A sparse file of `size` bytes with a small PNG-shaped resource at each offset.
    void makeSparse(const std::string& name, std::int64_t size,
                    const std::vector<std::int64_t>& at) {
        const int fd = ::open(path(name).c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, size), 0);
        const ByteBuffer r = pngResource(4, 'q');
        for (const std::int64_t o : at)
            ASSERT_EQ(::pwrite(fd, r.data(), r.size(), o), static_cast<ssize_t>(r.size()));
        ::close(fd);
    }
};

TEST_F(LargeFile, OffsetsPastFourAndSixteenGiBAreExact) {
    const std::int64_t gib = std::int64_t{1} << 30;
    const std::int64_t first = 4 * gib + 12345, second = 16 * gib + 7;
    makeSparse("sparse.bin", 32 * gib, {first, second});
    write("png.ini", std::string(kPngKinds));
    ASSERT_EQ(run({"list", path("sparse.bin"), "--config", path("png.ini")}), 0) << err;
    const auto hex = [](std::int64_t v) {
        std::ostringstream s;
        s << std::uppercase << std::hex << v;
        return s.str();
    };
    EXPECT_EQ(out, "number\tkind\tlabel\toffset\tlength\n1\tPNG\t" + hex(first + 1) + "\t" +
                       std::to_string(first) + "\t28\n2\tPNG\t" + hex(second + 1) + "\t" +
                       std::to_string(second) + "\t28\n");
}

// inspect reads every resource's bytes a batch at a time and writes its rows as it goes;
// while it waits for its reader, the file is cut to 1 MiB, so the next batch reaches pages
// that no longer exist.
TEST_F(LargeFile, AFileThatShrinksEndsTheRunWithAMessage) {
    std::vector<std::int64_t> at;
    for (std::int64_t o = 0; o + 64 < (std::int64_t{64} << 20); o += 3000) at.push_back(o);
    makeSparse("shrinks.bin", std::int64_t{64} << 20, at);
    write("png.ini", std::string(kPngKinds));
    int out[2], err[2];
    ASSERT_EQ(::pipe(out), 0);
    ASSERT_EQ(::pipe(err), 0);
    const std::string file = path("shrinks.bin");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::dup2(out[1], STDOUT_FILENO);
        ::dup2(err[1], STDERR_FILENO);
        ::execl(KERBILO_CLI, KERBILO_CLI, "inspect", file.c_str(), "--config",
                path("png.ini").c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    ::close(out[1]);
    ::close(err[1]);
    // Wait until the pipe is full: the child is then blocked writing.
    for (int waited = 0; waited < 30000; waited += 10) {
        int pending = 0;
        ::ioctl(out[0], FIONREAD, &pending);
        if (pending >= 65536) break;
        ::usleep(10000);
    }
    ASSERT_EQ(::truncate(file.c_str(), 1 << 20), 0);
    char buf[65536];
    while (::read(out[0], buf, sizeof buf) > 0) {
    }
    std::string message;
    for (ssize_t n; (n = ::read(err[0], buf, sizeof buf)) > 0;) message.append(buf, n);
    int status = 0;
    ::waitpid(child, &status, 0);
    ::close(out[0]);
    ::close(err[0]);
    ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 1) << message;
    EXPECT_NE(message.find("kerbilo-cli: " + file + " became shorter while it was read"),
              std::string::npos)
        << message;
}

}  // namespace
}  // namespace kerbilo::testing
