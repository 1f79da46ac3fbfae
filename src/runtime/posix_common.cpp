#include <fcntl.h>

#include <cerrno>
#include <cstdlib>

#include "runtime/posix_detail.h"

namespace kerbilo::posix_detail {

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

}  // namespace kerbilo::posix_detail
