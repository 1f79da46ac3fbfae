#include "runtime/byte_buffer.h"

#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <new>

namespace kerbilo {

namespace {

// Large buffers come straight from mmap with transparent huge pages requested: filling a
// 1 GiB file otherwise spends more time in 4 KiB page faults than in reading.
constexpr std::size_t kHugeThreshold = std::size_t{32} << 20;

std::atomic<std::size_t> failingFrom{0};

std::shared_ptr<std::uint8_t[]> mapLarge(std::size_t n) {
    void* p = mmap(nullptr, n, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED) return nullptr;
#ifdef MADV_HUGEPAGE
    madvise(p, n, MADV_HUGEPAGE);
#endif
    try {
        return std::shared_ptr<std::uint8_t[]>(static_cast<std::uint8_t*>(p),
                                               [n](std::uint8_t* q) { munmap(q, n); });
    } catch (...) {  // the deleter has already unmapped the region
        return nullptr;
    }
}

}  // namespace

void failAllocationsFrom(std::size_t bytes) {
    failingFrom = bytes;
}

ByteBuffer ByteBuffer::uninitialized(std::size_t n) {
    ByteBuffer b;
    if (n == 0) return b;
    if (const std::size_t limit = failingFrom.load(std::memory_order_relaxed); limit && n >= limit)
        return b;
    if (n >= kHugeThreshold) {
        b.storage_ = mapLarge(n);
        if (!b.storage_) return ByteBuffer{};
        b.capacity_ = n;
        b.begin_ = b.storage_.get();
        b.size_ = n;
        return b;
    }
    // new[] without () leaves the bytes untouched: no zero-fill pass over a large file.
    std::uint8_t* raw = new (std::nothrow) std::uint8_t[n];
    if (!raw) return b;
    try {
        b.storage_ = std::shared_ptr<std::uint8_t[]>(raw);
    } catch (...) {  // shared_ptr has already deleted raw
        return ByteBuffer{};
    }
    b.capacity_ = n;
    b.begin_ = raw;
    b.size_ = n;
    return b;
}

ByteBuffer ByteBuffer::readOnly(std::shared_ptr<std::uint8_t[]> owner, std::size_t size,
                                std::vector<ZeroStretch> zeros) {
    ByteBuffer b;
    if (!owner || size == 0) return b;
    b.storage_ = std::move(owner);
    b.capacity_ = size;
    b.begin_ = b.storage_.get();
    b.size_ = size;
    b.readOnly_ = true;
    if (!zeros.empty())
        b.zeros_ = std::make_shared<const std::vector<ZeroStretch>>(std::move(zeros));
    return b;
}

std::vector<ZeroStretch> ByteBuffer::knownZeros() const {
    std::vector<ZeroStretch> mine;
    if (!zeros_ || size_ == 0) return mine;
    const auto first = static_cast<std::size_t>(begin_ - storage_.get());
    const std::size_t last = first + size_;
    for (const ZeroStretch& z : *zeros_) {
        const std::size_t from = std::max(z.from, first), to = std::min(z.to, last);
        if (from < to) mine.push_back({from - first, to - first});
    }
    return mine;
}

ByteBuffer::ByteBuffer(const void* data, std::size_t size) {
    if (size == 0) return;
    *this = uninitialized(size);
    if (begin_) std::memcpy(begin_, data, size);
}

ByteBuffer::ByteBuffer(std::initializer_list<std::uint8_t> bytes)
    : ByteBuffer(bytes.begin(), bytes.size()) {}

ByteBuffer ByteBuffer::slice(std::size_t offset, std::size_t length) const {
    ByteBuffer b;
    if (offset >= size_ || length == 0) return b;
    if (length > size_ - offset) length = size_ - offset;
    b.storage_ = storage_;
    b.capacity_ = capacity_;
    b.readOnly_ = readOnly_;
    b.zeros_ = zeros_;
    b.begin_ = begin_ + offset;
    b.size_ = length;
    return b;
}

std::uint8_t* ByteBuffer::mutableData() {
    if (size_ == 0) return nullptr;
    if (readOnly_ || storage_.use_count() != 1) {
        ByteBuffer copy(begin_, size_);
        if (copy.size() != size_) return nullptr;
        *this = std::move(copy);
    }
    return begin_;
}

bool operator==(const ByteBuffer& a, const ByteBuffer& b) {
    return a.size_ == b.size_ &&
           (a.begin_ == b.begin_ || a.size_ == 0 || std::memcmp(a.begin_, b.begin_, a.size_) == 0);
}

}  // namespace kerbilo
