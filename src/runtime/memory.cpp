#include "runtime/memory.h"

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace kerbilo {

namespace {

// A "Key:  value kB" line of a /proc file, in bytes.
std::optional<std::uint64_t> procValue(const char* file, const char* key) {
    std::FILE* f = std::fopen(file, "r");
    if (!f) return std::nullopt;
    char line[256];
    std::optional<std::uint64_t> value;
    const std::size_t n = std::strlen(key);
    while (std::fgets(line, sizeof line, f)) {
        if (std::strncmp(line, key, n) != 0 || line[n] != ':') continue;
        unsigned long long kib = 0;
        if (std::sscanf(line + n + 1, "%llu", &kib) == 1) value = kib * 1024;
        break;
    }
    std::fclose(f);
    return value;
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
    if (const std::optional<std::uint64_t> available = procValue("/proc/meminfo", "MemAvailable"))
        lower(bound, *available + procValue("/proc/meminfo", "SwapFree").value_or(0));
    lower(bound, leftBy(RLIMIT_AS, "VmSize"));
    lower(bound, leftBy(RLIMIT_DATA, "VmData"));
    return bound;
}

}  // namespace kerbilo
