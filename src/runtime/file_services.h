#pragma once
// The logic reaches the file system only through this interface. Paths are GBK texts; a
// binding converts them for its platform. Failures come back as results (empty buffer,
// false, the caller's default), never as exceptions; lastError() tells why, for callers
// that report it to the user.

#include <memory>
#include <optional>
#include <span>
#include <string_view>

#include "runtime/byte_buffer.h"
#include "runtime/file_error.h"
#include "runtime/progress.h"

namespace kerbilo {

// A file written as it is made, for output too large to be held first (export all's
// manifest of a million rows). Nothing shows at its path until finish() puts it there as
// writeWholeFile would put it; dropped unfinished, it leaves nothing.
class FileWriter {
  public:
    virtual ~FileWriter() = default;
    // Adds the bytes at the end; false once anything failed (failure() says why).
    virtual bool write(std::string_view bytes) = 0;
    // Makes what was written the file at the path; false when that or a write failed.
    virtual bool finish() = 0;
    virtual FileError failure() const = 0;
};

class FileServices {
  public:
    virtual ~FileServices() = default;

    // Directory of the running program, absolute, without a trailing separator.
    virtual Text programDirectory() const = 0;

    // The whole file, or nothing when it cannot be read (lastError() then says why).
    // A readable empty file gives an empty buffer, not nothing. A file that reports no size
    // (those under /proc) is read to its end; a disk is read whole; pipes, sockets and
    // character devices are refused at once, as they may block or never end.
    virtual std::optional<ByteBuffer> tryReadWholeFile(std::string_view path) = 0;

    // The same, read in steps of a few MiB so a window can answer meanwhile: once the size
    // is known it becomes the total of progress's current stage, after each step the bytes
    // read so far are reported, and between steps pending events may run. A file that
    // cannot be read gives nothing, as above. By default one step: the whole file at once.
    virtual std::optional<ByteBuffer> readWholeFileInSteps(std::string_view path,
                                                           Progress& progress) {
        (void)progress;
        return tryReadWholeFile(path);
    }

    // The whole file as tryReadWholeFile gives it, but a regular file may come mapped
    // read-only instead of copied, so a file larger than memory can be scanned; its pages
    // stay the page cache's. Bindings that cannot map read.
    virtual std::optional<ByteBuffer> tryMapWholeFile(std::string_view path) {
        return tryReadWholeFile(path);
    }

    // Writes the buffers one after the other to what the path names, and keeps what that
    // is. A new file is created whole; an existing file is replaced only once every byte has
    // been written, with its mode, owner and group, or where a replacement could not keep
    // those (other hard links, an owner the caller cannot give, a folder the caller may not
    // write in) it is overwritten in place with its old bytes kept aside until the write has
    // succeeded; either way a failure leaves it as it was. Symbolic links are followed (a
    // dangling one creates what it names), devices and FIFOs are written where they are, a
    // FIFO without reader and a socket are refused at once, and so is a file the caller may
    // not write, as the shell's ">" would refuse it.
    virtual bool writeWholeFile(std::string_view path, std::span<const ByteBuffer> parts) = 0;

    // A file for the path written piece by piece, then put there as writeWholeFile puts
    // one. By default the pieces are held and written whole at the end.
    virtual std::unique_ptr<FileWriter> startFile(std::string_view path);

    // Creates that one directory; false when it exists already or cannot be made.
    virtual bool createDirectory(std::string_view path) = 0;

    // Anything at all at the path: a file, a directory, a device.
    virtual bool pathExists(std::string_view path) = 0;
    // A directory at the path, or a symbolic link to one.
    virtual bool isDirectory(std::string_view path) = 0;

    // Why the last failed operation failed.
    virtual FileError lastFailure() const = 0;

    // Services of the same file system for work on another thread (lastError is per
    // instance); nothing when this binding cannot give them, and the work stays on one.
    virtual std::unique_ptr<FileServices> forAnotherThread() const { return nullptr; }

    // ---- built on the operations above -------------------------------------------------

    // The last failure in Chinese, as the window shows it.
    Text lastError() const { return describeError(lastFailure()); }

    ByteBuffer readWholeFile(std::string_view path) {
        return tryReadWholeFile(path).value_or(ByteBuffer{});
    }
    bool writeWholeFile(std::string_view path, const ByteBuffer& data) {
        return writeWholeFile(path, std::span<const ByteBuffer>(&data, 1));
    }

    Text readIniValue(std::string_view path, std::string_view section, std::string_view key,
                      std::string_view defaultValue);
    // False, without touching the file, when a name or the value holds a CR or LF; then
    // lastError() is not about this call.
    bool writeIniValue(std::string_view path, std::string_view section, std::string_view key,
                       std::string_view value);
};

// The binding to the local POSIX file system.
class PosixFileServices final : public FileServices {
  public:
    // programDir is where the settings files live (runtime/program_directory.h).
    explicit PosixFileServices(Text programDir);

    Text programDirectory() const override { return programDir_; }
    std::optional<ByteBuffer> tryReadWholeFile(std::string_view path) override;
    std::optional<ByteBuffer> tryMapWholeFile(std::string_view path) override;
    std::optional<ByteBuffer> readWholeFileInSteps(std::string_view path,
                                                   Progress& progress) override;
    using FileServices::writeWholeFile;
    bool writeWholeFile(std::string_view path, std::span<const ByteBuffer> parts) override;
    std::unique_ptr<FileWriter> startFile(std::string_view path) override;
    bool createDirectory(std::string_view path) override;
    bool pathExists(std::string_view path) override;
    bool isDirectory(std::string_view path) override;
    FileError lastFailure() const override { return lastFailure_; }
    std::unique_ptr<FileServices> forAnotherThread() const override {
        return std::make_unique<PosixFileServices>(programDir_);
    }

  private:
    void fail(int err);
    std::optional<ByteBuffer> readWhole(std::string_view path, Progress* progress);

    Text programDir_;
    FileError lastFailure_;
};

// Directory of the running executable (GBK), from /proc/self/exe; empty when unknown.
Text executableDirectory();

// Makes the program directory the current directory; false when that fails.
bool enterDirectory(std::string_view gbkPath);

}  // namespace kerbilo
