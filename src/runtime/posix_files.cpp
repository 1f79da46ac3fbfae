#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/file_services.h"
#include "runtime/gbk.h"

namespace kerbilo {
namespace {

// Not an errno value: a path that names something other than a file or a disk.
constexpr int kNotAFile = -1;

class Fd {
  public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    int release() {
        int f = fd_;
        fd_ = -1;
        return f;
    }

  private:
    int fd_;
};

std::string native(std::string_view gbkPath) {
    return gbkToUtf8(gbkPath);
}

// Reads until end of file into buf[0, cap); returns bytes read or −1.
std::int64_t readFully(int fd, std::uint8_t* buf, std::size_t cap) {
    std::size_t got = 0;
    while (got < cap) {
        // Large requests keep the syscall count low; the kernel caps one read at ~2 GiB.
        const std::size_t want = std::min<std::size_t>(cap - got, std::size_t{1} << 30);
        const ssize_t r = ::read(fd, buf + got, want);
        if (r < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (r == 0) break;
        got += static_cast<std::size_t>(r);
    }
    return static_cast<std::int64_t>(got);
}

// Reads a file whose size is not known in advance, growing the buffer as it fills; errno
// tells why when it gives nothing.
std::optional<ByteBuffer> readAll(int fd) {
    ByteBuffer b;
    std::size_t got = 0;
    for (;;) {
        if (got == b.size()) {
            ByteBuffer bigger = ByteBuffer::uninitialized(b.empty() ? 4096 : b.size() * 2);
            if (bigger.empty()) {
                errno = ENOMEM;
                return std::nullopt;
            }
            if (got > 0) std::memcpy(bigger.mutableData(), b.data(), got);
            b = std::move(bigger);
        }
        const std::int64_t r = readFully(fd, b.mutableData() + got, b.size() - got);
        if (r < 0) return std::nullopt;
        got += static_cast<std::size_t>(r);
        if (got < b.size()) return got == 0 ? ByteBuffer{} : b.slice(0, got);
    }
}

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

}  // namespace

Text describeErrno(int err) {
    switch (err) {
        case kNotAFile:
            return utf8ToGbk("不是普通文件(管道、套接字或字符设备)");
        case ENOENT:
            return utf8ToGbk("文件或文件夹不存在");
        case EACCES:
        case EPERM:
            return utf8ToGbk("没有访问权限");
        case EISDIR:
            return utf8ToGbk("这是一个文件夹,不是文件");
        case ENOTDIR:
            return utf8ToGbk("路径中有一部分不是文件夹");
        case ENOSPC:
            return utf8ToGbk("磁盘空间不足");
        case EDQUOT:
            return utf8ToGbk("超出磁盘配额");
        case EFBIG:
            return utf8ToGbk("文件过大");
        case EROFS:
            return utf8ToGbk("文件系统是只读的");
        case EEXIST:
            return utf8ToGbk("已经存在");
        case ENAMETOOLONG:
            return utf8ToGbk("文件名过长");
        case ENOMEM:
            return utf8ToGbk("内存不足");
        case EIO:
            return utf8ToGbk("输入输出错误");
        case EINVAL:
            return utf8ToGbk("无效的路径");
        case EBUSY:
        case ETXTBSY:
            return utf8ToGbk("文件正被占用");
        default:
            return utf8ToGbk("系统错误 ") + std::to_string(err);
    }
}

Text executableDirectory() {
    std::vector<char> buf(PATH_MAX + 1);
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) return {};
    std::string path(buf.data(), static_cast<std::size_t>(n));
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {};
    path.resize(slash == 0 ? 1 : slash);  // "/" stays the root
    return utf8ToGbk(path);
}

bool enterDirectory(std::string_view gbkPath) {
    return !gbkPath.empty() && ::chdir(native(gbkPath).c_str()) == 0;
}

PosixFileServices::PosixFileServices(std::optional<Text> programDir)
    : programDir_(programDir ? std::move(*programDir) : executableDirectory()) {}

void PosixFileServices::fail(int err) {
    lastError_ = describeErrno(err);
}

std::optional<ByteBuffer> PosixFileServices::tryReadWholeFile(std::string_view path) {
    if (path.empty()) {
        fail(ENOENT);
        return std::nullopt;
    }
    // O_NONBLOCK: opening a FIFO must not wait for a writer; regular files ignore it.
    Fd fd(::open(native(path).c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) {
        fail(errno);
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        fail(errno);
        return std::nullopt;
    }
    if (S_ISDIR(st.st_mode)) {
        fail(EISDIR);
        return std::nullopt;
    }
    // A disk image on a block device has no st_size; its size is where its end is.
    off_t size = st.st_size;
    if (S_ISBLK(st.st_mode)) size = ::lseek(fd.get(), 0, SEEK_END);
    if (!S_ISREG(st.st_mode) &&
        !(S_ISBLK(st.st_mode) && size >= 0 && ::lseek(fd.get(), 0, SEEK_SET) == 0)) {
        // Pipes, sockets and character devices may never end (/dev/zero) or block forever.
        fail(kNotAFile);
        return std::nullopt;
    }
    // Files under /proc and /sys say 0 and are made as they are read.
    if (size == 0) {
        std::optional<ByteBuffer> all = readAll(fd.get());
        if (!all) fail(errno);
        return all;
    }
    ByteBuffer b = ByteBuffer::uninitialized(static_cast<std::size_t>(size));
    std::uint8_t* w = b.mutableData();
    if (!w) {
        fail(ENOMEM);
        return std::nullopt;
    }
    const std::int64_t got = readFully(fd.get(), w, b.size());
    if (got < 0) {
        fail(errno);
        return std::nullopt;
    }
    // A file that shrank while being read gives the bytes actually read.
    if (static_cast<std::size_t>(got) < b.size()) return b.slice(0, static_cast<std::size_t>(got));
    return b;
}

bool PosixFileServices::writeWholeFile(std::string_view path, std::span<const ByteBuffer> parts) {
    if (path.empty()) {
        fail(ENOENT);
        return false;
    }
    std::string target = native(path);
    // Write through a symbolic link to the file it names, as truncating it would have.
    if (char* real = ::realpath(target.c_str(), nullptr)) {
        target = real;
        std::free(real);
    }
    struct stat existing {};
    const bool exists = ::stat(target.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode)) {
        fail(EISDIR);
        return false;
    }
    const std::size_t slash = target.rfind('/');
    const std::string dir = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    std::string tmp =
        (slash == std::string::npos ? std::string() : dir) + "." + base + ".kerbilo-XXXXXX";
    Fd fd(::mkstemp(tmp.data()));
    if (fd.get() < 0) {
        fail(errno);
        return false;
    }
    ::fcntl(fd.get(), F_SETFD, FD_CLOEXEC);
    auto abandon = [&](int err) {
        ::unlink(tmp.c_str());
        fail(err);
        return false;
    };
    // The new file takes the old one's permissions, or the usual ones for a new file.
    mode_t mode = 0666;
    if (exists) {
        mode = existing.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode &= ~mask;
    }
    if (::fchmod(fd.get(), mode) != 0) return abandon(errno);
    for (const ByteBuffer& part : parts) {
        if (part.empty()) continue;
        if (!writeFully(fd.get(), part.data(), part.size())) return abandon(errno);
    }
    // Replacing a file: its new content must be on disk before the rename makes it the only
    // copy. A new file has nothing to lose, and export all writes thousands of them.
    if (exists && ::fsync(fd.get()) != 0) return abandon(errno);
    if (::close(fd.release()) != 0) return abandon(errno);
    if (::rename(tmp.c_str(), target.c_str()) != 0) return abandon(errno);
    return true;
}

bool PosixFileServices::createDirectory(std::string_view path) {
    if (path.empty()) {
        fail(ENOENT);
        return false;
    }
    if (::mkdir(native(path).c_str(), 0777) != 0) {
        fail(errno);
        return false;
    }
    return true;
}

bool PosixFileServices::pathExists(std::string_view path) {
    struct stat st {};
    return !path.empty() && ::lstat(native(path).c_str(), &st) == 0;
}

}  // namespace kerbilo
