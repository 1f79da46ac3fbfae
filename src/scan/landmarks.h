#pragma once
// Where the structure scan's searches may start, found in one pass over the bytes: on a
// large file of none of them, one pass instead of one per search.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace kerbilo {

struct Landmarks {
    std::vector<std::int64_t> programs;      // "MZ"
    std::vector<std::int64_t> localHeaders;  // a ZIP local header's signature
    std::vector<std::int64_t> endRecords;    // a ZIP end record's signature
    std::vector<std::int64_t> streams;       // gzip's magic or a zlib header (zip::findStreams)
};

// Every landmark in data[0, size), each list in order; nothing when there are more than
// `maxPositions` in all (bytes made of them), and then each search makes its own pass.
std::optional<Landmarks> findLandmarks(const std::uint8_t* data, std::size_t size,
                                       std::size_t maxPositions = std::size_t{1} << 22);

// The first of `positions` at or after `at`, starting the look at `cursor` (moved on);
// −1 when there is none. For searches that only go forward.
inline std::int64_t nextLandmark(const std::vector<std::int64_t>& positions, std::size_t& cursor,
                                 std::int64_t at) {
    while (cursor < positions.size() && positions[cursor] < at) ++cursor;
    return cursor < positions.size() ? positions[cursor] : -1;
}

}  // namespace kerbilo
