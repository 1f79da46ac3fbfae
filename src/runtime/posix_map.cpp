#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
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

}  // namespace

std::optional<ByteBuffer> PosixFileServices::tryMapWholeFile(std::string_view path) {
    const std::string name = native(path);
    Fd fd(path.empty() ? -1 : ::open(name.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    // Anything but a regular file with a size goes the reading way, with its reasons.
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0)
        return tryReadWholeFile(path);
    const auto size = static_cast<std::size_t>(st.st_size);
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
