#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/random.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <set>

#include "runtime/posix_detail.h"

namespace kerbilo::posix_detail {

namespace {

constexpr std::string_view kTempPrefix = ".kerbilo-";
constexpr std::string_view kTempSuffix = ".tmp";
constexpr std::string_view kBackupSuffix = ".kerbilo-backup";
constexpr std::size_t kRandomChars = 6;
constexpr std::size_t kNameMax = 255;

// Six letters or digits that differ from call to call. The process draws its seed once, so
// that thousands of files cost no call for entropy each; O_EXCL and EEXIST do the rest.
std::string randomPart() {
    static constexpr char kChars[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    static const std::uint64_t seed = [] {
        std::uint64_t s = 0;
        if (::getrandom(&s, sizeof s, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof s)) {
            timespec now{};
            ::clock_gettime(CLOCK_REALTIME, &now);
            s = static_cast<std::uint64_t>(now.tv_nsec) ^
                (static_cast<std::uint64_t>(now.tv_sec) << 30) ^
                (static_cast<std::uint64_t>(::getpid()) << 48);
        }
        return s;
    }();
    static std::atomic<std::uint64_t> counter{0};
    // splitmix64 of seed and counter: consecutive names look unrelated.
    std::uint64_t x = seed + (counter++ + 1) * 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    x ^= x >> 31;
    std::string part;
    for (std::size_t i = 0; i < kRandomChars; ++i, x /= 62) part += kChars[x % 62];
    return part;
}

bool alnum(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// A file system that cannot make unnamed files answers O_TMPFILE with one of these.
bool noUnnamedFiles(int err) {
    return err == EOPNOTSUPP || err == EISDIR || err == EINVAL;
}

// How an unnamed file gets a name: AT_EMPTY_PATH needs CAP_DAC_READ_SEARCH on kernels before
// 6.10, /proc/self/fd needs /proc. The first that works is kept for the process.
enum LinkWay { kUnknown, kEmptyPath, kThroughProc, kNoWay };
std::atomic<int> linkWay{kUnknown};

int linkUnnamed(int fd, const std::string& path) {
    const int way = linkWay.load(std::memory_order_relaxed);
    if (way == kUnknown || way == kEmptyPath) {
        if (::linkat(fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0) {
            linkWay.store(kEmptyPath, std::memory_order_relaxed);
            return 0;
        }
        if ((errno != ENOENT && errno != EPERM) || way == kEmptyPath) return errno;
    }
    if (way != kNoWay) {
        char proc[32];
        std::snprintf(proc, sizeof proc, "/proc/self/fd/%d", fd);
        if (::linkat(AT_FDCWD, proc, AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            linkWay.store(kThroughProc, std::memory_order_relaxed);
            return 0;
        }
        const int err = errno;
        if (err != ENOENT || ::access("/proc/self/fd", F_OK) == 0) return err;
        linkWay.store(kNoWay, std::memory_order_relaxed);
    }
    return ENOTSUP;  // no way to name it: the caller copies it into a named file
}

// Moves a file over another's name only when that name is free: 0, EEXIST or errno.
int renameIfFree(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return 0;
    if (errno != EINVAL && errno != ENOSYS) return errno;
    // A file system without the flag: a second link, then the first one goes.
    if (::link(from.c_str(), to.c_str()) != 0) return errno;
    ::unlink(from.c_str());
    return 0;
}

}  // namespace

std::string temporaryName() {
    return std::string(kTempPrefix) + std::to_string(::getpid()) + "-" + randomPart() +
           std::string(kTempSuffix);
}

std::optional<pid_t> temporaryNameOwner(std::string_view name) {
    if (!name.starts_with(kTempPrefix) || !name.ends_with(kTempSuffix)) return std::nullopt;
    name.remove_prefix(kTempPrefix.size());
    name.remove_suffix(kTempSuffix.size());
    const std::size_t dash = name.find('-');
    if (dash == std::string_view::npos || dash == 0 || dash > 10 ||
        name.size() - dash - 1 != kRandomChars)
        return std::nullopt;
    long long pid = 0;
    for (std::size_t i = 0; i < dash; ++i) {
        if (name[i] < '0' || name[i] > '9') return std::nullopt;
        pid = pid * 10 + (name[i] - '0');
    }
    for (std::size_t i = dash + 1; i < name.size(); ++i)
        if (!alnum(name[i])) return std::nullopt;
    if (pid <= 0 || pid > INT_MAX) return std::nullopt;
    return static_cast<pid_t>(pid);
}

std::string backupName(std::string_view fileName) {
    // ".NAME.XXXXXX.kerbilo-backup", NAME cut short (at a character's start) when the whole
    // would pass the longest name a folder takes.
    const std::size_t room = kNameMax - 2 - kRandomChars - 1 - kBackupSuffix.size();
    if (fileName.size() > room) {
        std::size_t cut = room;
        while (cut > 0 && (static_cast<unsigned char>(fileName[cut]) & 0xC0) == 0x80) --cut;
        fileName = fileName.substr(0, cut);
    }
    return "." + std::string(fileName) + "." + randomPart() + std::string(kBackupSuffix);
}

void removeStaleTemporaries(const std::string& folder) {
    // Once per folder and process: a folder's stale files are those of earlier runs.
    static std::mutex mutex;
    static std::set<std::string> swept;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (!swept.insert(folder).second) return;
    }
    DIR* dir = ::opendir(folder.empty() ? "." : folder.c_str());
    if (!dir) return;
    const int dfd = ::dirfd(dir);
    const pid_t self = ::getpid();
    while (const dirent* entry = ::readdir(dir)) {
        const std::optional<pid_t> owner = temporaryNameOwner(entry->d_name);
        if (!owner || *owner == self) continue;
        // Its process is gone (a process of that number that lives may be its writer)...
        if (::kill(*owner, 0) == 0 || errno != ESRCH) continue;
        Fd fd(::openat(dfd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        if (fd.get() < 0) continue;
        struct stat st {};
        if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid())
            continue;
        // ...and nothing holds its lock: no writer on another machine or in another pid
        // namespace is at work on it.
        if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) continue;
        struct stat named {};
        if (::fstatat(dfd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 && sameFile(named, st))
            ::unlinkat(dfd, entry->d_name, 0);
    }
    ::closedir(dir);
}

PendingFile::~PendingFile() {
    if (!named_.empty()) ::unlink(named_.c_str());
}

int PendingFile::open(const std::string& folder, mode_t mode) {
    folder_ = folder;
    mode_ = mode;
    if (linkWay.load(std::memory_order_relaxed) != kNoWay) {
        const std::string where = folder.empty() ? "." : folder;
        fd_.reset(::open(where.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, mode));
        if (fd_.get() >= 0) return 0;
        if (!noUnnamedFiles(errno)) return errno;
    }
    return openNamed();
}

int PendingFile::openNamed() {
    removeStaleTemporaries(folder_);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string path = folder_ + temporaryName();
        fd_.reset(::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, mode_));
        if (fd_.get() >= 0) {
            named_ = path;
            // Locked while it is ours, so a later run takes it for stale only once we are gone.
            ::flock(fd_.get(), LOCK_EX | LOCK_NB);
            return 0;
        }
        if (errno != EEXIST) return errno;
    }
    return EEXIST;
}

int PendingFile::copyIntoNamed() {
    // An unnamed file that cannot be named: its bytes go into a named one instead.
    Fd from(fd_.release());
    const int err = openNamed();
    if (err != 0) return err;
    if (::lseek(from.get(), 0, SEEK_SET) != 0) return errno;
    std::uint8_t buf[1 << 16];
    for (;;) {
        const ssize_t r = ::read(from.get(), buf, sizeof buf);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return errno;
        if (r == 0) break;
        if (!writeFully(fd_.get(), buf, static_cast<std::size_t>(r))) return errno;
    }
    // What the unnamed file was given (a replaced file's owner and mode) goes with it.
    struct stat was {};
    struct stat now {};
    if (::fstat(from.get(), &was) != 0 || ::fstat(fd_.get(), &now) != 0) return errno;
    if ((was.st_uid != now.st_uid || was.st_gid != now.st_gid) &&
        ::fchown(fd_.get(), was.st_uid, was.st_gid) != 0)
        return EPERM;
    return ::fchmod(fd_.get(), was.st_mode & 07777) == 0 ? 0 : errno;
}

int PendingFile::link(const std::string& path) {
    if (named_.empty()) {
        const int err = linkUnnamed(fd_.get(), path);
        if (err != ENOTSUP) return err;
        if (const int copied = copyIntoNamed(); copied != 0) return copied;
    }
    const int err = renameIfFree(named_, path);
    if (err == 0) named_.clear();
    return err;
}

int PendingFile::replace(const std::string& path) {
    if (named_.empty()) {
        // A rename needs a name to move from: the file gets one only now that it is complete,
        // locked first so that no later run takes it for one left by a killed process.
        removeStaleTemporaries(folder_);
        ::flock(fd_.get(), LOCK_EX | LOCK_NB);
        int err = EEXIST;
        for (int attempt = 0; attempt < 100 && err == EEXIST; ++attempt) {
            const std::string name = folder_ + temporaryName();
            err = linkUnnamed(fd_.get(), name);
            if (err == 0) named_ = name;
        }
        if (err == ENOTSUP) err = copyIntoNamed();
        if (err != 0) return err;
    }
    if (::rename(named_.c_str(), path.c_str()) != 0) return errno;
    named_.clear();
    return 0;
}

int PendingFile::close() {
    return ::close(fd_.release()) == 0 ? 0 : errno;
}

}  // namespace kerbilo::posix_detail
