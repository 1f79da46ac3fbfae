#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <new>
#include <vector>

#include "runtime/file_services.h"
#include "runtime/memory.h"
#include "runtime/posix_detail.h"
#include "runtime/shrink_guard.h"

namespace kerbilo {

using namespace posix_detail;

namespace {

// Reading a hole of a sparse file through a file mapping fills the page cache with zeros,
// one page fault per 4 KiB: 32 GiB of holes took a minute and evicted everything else (and
// on tmpfs the pages cannot even be given back). The holes read as zeros anyway, so their
// pages are mapped anonymously instead, where a read costs no page cache, and they are
// listed so that a search passes them by without reading them at all: a kernel that maps
// no shared zero page gives each page read there memory of its own, and 32 GiB of holes
// would then take 32 GiB. Returns the stretches mapped as zeros, in order.
std::vector<ZeroStretch> overlayHoles(int fd, std::uint8_t* base, std::size_t size) {
    std::vector<ZeroStretch> zeros;
    const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
    off_t at = 0;
    while (static_cast<std::size_t>(at) < size) {
        const off_t hole = ::lseek(fd, at, SEEK_HOLE);
        if (hole < 0 || static_cast<std::size_t>(hole) >= size) break;
        off_t data = ::lseek(fd, hole, SEEK_DATA);
        if (data < 0) data = static_cast<off_t>(size);  // a hole up to the end
        const std::size_t from = (static_cast<std::size_t>(hole) + page - 1) / page * page;
        const std::size_t to = std::min(static_cast<std::size_t>(data), size) / page * page;
        if (to > from) {
            void* mapped = ::mmap(base + from, to - from, PROT_READ,
                                  MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
            if (mapped != MAP_FAILED) {
                ::madvise(mapped, to - from, MADV_HUGEPAGE);
                zeros.push_back({from, to});
            }
        }
        at = data;
    }
    return zeros;
}

// Below this, a file is copied rather than mapped: a mapping costs four system calls more
// than one read (map, advise, the look for holes, unmap), its pages fault in one by one,
// and with several threads each unmapping interrupts the others. Thousands of small files
// were listed several times slower than cat reads them.
constexpr std::size_t kMapFrom = std::size_t{256} << 10;

// The whole of the open regular file fd of `size` bytes, read; nothing with errno set when
// the read fails. A file that shrank meanwhile gives what there was.
std::optional<ByteBuffer> readOpenFile(int fd, std::size_t size) {
    ByteBuffer b = ByteBuffer::uninitialized(size);
    std::uint8_t* w = b.mutableData();
    if (!w) {
        errno = ENOMEM;
        return std::nullopt;
    }
    std::size_t got = 0;
    while (got < size) {
        const ssize_t r = ::read(fd, w + got, size - got);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0) return std::nullopt;
        if (r == 0) break;
        got += static_cast<std::size_t>(r);
    }
    return got < size ? b.slice(0, got) : b;
}

}  // namespace

std::optional<ByteBuffer> PosixFileServices::tryMapWholeFile(std::string_view path) {
    const std::string name = native(path);
    Fd fd(path.empty() ? -1 : ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    // Anything but a regular file with a size goes the reading way, with its reasons.
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0)
        return tryReadWholeFile(path);
    const auto size = static_cast<std::size_t>(st.st_size);
    if (size < kMapFrom) {
        std::optional<ByteBuffer> read = readOpenFile(fd.get(), size);
        if (!read) fail(errno);
        return read;
    }
    void* p = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd.get(), 0);
    if (p == MAP_FAILED) return tryReadWholeFile(path);
    ::madvise(p, size, MADV_SEQUENTIAL);
    std::vector<ZeroStretch> zeros = overlayHoles(fd.get(), static_cast<std::uint8_t*>(p), size);
    const int slot = registerMapping(static_cast<const std::uint8_t*>(p), size, name);
    try {
        return ByteBuffer::readOnly(std::shared_ptr<std::uint8_t[]>(static_cast<std::uint8_t*>(p),
                                                                    [size, slot](std::uint8_t* q) {
                                                                        releaseMapping(slot);
                                                                        ::munmap(q, size);
                                                                    }),
                                    size, std::move(zeros));
    } catch (const std::bad_alloc&) {  // the deleter has already unmapped it
        fail(ENOMEM);
        return std::nullopt;
    }
}

}  // namespace kerbilo
