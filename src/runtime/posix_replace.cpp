#include <fcntl.h>
#include <sys/vfs.h>

#include <cerrno>
#include <climits>

#include "runtime/posix_detail.h"

namespace kerbilo::posix_detail {

namespace {

constexpr decltype(statfs::f_type) kProcFsMagic = 0x9fa0;

}  // namespace

std::optional<std::string> followLinks(std::string path, bool* namesOpenFile) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
        const std::string folder = folderOf(path);
        struct statfs where {};
        if (::statfs(folder.empty() ? "." : folder.c_str(), &where) == 0 &&
            where.f_type == kProcFsMagic) {
            *namesOpenFile = true;
            return path;
        }
        char link[PATH_MAX];
        const ssize_t n = ::readlink(path.c_str(), link, sizeof link);
        if (n <= 0 || static_cast<std::size_t>(n) == sizeof link) return path;
        path = link[0] == '/' ? std::string(link, static_cast<std::size_t>(n))
                              : folder + std::string(link, static_cast<std::size_t>(n));
    }
    errno = ELOOP;
    return std::nullopt;
}

std::optional<WriteFailure> createNew(const std::string& given, std::span<const ByteBuffer> parts) {
    // Writing a large file only to learn that its name is taken would write it twice: one
    // look first costs nothing beside the bytes.
    struct stat st {};
    if (totalSize(parts) > (off_t{1} << 20) && ::lstat(given.c_str(), &st) == 0)
        return std::nullopt;
    PendingFile file;
    if (file.open(folderOf(given), 0666) != 0) return std::nullopt;
    if (const int err = writeParts(file.fd(), parts); err != 0) return WriteFailure{err};
    // Taken, by a file, a link or a folder: that is for the ways that look at it first.
    if (file.link(given) != 0) return std::nullopt;
    if (file.close() != 0) {
        const int err = errno;
        ::unlink(given.c_str());
        return WriteFailure{err};
    }
    return WriteFailure{};
}

WriteFailure createFile(const std::string& given, std::span<const ByteBuffer> parts) {
    bool namesOpenFile = false;
    const std::optional<std::string> target = followLinks(given, &namesOpenFile);
    if (!target) return {errno};
    PendingFile file;
    if (const int err = file.open(folderOf(*target), 0666); err != 0) return {err};
    int err = writeParts(file.fd(), parts);
    if (err == 0) err = file.link(*target);
    // Something took the name meanwhile: the new file takes it over, as a save does.
    if (err == EEXIST) err = file.replace(*target);
    if (err == 0 && file.close() != 0) {
        err = errno;
        ::unlink(target->c_str());
    }
    return {err};
}

Replaced replaceByRename(const std::string& target, const struct stat& old,
                         std::span<const ByteBuffer> parts, WriteFailure& why) {
    PendingFile file;
    if (const int err = file.open(folderOf(target), 0600); err != 0) {
        if (err == EACCES || err == EPERM || err == EROFS) return Replaced::kNotKeepable;
        why = {err};
        return Replaced::kFailed;
    }
    const int fd = file.fd();
    // Owner first: changing it clears the set-id bits that the mode then sets. A user may
    // give a file only to a group of their own, and the kernel silently drops the set-group
    // bit for others, so the result is checked rather than assumed.
    struct stat now {};
    if (::fstat(fd, &now) != 0) {
        why = {errno};
        return Replaced::kFailed;
    }
    if ((now.st_uid != old.st_uid || now.st_gid != old.st_gid) &&
        ::fchown(fd, old.st_uid, old.st_gid) != 0)
        return Replaced::kNotKeepable;
    const mode_t mode = old.st_mode & 07777;
    if (::fchmod(fd, mode) != 0 || ::fstat(fd, &now) != 0 || (now.st_mode & 07777) != mode ||
        now.st_uid != old.st_uid || now.st_gid != old.st_gid)
        return Replaced::kNotKeepable;
    int err = writeParts(fd, parts);
    // The new content must be on disk before the rename makes it the only copy.
    if (err == 0 && ::fsync(fd) != 0) err = errno;
    if (err != 0) {
        why = {err};
        return Replaced::kFailed;
    }
    if (const int renamed = file.replace(target); renamed != 0) {
        // A sticky folder lets only the owner rename over a file; a mount point is no name
        // a rename may take.
        if (renamed == EPERM || renamed == EACCES || renamed == EBUSY)
            return Replaced::kNotKeepable;
        why = {renamed};
        return Replaced::kFailed;
    }
    file.close();
    return Replaced::kYes;
}

}  // namespace kerbilo::posix_detail
