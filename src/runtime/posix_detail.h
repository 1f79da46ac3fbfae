#pragma once
// What the files of the POSIX binding share: the reasons of this program's own beside
// errno values, an owned descriptor, temporary files beside a target, and the ways a write
// is done. Internal to the runtime library; the interface is runtime/file_services.h.

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "runtime/byte_buffer.h"
#include "runtime/file_error.h"
#include "runtime/gbk.h"

namespace kerbilo::posix_detail {

class Fd {
  public:
    explicit Fd(int fd) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }
    void reset(int fd) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    int release() {
        int f = fd_;
        fd_ = -1;
        return f;
    }

  private:
    int fd_;
};

inline std::string native(std::string_view gbkPath) {
    return gbkToUtf8(gbkPath);
}

// ---- shared by the ways of writing (posix_common.cpp) ------------------------------------

bool writeFully(int fd, const std::uint8_t* p, std::size_t n);
// Writes the parts one after the other; 0 or errno.
int writeParts(int fd, std::span<const ByteBuffer> parts);
off_t totalSize(std::span<const ByteBuffer> parts);
bool sameFile(const struct stat& a, const struct stat& b);
// The folder part of a path with its trailing '/', empty for a bare name.
std::string folderOf(const std::string& path);
std::string temporaryFolder();
// Creates a file of a new random name in folder ("" is the current one) and tells its path;
// −1 with errno on failure. The mode is cut by the umask like any new file's.
int createUnique(const std::string& folder, int access, mode_t mode, std::string& path);

// Why a write failed: a reason, what caused it, and where the old content was left when it
// could not be put back.
struct WriteFailure {
    WriteFailure() = default;
    WriteFailure(int err, int cause = 0, std::string copyLeftAt = {})
        : err(err), cause(cause), copyLeftAt(std::move(copyLeftAt)) {}

    int err = 0;  // 0: no failure
    int cause = 0;
    std::string copyLeftAt;
};

// ---- replacing by rename (posix_replace.cpp) ---------------------------------------------

// The name a path ends at once its symbolic links are followed: where a replacement is
// renamed to, or the file a dangling link asks to be created. The path itself when it is no
// link or cannot be examined (the operation on it then says why). A link under /proc, where
// /dev/stdout and /dev/fd/N lead, names a file some process has open rather than a place in
// a folder: *namesOpenFile tells so, and that file is written where it is, as the shell
// writes "> /dev/stdout".
std::optional<std::string> followLinks(std::string path, bool* namesOpenFile);

// A new file is written under a temporary name beside where it goes and renamed there, so
// it never shows half written. It is not synced: a machine that stops loses nothing older,
// and export all writes thousands of new files.
WriteFailure createFile(const std::string& given, std::span<const ByteBuffer> parts);

enum class Replaced { kYes, kFailed, kNotKeepable };

// Replaces the regular file at target (old: its status) by one written beside it and renamed
// over it once complete and on disk, so a failure or a crash leaves the old one. kNotKeepable
// when the new file cannot take the old one's owner, group and mode, or cannot be made or
// renamed in that folder: the file is then to be written in place.
Replaced replaceByRename(const std::string& target, const struct stat& old,
                         std::span<const ByteBuffer> parts, WriteFailure& why);

// ---- writing in place with a copy of the old bytes (posix_overwrite.cpp) -----------------

// Overwrites the regular file open as fd (status st) where it is, which keeps all that a
// rename would lose: its other links, an owner the caller cannot give a new file, its place
// in a folder the caller may not write in. As editors do when they back up by copying, the
// old bytes are first copied aside (beside the file in besideFolder when that can be
// written, else in the temporary folder) and put back if the new ones cannot be written
// in full.
WriteFailure overwriteInPlace(const std::string& given, Fd& fd, const struct stat& st,
                              const std::optional<std::string>& besideFolder,
                              std::span<const ByteBuffer> parts);

// ---- choosing the way (posix_write.cpp) ---------------------------------------------------

// Writes the parts to what the path (UTF-8) names, as FileServices::writeWholeFile says.
WriteFailure writeAt(const std::string& given, std::span<const ByteBuffer> parts);

}  // namespace kerbilo::posix_detail
