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

// ---- files that get their name only when complete (posix_pending.cpp) -------------------

// The name of a temporary file of this process: ".kerbilo-PID-XXXXXX.tmp". A run that is
// killed may leave one (only where the file system cannot make unnamed files, or in the
// instant between naming a complete file and renaming it); the name says whose it was.
std::string temporaryName();
// The process a name of temporaryName's form belongs to; nothing for any other name.
std::optional<pid_t> temporaryNameOwner(std::string_view name);
// The name the old bytes of fileName are kept under while it is written in place:
// ".NAME.XXXXXX.kerbilo-backup", NAME shortened when the whole would be too long. One left
// behind by a killed run holds the old bytes whole; nothing removes it but the user.
std::string backupName(std::string_view fileName);
// Removes, once per folder and process, the temporary files that killed runs left there:
// only names of temporaryName's form, regular files of this user, whose process is gone and
// whose lock nobody holds. folder ends with '/' or is empty (the current folder).
void removeStaleTemporaries(const std::string& folder);

// A new file in a folder that gets its name only once it is complete, so that a reader never
// sees it half written and a killed run leaves nothing: an unnamed file (O_TMPFILE) where
// the file system makes them, else a file of temporaryName's, locked while it is ours.
class PendingFile {
  public:
    PendingFile() = default;
    ~PendingFile();  // a file that got no name goes
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    // In folder (ending with '/', or "" for the current one), open for reading and writing,
    // with mode cut by the umask like any new file's; 0 or errno.
    int open(const std::string& folder, mode_t mode);
    int fd() const { return fd_.get(); }
    bool named() const { return !named_.empty(); }
    // Gives the complete file the path (in its folder) when nothing has that name: 0, EEXIST
    // or errno.
    int link(const std::string& path);
    // Gives it the path whatever has that name now, by rename: 0 or errno.
    int replace(const std::string& path);
    // Closes it (after link or replace, or to give it up); 0 or errno.
    int close();

  private:
    int openNamed();
    int copyIntoNamed();

    Fd fd_{-1};
    std::string folder_;
    mode_t mode_ = 0;
    std::string named_;  // the temporary name it has, until it gets its own
};

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

// Creates the file at the path as a new one when nothing has that name: written unnamed in
// its folder and linked there once complete. Nothing when the name is taken (by a file, a
// link, a folder) or no file can be made that way: the other ways then look at the path.
// Four calls for a small file: the fast way of export all's thousands of files.
std::optional<WriteFailure> createNew(const std::string& given, std::span<const ByteBuffer> parts);

// A new file is written beside where it goes, unnamed or under a temporary name, and named
// there once complete, so it never shows half written. It is not synced: a machine that stops loses
// nothing older, and export all writes thousands of new files.
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
