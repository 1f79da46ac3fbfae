#include "runtime/memory.h"

#include <sys/resource.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

namespace kerbilo {

namespace {

// The "Key:  value kB" lines of a /proc file, in bytes, in the order of the keys; read in
// one pass.
template <std::size_t N>
std::array<std::optional<std::uint64_t>, N> procValues(const char* file,
                                                       const std::array<const char*, N>& keys) {
    std::array<std::optional<std::uint64_t>, N> values{};
    std::FILE* f = std::fopen(file, "r");
    if (!f) return values;
    char line[256];
    std::size_t found = 0;
    while (found < N && std::fgets(line, sizeof line, f)) {
        for (std::size_t k = 0; k < N; ++k) {
            const std::size_t n = std::strlen(keys[k]);
            if (values[k] || std::strncmp(line, keys[k], n) != 0 || line[n] != ':') continue;
            unsigned long long kib = 0;
            if (std::sscanf(line + n + 1, "%llu", &kib) == 1) values[k] = kib * 1024;
            ++found;
            break;
        }
    }
    std::fclose(f);
    return values;
}

std::optional<std::uint64_t> procValue(const char* file, const char* key) {
    return procValues<1>(file, {key})[0];
}

void lower(std::optional<std::uint64_t>& bound, std::optional<std::uint64_t> by) {
    if (by) bound = bound ? std::min(*bound, *by) : by;
}

// What a limit leaves beside what is in use.
std::optional<std::uint64_t> leftBy(int resource, const char* inUse) {
    struct rlimit limit {};
    if (::getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return std::nullopt;
    const std::uint64_t used = procValue("/proc/self/status", inUse).value_or(0);
    return limit.rlim_cur > used ? limit.rlim_cur - used : 0;
}

}  // namespace

std::optional<std::uint64_t> memoryAvailable() {
    std::optional<std::uint64_t> bound;
    const auto [available, swapFree] = procValues<2>("/proc/meminfo", {"MemAvailable", "SwapFree"});
    if (available) lower(bound, *available + swapFree.value_or(0));
    lower(bound, leftBy(RLIMIT_AS, "VmSize"));
    lower(bound, leftBy(RLIMIT_DATA, "VmData"));
    return bound;
}

}  // namespace kerbilo
