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

WriteFailure createFile(const std::string& given, std::span<const ByteBuffer> parts) {
    bool namesOpenFile = false;
    const std::optional<std::string> target = followLinks(given, &namesOpenFile);
    if (!target) return {errno};
    std::string tmp;
    Fd fd(createUnique(folderOf(*target), O_WRONLY, 0666, tmp));
    if (fd.get() < 0) return {errno};
    int err = writeParts(fd.get(), parts);
    if (err == 0 && ::close(fd.release()) != 0) err = errno;
    if (err == 0 && ::rename(tmp.c_str(), target->c_str()) != 0) err = errno;
    if (err != 0) ::unlink(tmp.c_str());
    return {err};
}

Replaced replaceByRename(const std::string& target, const struct stat& old,
                         std::span<const ByteBuffer> parts, WriteFailure& why) {
    std::string tmp;
    Fd fd(createUnique(folderOf(target), O_WRONLY, 0600, tmp));
    if (fd.get() < 0) {
        if (errno == EACCES || errno == EPERM || errno == EROFS) return Replaced::kNotKeepable;
        why = {errno};
        return Replaced::kFailed;
    }
    auto drop = [&](Replaced r) {
        ::unlink(tmp.c_str());
        return r;
    };
    // Owner first: changing it clears the set-id bits that the mode then sets. A user may
    // give a file only to a group of their own, and the kernel silently drops the set-group
    // bit for others, so the result is checked rather than assumed.
    struct stat now {};
    if (::fstat(fd.get(), &now) != 0) {
        why = {errno};
        return drop(Replaced::kFailed);
    }
    if ((now.st_uid != old.st_uid || now.st_gid != old.st_gid) &&
        ::fchown(fd.get(), old.st_uid, old.st_gid) != 0)
        return drop(Replaced::kNotKeepable);
    const mode_t mode = old.st_mode & 07777;
    if (::fchmod(fd.get(), mode) != 0 || ::fstat(fd.get(), &now) != 0 ||
        (now.st_mode & 07777) != mode || now.st_uid != old.st_uid || now.st_gid != old.st_gid)
        return drop(Replaced::kNotKeepable);
    int err = writeParts(fd.get(), parts);
    // The new content must be on disk before the rename makes it the only copy.
    if (err == 0 && ::fsync(fd.get()) != 0) err = errno;
    if (err == 0 && ::close(fd.release()) != 0) err = errno;
    if (err != 0) {
        why = {err};
        return drop(Replaced::kFailed);
    }
    if (::rename(tmp.c_str(), target.c_str()) != 0) {
        // A sticky folder lets only the owner rename over a file; a mount point is no name
        // a rename may take.
        if (errno == EPERM || errno == EACCES || errno == EBUSY)
            return drop(Replaced::kNotKeepable);
        why = {errno};
        return drop(Replaced::kFailed);
    }
    return Replaced::kYes;
}

}  // namespace kerbilo::posix_detail
