#include <fcntl.h>
#include <signal.h>
#include <sys/xattr.h>
#include <time.h>

#include <cerrno>

#include "runtime/file_services.h"
#include "runtime/posix_detail.h"

namespace kerbilo {

namespace posix_detail {

namespace {

// Writing to a FIFO whose reader has gone raises SIGPIPE, which would end the program; the
// write is to fail with EPIPE instead. The signal is held for this thread while writing, and
// one that the write raised is taken back before it is let through again.
class SigpipeHeld {
  public:
    SigpipeHeld() {
        sigemptyset(&pipe_);
        sigaddset(&pipe_, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe_, &before_);
        sigset_t pending;
        sigpending(&pending);
        wasPending_ = sigismember(&pending, SIGPIPE) == 1;
    }
    ~SigpipeHeld() {
        if (!wasPending_) {
            const timespec none{};
            while (sigtimedwait(&pipe_, nullptr, &none) == SIGPIPE) {
            }
        }
        pthread_sigmask(SIG_SETMASK, &before_, nullptr);
    }
    SigpipeHeld(const SigpipeHeld&) = delete;
    SigpipeHeld& operator=(const SigpipeHeld&) = delete;

  private:
    sigset_t pipe_{};
    sigset_t before_{};
    bool wasPending_ = false;
};

// Devices and FIFOs are written where they are: a terminal, /dev/null, a disk image, the
// program reading at the other end. There is nothing to replace and nothing to keep.
WriteFailure writeStream(Fd& fd, const struct stat& st, std::span<const ByteBuffer> parts) {
    // Opened without blocking only so that a FIFO without reader fails at once; the writes
    // then wait for the reader as any writer's do.
    const int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return {errno};
    int err = 0;
    if (S_ISFIFO(st.st_mode)) {
        SigpipeHeld held;
        err = writeParts(fd.get(), parts);
    } else {
        err = writeParts(fd.get(), parts);
    }
    // A disk has its bytes only once flushed; a terminal or /dev/null cannot be synced.
    if (err == 0 && S_ISBLK(st.st_mode) && ::fsync(fd.get()) != 0) err = errno;
    if (err == 0 && ::close(fd.release()) != 0) err = errno;
    return {err};
}

// A regular file that exists: replaced by rename where that keeps all it is (one link, a
// name in a folder, an owner, group and mode the new file can take, no access list),
// otherwise overwritten in place.
WriteFailure writeRegular(const std::string& given, Fd& fd, const struct stat& st,
                          std::span<const ByteBuffer> parts) {
    bool namesOpenFile = false;
    const std::optional<std::string> target = followLinks(given, &namesOpenFile);
    struct stat named {};
    const bool placed =
        target && !namesOpenFile && ::stat(target->c_str(), &named) == 0 && sameFile(named, st);
    // An access control list gives others rights a new file would not have.
    const bool hasAccessList = ::fgetxattr(fd.get(), "system.posix_acl_access", nullptr, 0) > 0;
    if (placed && st.st_nlink == 1 && !hasAccessList) {
        WriteFailure why;
        switch (replaceByRename(*target, st, parts, why)) {
            case Replaced::kYes:
                return {};
            case Replaced::kFailed:
                return why;
            case Replaced::kNotKeepable:
                break;
        }
    }
    return overwriteInPlace(given, fd, st,
                            placed ? std::optional<std::string>(folderOf(*target)) : std::nullopt,
                            parts);
}

}  // namespace

WriteFailure writeAt(const std::string& given, std::span<const ByteBuffer> parts) {
    // Opening for writing is the check the shell's ">" makes: a file the caller may not write
    // is refused, and root may write a read-only one. O_NONBLOCK: a FIFO without reader fails
    // at once instead of waiting for one. O_NOCTTY: a terminal does not become ours.
    Fd fd(::open(given.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY));
    if (fd.get() < 0) {
        const int err = errno;
        if (err == ENOENT) return createFile(given, parts);  // or what a dangling link names
        struct stat st {};
        if (err == ENXIO && ::stat(given.c_str(), &st) == 0) {
            if (S_ISSOCK(st.st_mode)) return {kSocket};
            if (S_ISFIFO(st.st_mode)) return {kNoReader};
        }
        return {err};
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) return {errno};
    if (S_ISREG(st.st_mode)) return writeRegular(given, fd, st, parts);
    return writeStream(fd, st, parts);
}

}  // namespace posix_detail

using namespace posix_detail;

bool PosixFileServices::writeWholeFile(std::string_view path, std::span<const ByteBuffer> parts) {
    if (path.empty()) {
        fail(ENOENT);
        return false;
    }
    const WriteFailure failure = writeAt(native(path), parts);
    if (failure.err == 0) return true;
    lastFailure_ = FileError{failure.err, failure.cause, failure.copyLeftAt};
    return false;
}

}  // namespace kerbilo
