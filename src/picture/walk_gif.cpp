#include <algorithm>
#include <climits>
#include <cstring>

#include "picture/walk_detail.h"

namespace kerbilo {

using namespace walk_detail;
using picture_detail::le16;

namespace {

constexpr std::uint64_t kScreenEnd = 13;  // signature and logical screen descriptor

// Offset after the terminator of the sub-block chain starting at pos, or 0 when the data
// ends inside the chain.
std::uint64_t skipSubBlocks(Bytes data, std::uint64_t pos) {
    while (pos < data.size()) {
        const std::uint64_t n = data[pos++];
        if (n == 0) return pos;
        pos += n;
    }
    return 0;
}

}  // namespace

PictureWalk walkGif(Bytes data) noexcept {
    PictureWalk walk;
    if (data.empty()) return ranOut(walk, data);
    // Both versions share the first four bytes; compare what the data holds of them.
    const std::size_t shown = std::min<std::size_t>(data.size(), 6);
    const bool prefix87 = std::memcmp(data.data(), "GIF87a", shown) == 0;
    const bool prefix89 = std::memcmp(data.data(), "GIF89a", shown) == 0;
    if (!prefix87 && !prefix89) return broken(walk, 0, "no GIF signature");
    if (data.size() < kScreenEnd) return ranOut(walk, data);

    walk.width = le16(data, 6);
    walk.height = le16(data, 8);
    const std::uint8_t flags = data[10];
    std::uint64_t pos = kScreenEnd;
    if (flags & 0x80) {
        walk.bitsPerPixel = (flags & 7) + 1;
        pos += 3 * (std::uint64_t{2} << (flags & 7));
    }
    for (;;) {
        if (pos >= data.size()) return ranOut(walk, data);
        const std::uint8_t introducer = data[pos];
        if (introducer == 0x3B) {
            if (walk.frames == 0) return broken(walk, pos, "trailer before any image");
            return ended(walk, pos + 1);
        }
        if (introducer == 0x21) {
            // Extensions of any label are sub-block chains after the label byte.
            const std::uint64_t after = skipSubBlocks(data, pos + 2);
            if (after == 0) return ranOut(walk, data);
            pos = after;
        } else if (introducer == 0x2C) {
            if (!fits(data, pos, 10)) return ranOut(walk, data);
            const std::uint8_t packed = data[pos + 9];
            // A zero-sized logical screen is common; the first image then sets the size.
            if (walk.frames == 0 && (walk.width == 0 || walk.height == 0)) {
                walk.width = le16(data, pos + 1) + le16(data, pos + 5);
                walk.height = le16(data, pos + 3) + le16(data, pos + 7);
            }
            const std::uint64_t descriptorAt = pos;
            pos += 10;
            if (packed & 0x80) {
                if (walk.bitsPerPixel == 0) walk.bitsPerPixel = (packed & 7) + 1;
                pos += 3 * (std::uint64_t{2} << (packed & 7));
            }
            if (pos >= data.size()) return ranOut(walk, data);
            // Pixels are at most 8 bits, and the codes start one bit wider than them.
            const int minimumCodeSize = data[pos];
            if (minimumCodeSize < 1 || minimumCodeSize > 8)
                return broken(walk, descriptorAt, "LZW code size out of range");
            const std::uint64_t after = skipSubBlocks(data, pos + 1);
            if (after == 0) return ranOut(walk, data);
            pos = after;
            if (walk.frames < INT_MAX) ++walk.frames;
        } else {
            return broken(walk, pos, "unknown block");
        }
    }
}

}  // namespace kerbilo
