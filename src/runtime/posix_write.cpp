#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
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
    // Most writes make a new file (export all makes thousands): tried first, it costs an
    // open, the writes, a link and a close, and looks no further when the name is free.
    if (std::optional<WriteFailure> created = createNew(given, parts)) return *created;
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

namespace {

FileError asFileError(const WriteFailure& failure) {
    return FileError{failure.err, failure.cause, failure.copyLeftAt};
}

// Writes into a file that has no name yet in the folder where it goes, and names it once
// complete; a path already taken gets the file as writeWholeFile would give it, from a
// mapping of what was written. Where no such file can be made the pieces are held instead.
class PosixFileWriter final : public FileWriter {
  public:
    PosixFileWriter(FileServices& files, std::string_view path)
        : given_(native(path)), held_(files.FileServices::startFile(path)) {
        if (!path.empty() && file_.open(folderOf(given_), 0666) == 0) held_.reset();
    }

    bool write(std::string_view bytes) override {
        if (held_) return held_->write(bytes);
        if (failure_) return false;
        if (buffer_.size() + bytes.size() > kBuffer) flush();
        if (bytes.size() >= kBuffer) {
            if (!failure_ &&
                !writeFully(file_.fd(), reinterpret_cast<const std::uint8_t*>(bytes.data()),
                            bytes.size()))
                failure_.code = errno;
        } else {
            buffer_.append(bytes);
        }
        return !failure_;
    }

    bool finish() override {
        if (held_) return held_->finish();
        flush();
        if (failure_) return false;
        if (file_.link(given_) == 0) {
            if (file_.close() == 0) return true;
            failure_.code = errno;
            ::unlink(given_.c_str());
            return false;
        }
        // The name is taken: what stands there decides how it is written.
        struct stat st {};
        if (::fstat(file_.fd(), &st) != 0) {
            failure_.code = errno;
            return false;
        }
        ByteBuffer content;
        if (st.st_size > 0) {
            const auto size = static_cast<std::size_t>(st.st_size);
            void* p = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, file_.fd(), 0);
            if (p == MAP_FAILED) {
                failure_.code = errno;
                return false;
            }
            content = ByteBuffer::readOnly(
                std::shared_ptr<std::uint8_t[]>(static_cast<std::uint8_t*>(p),
                                                [size](std::uint8_t* q) { ::munmap(q, size); }),
                size);
        }
        failure_ = asFileError(writeAt(given_, std::span<const ByteBuffer>(&content, 1)));
        return !failure_;
    }

    FileError failure() const override { return held_ ? held_->failure() : failure_; }

  private:
    static constexpr std::size_t kBuffer = std::size_t{1} << 18;

    void flush() {
        if (!failure_ && !buffer_.empty() &&
            !writeFully(file_.fd(), reinterpret_cast<const std::uint8_t*>(buffer_.data()),
                        buffer_.size()))
            failure_.code = errno;
        buffer_.clear();
    }

    std::string given_;
    PendingFile file_;
    std::unique_ptr<FileWriter> held_;
    std::string buffer_;
    FileError failure_;
};

}  // namespace

std::unique_ptr<FileWriter> PosixFileServices::startFile(std::string_view path) {
    return std::make_unique<PosixFileWriter>(*this, path);
}

bool PosixFileServices::writeWholeFile(std::string_view path, std::span<const ByteBuffer> parts) {
    if (path.empty()) {
        fail(ENOENT);
        return false;
    }
    const WriteFailure failure = writeAt(native(path), parts);
    if (failure.err == 0) return true;
    lastFailure_ = asFileError(failure);
    return false;
}

}  // namespace kerbilo
