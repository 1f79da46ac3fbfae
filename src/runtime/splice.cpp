#include "runtime/splice.h"

#include <algorithm>
#include <cstring>

namespace kerbilo {

ByteBuffer applySplices(const std::uint8_t* bytes, std::size_t size,
                        const std::vector<Splice>& splices) {
    // Splices that overlap or pass the end are clipped, the same way in both passes.
    const auto walk = [&](auto&& copyOld, auto&& copyNew) {
        std::uint64_t pos = 0;
        for (const Splice& s : splices) {
            const std::uint64_t from = std::clamp<std::uint64_t>(
                static_cast<std::uint64_t>(std::max<std::int64_t>(s.offset, 0)), pos, size);
            copyOld(pos, from);
            copyNew(s.bytes);
            pos = std::min<std::uint64_t>(
                from + static_cast<std::uint64_t>(std::max<std::int64_t>(s.oldLength, 0)), size);
        }
        copyOld(pos, size);
    };
    std::uint64_t total = 0;
    walk([&](std::uint64_t from, std::uint64_t to) { total += to - from; },
         [&](const ByteBuffer& b) { total += b.size(); });
    ByteBuffer out = ByteBuffer::uninitialized(total);
    std::uint8_t* p = out.mutableData();
    if (!p) return out;
    walk(
        [&](std::uint64_t from, std::uint64_t to) {
            if (to > from) std::memcpy(p, bytes + from, to - from);
            p += to - from;
        },
        [&](const ByteBuffer& b) {
            if (!b.empty()) std::memcpy(p, b.data(), b.size());
            p += b.size();
        });
    return out;
}

}  // namespace kerbilo
