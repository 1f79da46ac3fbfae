#include <fcntl.h>
#include <sys/random.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>

#include "runtime/posix_detail.h"

namespace kerbilo::posix_detail {

namespace {

// A short name of fixed length: beside a file whose name is as long as the file system
// allows there is still room for it.
std::string randomName() {
    static constexpr char kChars[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    unsigned char r[6];
    if (::getrandom(r, sizeof r, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof r)) {
        // No entropy yet: the name need only differ from the last one; O_EXCL does the rest.
        static std::atomic<std::uint64_t> counter{0};
        timespec now{};
        ::clock_gettime(CLOCK_REALTIME, &now);
        std::uint64_t x = static_cast<std::uint64_t>(now.tv_nsec) ^
                          (static_cast<std::uint64_t>(::getpid()) << 32) ^
                          (counter++ * 0x9E3779B97F4A7C15ull);
        for (unsigned char& c : r) {
            c = static_cast<unsigned char>(x);
            x >>= 8;
        }
    }
    std::string name = ".kb";
    for (const unsigned char c : r) name += kChars[c % 62];
    return name;
}

}  // namespace

bool writeFully(int fd, const std::uint8_t* p, std::size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, p, std::min<std::size_t>(n, std::size_t{1} << 30));
        if (w < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

int writeParts(int fd, std::span<const ByteBuffer> parts) {
    for (const ByteBuffer& part : parts) {
        if (!part.empty() && !writeFully(fd, part.data(), part.size())) return errno;
    }
    return 0;
}

off_t totalSize(std::span<const ByteBuffer> parts) {
    off_t n = 0;
    for (const ByteBuffer& part : parts) n += static_cast<off_t>(part.size());
    return n;
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string temporaryFolder() {
    const char* dir = std::getenv("TMPDIR");
    std::string folder = dir && *dir ? dir : "/tmp";
    if (folder.back() != '/') folder += '/';
    return folder;
}

int createUnique(const std::string& folder, int access, mode_t mode, std::string& path) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        path = folder + randomName();
        const int fd = ::open(path.c_str(), access | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

}  // namespace kerbilo::posix_detail
