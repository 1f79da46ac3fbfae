#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "runtime/file_services.h"
#include "runtime/memory.h"
#include "runtime/posix_detail.h"

namespace kerbilo {

using namespace posix_detail;

namespace {

// A step of a read someone watches: short enough that a window answering between steps
// does not seem stuck, even from a slow disk.
constexpr std::size_t kReadStep = std::size_t{4} << 20;

// Reads that bypass the page cache go in whole blocks of this size, to and from addresses
// it divides; 4096 suits every block size a disk here has.
constexpr std::size_t kDirectAlign = 4096;

// Files smaller than this are read through the page cache whatever it holds of them.
constexpr std::size_t kDirectFrom = std::size_t{32} << 20;

// Files up to this size are read without first asking how much memory is left.
constexpr off_t kMemoryCheckedFrom = off_t{1} << 20;

// Whether fewer than half of the file's pages are in the page cache; false when that
// cannot be told.
bool mostlyUncached(int fd, std::size_t size) {
    void* m = ::mmap(nullptr, size, PROT_READ, MAP_SHARED, fd, 0);
    if (m == MAP_FAILED) return false;
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    std::vector<unsigned char> resident((size + page - 1) / page);
    std::size_t cached = resident.size();
    if (::mincore(m, size, resident.data()) == 0) {
        cached = 0;
        for (const unsigned char r : resident) cached += r & 1u;
    }
    ::munmap(m, size);
    return cached < resident.size() / 2;
}

// A large file the page cache does not hold would be read from the disk into the cache and
// copied from there into the buffer: twice the memory, and a second copy nobody needs once
// the program holds the bytes. It is read past the cache (O_DIRECT), straight into the
// buffer, when the buffer is aligned for that; a file mostly in the cache is copied from it,
// which is faster than the disk. True when the reads go past the cache.
bool readPastCacheWhenUncached(int fd, const std::uint8_t* buf, std::size_t size) {
    if (size < kDirectFrom || reinterpret_cast<std::uintptr_t>(buf) % kDirectAlign != 0 ||
        !mostlyUncached(fd, size))
        return false;
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_DIRECT) == 0;
}

// One read() into buf[0, want). Past the cache it asks for whole blocks only; the last part
// of the file, a read that came back short, or a file system that refuses such reads turns
// it back to reads through the cache for the rest.
ssize_t readSome(int fd, std::uint8_t* buf, std::size_t want, bool& pastCache) {
    if (pastCache) {
        const std::size_t blocks = want / kDirectAlign * kDirectAlign;
        if (blocks > 0 && reinterpret_cast<std::uintptr_t>(buf) % kDirectAlign == 0) {
            const ssize_t r = ::read(fd, buf, blocks);
            if (r >= 0 || errno != EINVAL) return r;
        }
        pastCache = false;
        const int flags = ::fcntl(fd, F_GETFL);
        if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_DIRECT);
    }
    return ::read(fd, buf, want);
}

// Reads until end of file into buf[0, cap); returns bytes read or −1. With progress, in
// steps of kReadStep, each reported as `before` plus the bytes read so far, with pending
// events let run between them.
std::int64_t readFully(int fd, std::uint8_t* buf, std::size_t cap, Progress* progress = nullptr,
                       std::size_t before = 0, bool pastCache = false) {
    std::size_t got = 0;
    while (got < cap) {
        // Large requests keep the syscall count low; the kernel caps one read at ~2 GiB.
        const std::size_t want =
            std::min<std::size_t>(cap - got, progress ? kReadStep : std::size_t{1} << 30);
        const ssize_t r = readSome(fd, buf + got, want, pastCache);
        if (r < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (r == 0) break;
        got += static_cast<std::size_t>(r);
        if (progress) {
            progress->reached(static_cast<std::int64_t>(before + got));
            // Between steps only: a file read in one step needs none.
            if (got < cap) progress->step();
            if (progress->cancelled()) {
                errno = ECANCELED;
                return -1;
            }
        }
    }
    return static_cast<std::int64_t>(got);
}

// Reads a file whose size is not known in advance, growing the buffer as it fills; errno
// tells why when it gives nothing.
std::optional<ByteBuffer> readAll(int fd, Progress* progress) {
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
        const std::int64_t r = readFully(fd, b.mutableData() + got, b.size() - got, progress, got);
        if (r < 0) return std::nullopt;
        got += static_cast<std::size_t>(r);
        if (got < b.size()) return got == 0 ? ByteBuffer{} : b.slice(0, got);
    }
}

