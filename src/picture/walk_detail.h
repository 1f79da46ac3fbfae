#pragma once
// Helpers the structure walkers share: big-endian reads, overflow-checked size sums and
// the three ways a walk finishes. Internal to the picture library.

#include <cstdint>
#include <limits>

#include "picture/byte_reader.h"
#include "picture/walk.h"

namespace kerbilo::walk_detail {

using picture_detail::fits;

inline std::uint16_t be16(Bytes data, std::uint64_t offset) {
    if (!fits(data, offset, 2)) return 0;
    return static_cast<std::uint16_t>((data[offset] << 8) | data[offset + 1]);
}
inline std::uint32_t be32(Bytes data, std::uint64_t offset) {
    if (!fits(data, offset, 4)) return 0;
    return (static_cast<std::uint32_t>(data[offset]) << 24) |
           (static_cast<std::uint32_t>(data[offset + 1]) << 16) |
           (static_cast<std::uint32_t>(data[offset + 2]) << 8) |
           static_cast<std::uint32_t>(data[offset + 3]);
}

// Declared sizes come from hostile headers; these refuse to wrap around.
inline bool checkedAdd(std::uint64_t a, std::uint64_t b, std::uint64_t& sum) {
    if (b > std::numeric_limits<std::uint64_t>::max() - a) return false;
    sum = a + b;
    return true;
}
inline bool checkedMul(std::uint64_t a, std::uint64_t b, std::uint64_t& product) {
    if (a != 0 && b > std::numeric_limits<std::uint64_t>::max() / a) return false;
    product = a * b;
    return true;
}

inline PictureWalk ended(PictureWalk walk, std::uint64_t extent) {
    walk.end = WalkEnd::Ended;
    walk.extent = static_cast<std::int64_t>(extent);
    walk.reason = Reason::None;
    return walk;
}
inline PictureWalk ranOut(PictureWalk walk, Bytes data) {
    walk.end = WalkEnd::RanOut;
    walk.extent = static_cast<std::int64_t>(data.size());
    walk.reason = Reason::FileEndsInside;
    return walk;
}
inline PictureWalk broken(PictureWalk walk, std::uint64_t at, Reason reason,
                          std::int64_t item = 0) {
    walk.end = WalkEnd::Broken;
    walk.extent = static_cast<std::int64_t>(at);
    walk.reason = reason;
    walk.reasonItem = item;
    return walk;
}

}  // namespace kerbilo::walk_detail
