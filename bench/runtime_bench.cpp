// Throughput of the in-place byte search against the C library's memmem on the same
// buffer: 1 GiB of random bytes, a 12-byte pattern that does not occur in it.
#include <string.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "runtime/byte_ops.h"

using namespace kerbilo;

namespace {

template <typename F>
double bestSeconds(int rounds, F&& f) {
    double best = 1e30;
    for (int r = 0; r < rounds; ++r) {
        const auto t0 = std::chrono::steady_clock::now();
        f();
        const double s =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        if (s < best) best = s;
    }
    return best;
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
    const std::size_t n = mib << 20;
    ByteBuffer hay = ByteBuffer::uninitialized(n);
    std::uint8_t* w = hay.mutableData();
    if (!w) {
        std::fprintf(stderr, "cannot allocate %zu MiB\n", mib);
        return 1;
    }
    std::mt19937_64 rng(42);
    for (std::size_t i = 0; i + 8 <= n; i += 8) {
        const std::uint64_t v = rng();
        std::memcpy(w + i, &v, 8);
    }
    const std::uint8_t pattern[12] = {0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A,
                                      0x1A, 0x0A, 0x00, 0x00, 0x00, 0x0D};
    const ByteBuffer sought(pattern, sizeof pattern);

    volatile std::int64_t sink = 0;
    const double ours = bestSeconds(
        3, [&] { sink = findBytesIn(hay.data(), hay.size(), sought.data(), sought.size()); });
    const std::int64_t found = sink;
    const double libc = bestSeconds(
        3, [&] { sink = memmem(hay.data(), hay.size(), pattern, sizeof pattern) != nullptr; });
    const double mb = static_cast<double>(n) / 1e6;
    std::printf("findBytesIn, absent 12-byte pattern over %zu MiB of random bytes\n", mib);
    std::printf("  findBytesIn%8.0f MB/s  (result %lld)\n", mb / ours,
                static_cast<long long>(found));
    std::printf("  memmem     %8.0f MB/s\n", mb / libc);
    std::printf("  ratio      %8.2f x memmem\n", libc / ours);
    return 0;
}