// Reading a disk in requests of a few MiB, to let events run between them, halved what the
// disk gives (650 MB/s against 1.7 GB/s here). A reader thread asks for 64 MiB at a time
// instead, front to back as the kernel's read-ahead likes it (readers side by side were
// slower), while this thread lets events run every few milliseconds and reports how far
// the reader has got. The buffer is the reader's until it is done.
std::int64_t readWhileEventsRun(int fd, std::uint8_t* buf, std::size_t cap, Progress& progress,
                                bool pastCache) {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::atomic<std::size_t> got{0};
    std::atomic<bool> stop{false};  // the user cancelled: the reader ends after its request
    int error = 0;
    std::thread reader;
    try {
        reader = std::thread([&] {
            std::size_t have = 0;
            while (have < cap && !stop) {
                const ssize_t r =
                    readSome(fd, buf + have,
                             std::min<std::size_t>(cap - have, std::size_t{64} << 20), pastCache);
                if (r < 0 && errno == EINTR) continue;
                if (r < 0) error = errno;
                if (r <= 0) break;
                have += static_cast<std::size_t>(r);
                got = have;
            }
            std::lock_guard lock(mutex);
            done = true;
            finished.notify_all();
        });
    } catch (const std::system_error&) {
        return readFully(fd, buf, cap, &progress, 0, pastCache);  // no thread: steps here
    }
    {
        std::unique_lock lock(mutex);
        while (!finished.wait_for(lock, std::chrono::milliseconds(8), [&] { return done; })) {
            lock.unlock();
            progress.reached(static_cast<std::int64_t>(got.load()));
            progress.step();
            if (progress.cancelled()) stop = true;
            lock.lock();
        }
    }
    reader.join();
    if (stop) error = ECANCELED;
    if (error) {
        errno = error;
        return -1;
    }
    progress.reached(static_cast<std::int64_t>(got.load()));
    return static_cast<std::int64_t>(got.load());
}

}  // namespace

std::optional<ByteBuffer> PosixFileServices::tryReadWholeFile(std::string_view path) {
    return readWhole(path, nullptr);
}

std::optional<ByteBuffer> PosixFileServices::readWholeFileInSteps(std::string_view path,
                                                                  Progress& progress) {
    return readWhole(path, &progress);
}

std::optional<ByteBuffer> PosixFileServices::readWhole(std::string_view path, Progress* progress) {
    if (path.empty()) {
        fail(ENOENT);
        return std::nullopt;
    }
    // O_NONBLOCK: opening a FIFO must not wait for a writer; regular files ignore it.
    const std::string name = native(path);
    Fd fd(::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0) {
        // A socket cannot be opened at all (ENXIO); say what it is rather than "no device".
        struct stat st {};
        const int err = errno;
        fail(err == ENXIO && ::stat(name.c_str(), &st) == 0 && S_ISSOCK(st.st_mode) ? kNotAFile
                                                                                    : err);
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
        std::optional<ByteBuffer> all = readAll(fd.get(), progress);
        if (!all) fail(errno);
        return all;
    }
    // A file larger than the memory left would be read into pages the system then has to
    // swap out, or the program would be killed near the end: refuse it now instead. A small
    // one (a settings file, read at every operation) is not worth the look at /proc: when
    // even that little is missing, the allocation below says so.
    if (const std::optional<std::uint64_t> left =
            size > kMemoryCheckedFrom ? memoryAvailable() : std::nullopt;
        left && static_cast<std::uint64_t>(size) > *left) {
        fail(kLargerThanMemory);
        return std::nullopt;
    }
    ByteBuffer b = ByteBuffer::uninitialized(static_cast<std::size_t>(size));
    std::uint8_t* w = b.mutableData();
    if (!w) {
        fail(ENOMEM);
        return std::nullopt;
    }
    if (progress) progress->setStageTotal(static_cast<std::int64_t>(b.size()));
    const bool pastCache = S_ISREG(st.st_mode) && readPastCacheWhenUncached(fd.get(), w, b.size());
    const std::int64_t got = progress
                                 ? readWhileEventsRun(fd.get(), w, b.size(), *progress, pastCache)
                                 : readFully(fd.get(), w, b.size(), nullptr, 0, pastCache);
    if (got < 0) {
        fail(errno);
        return std::nullopt;
    }
    // A file that shrank while being read gives the bytes actually read.
    if (static_cast<std::size_t>(got) < b.size()) return b.slice(0, static_cast<std::size_t>(got));
    return b;
}

}  // namespace kerbilo
