#include <fcntl.h>

#include <cerrno>
#include <optional>
#include <vector>

#include "runtime/posix_detail.h"

namespace kerbilo::posix_detail {

namespace {

// The old bytes of a file that is being overwritten where it is.
struct OldCopy {
    std::string path;  // empty when the file was empty: nothing to keep
    std::optional<PendingFile> file;
    off_t size = 0;
    int fd() const { return file->fd(); }
};

// Reads up to n bytes, retrying when interrupted.
ssize_t readRetrying(int fd, std::uint8_t* buf, std::size_t n) {
    for (;;) {
        const ssize_t r = ::read(fd, buf, n);
        if (r >= 0 || errno != EINTR) return r;
    }
}

// Copies what `from` holds into a new private file, in the first of the folders where that
// succeeds, synced so that it outlives a crash while the original is overwritten. It gets
// its name (backupName of the file's) only once complete: a run killed while copying leaves
// nothing, one killed while overwriting leaves the whole old bytes under that name.
WriteFailure keepOldContent(int from, const std::vector<std::string>& folders,
                            std::string_view fileName, OldCopy& copy) {
    ByteBuffer buf = ByteBuffer::uninitialized(std::size_t{1} << 20);
    if (buf.empty()) return {kNoCopy, ENOMEM};
    std::uint8_t* b = buf.mutableData();
    ssize_t r = readRetrying(from, b, buf.size());
    if (r < 0) return {kNoCopy, errno};
    if (r == 0) return {};
    int lastErr = 0;
    for (const std::string& folder : folders) {
        if (::lseek(from, 0, SEEK_SET) != 0) return {kNoCopy, errno};
        copy.file.emplace();
        if (const int opened = copy.file->open(folder, 0600); opened != 0) {
            lastErr = opened;
            continue;
        }
        off_t size = 0;
        int err = 0;
        bool sourceFailed = false;
        while ((r = readRetrying(from, b, buf.size())) > 0) {
            if (!writeFully(copy.fd(), b, static_cast<std::size_t>(r))) {
                err = errno;
                break;
            }
            size += r;
        }
        if (r < 0) {
            err = errno;
            sourceFailed = true;
        }
        if (err == 0 && ::fsync(copy.fd()) != 0) err = errno;
        for (int attempt = 0; err == 0 && attempt < 100; ++attempt) {
            copy.path = folder + backupName(fileName);
            err = copy.file->link(copy.path);
            if (err != EEXIST) break;
        }
        if (err == 0) {
            copy.size = size;
            return {};
        }
        copy.path.clear();
        copy.file.reset();
        if (sourceFailed) return {kNoCopy, err};
        lastErr = err;  // a full disk, a folder we may not write in: try the next folder
    }
    return {kNoCopy, lastErr};
}

// Puts the kept bytes back into fd; 0 or errno.
int putBack(int fd, const OldCopy& copy) {
    if (copy.size > 0) {
        ByteBuffer buf = ByteBuffer::uninitialized(std::size_t{1} << 20);
        if (buf.empty()) return ENOMEM;
        std::uint8_t* b = buf.mutableData();
        for (off_t at = 0; at < copy.size;) {
            const ssize_t r = ::pread(copy.fd(), b, buf.size(), at);
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) return r < 0 ? errno : EIO;
            for (ssize_t done = 0; done < r;) {
                const ssize_t w =
                    ::pwrite(fd, b + done, static_cast<std::size_t>(r - done), at + done);
                if (w < 0 && errno == EINTR) continue;
                if (w < 0) return errno;
                done += w;
            }
            at += r;
        }
    }
    if (::ftruncate(fd, copy.size) != 0 || ::fsync(fd) != 0) return errno;
    return 0;
}

}  // namespace

WriteFailure overwriteInPlace(const std::string& given, Fd& fd, const struct stat& st,
                              const std::optional<std::string>& besideFolder,
                              std::span<const ByteBuffer> parts) {
    Fd in(::open(given.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
    if (in.get() < 0) return {kNoCopy, errno};
    struct stat inSt {};
    if (::fstat(in.get(), &inSt) != 0) return {kNoCopy, errno};
    if (!sameFile(inSt, st)) return {kNoCopy, EBUSY};  // replaced under us
    std::vector<std::string> folders;
    if (besideFolder) folders.push_back(*besideFolder);
    folders.push_back(temporaryFolder());
    OldCopy copy;
    const std::size_t slash = given.rfind('/');
    const std::string_view fileName = slash == std::string::npos
                                          ? std::string_view(given)
                                          : std::string_view(given).substr(slash + 1);
    if (WriteFailure kept = keepOldContent(in.get(), folders, fileName, copy); kept.err != 0)
        return kept;
    in.reset(-1);

    int err = ::lseek(fd.get(), 0, SEEK_SET) == 0 ? 0 : errno;
    if (err == 0) err = writeParts(fd.get(), parts);
    if (err == 0 && ::ftruncate(fd.get(), totalSize(parts)) != 0) err = errno;
    if (err == 0 && ::fsync(fd.get()) != 0) err = errno;
    if (err != 0 && putBack(fd.get(), copy) != 0) return {err, 0, copy.path};
    if (err == 0 && ::close(fd.release()) != 0) return {errno, 0, copy.path};
    if (!copy.path.empty()) ::unlink(copy.path.c_str());
    return {err};
}

}  // namespace kerbilo::posix_detail
