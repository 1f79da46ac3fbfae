#pragma once
// The layout of an ICO or CUR file, which differ only in the type word: a directory
// header, then one fixed-size entry per image naming where the image lies. Shared by the
// decoder, the structure walker and recognition so that all three read the same fields.

#include <cstdint>

namespace kerbilo::ico {

// The directory header: a reserved word (0), the type, the number of entries.
constexpr std::uint64_t kReservedAt = 0;
constexpr std::uint64_t kTypeAt = 2;
constexpr std::uint64_t kCountAt = 4;
constexpr std::uint64_t kHeaderSize = 6;

constexpr std::uint16_t kTypeIcon = 1;
constexpr std::uint16_t kTypeCursor = 2;

// One directory entry, from its first byte. Width, height and colour count are a byte wide,
// 0 meaning 256 for the sizes.
constexpr std::uint64_t kEntrySize = 16;
constexpr std::uint64_t kEntryWidthAt = 0;
constexpr std::uint64_t kEntryHeightAt = 1;
constexpr std::uint64_t kEntryColoursAt = 2;
constexpr std::uint64_t kEntryBytesAt = 8;    // the image's size
constexpr std::uint64_t kEntryOffsetAt = 12;  // where the image starts in the file

constexpr std::uint64_t entryAt(std::uint64_t index) {
    return kHeaderSize + index * kEntrySize;
}

}  // namespace kerbilo::ico
