// The replaced operator new of the tests that count allocations. Kept out of the unity
// batches: a compiler that sees these bodies next to the code calling them takes free()
// of operator new's memory for a mismatch.

#include "allocation_count.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {
std::atomic<std::size_t> allocated{0};
}  // namespace

void* operator new(std::size_t n) {
    allocated.fetch_add(n, std::memory_order_relaxed);
    if (void* p = std::malloc(n ? n : 1)) return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept {
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
    std::free(p);
}

namespace kerbilo::testing {

std::size_t allocatedSoFar() {
    return allocated.load(std::memory_order_relaxed);
}

}  // namespace kerbilo::testing
