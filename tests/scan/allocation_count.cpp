// The replaced operator new of the tests that count allocations. Kept out of the unity
// batches: a compiler that sees these bodies next to the code calling them takes free()
// of operator new's memory for a mismatch.

#include "allocation_count.h"

#include <atomic>
#include <cstdlib>
#include <new>

// Every form the program may use is replaced, so that each block is allocated and freed
// the same way (a sanitizer checks they match).
namespace {

std::atomic<std::size_t> allocated{0};

void* counted(std::size_t n) noexcept {
    allocated.fetch_add(n, std::memory_order_relaxed);
    return std::malloc(n ? n : 1);
}
void* countedOrThrow(std::size_t n) {
    if (void* p = counted(n)) return p;
    throw std::bad_alloc();
}

}  // namespace

void* operator new(std::size_t n) {
    return countedOrThrow(n);
}
void* operator new[](std::size_t n) {
    return countedOrThrow(n);
}
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    return counted(n);
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    return counted(n);
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete[](void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    std::free(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    std::free(p);
}

namespace kerbilo::testing {

std::size_t allocatedSoFar() {
    return allocated.load(std::memory_order_relaxed);
}

}  // namespace kerbilo::testing
