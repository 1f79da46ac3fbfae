#include <algorithm>
#include <cstring>

#include "picture/decoders.h"
#include "picture/walk_detail.h"

namespace kerbilo {

using namespace walk_detail;
using picture_detail::le16;
using picture_detail::le32;
using picture_detail::le32s;

namespace {

constexpr std::uint64_t kDirectoryHeader = 6;
constexpr std::uint64_t kEntrySize = 16;
constexpr std::uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A};

bool startsWithPng(Bytes data, std::uint64_t offset) {
    return fits(data, offset, 8) && std::memcmp(data.data() + offset, kPngSignature, 8) == 0;
}

// The directory's own fields are a byte wide (0 meaning 256); the image's header is
// exact, so it is read when the entry holds it. Only the entry's own bytes are read, so
// what the walk learns never depends on bytes past its extent.
void learnSize(Bytes data, std::uint64_t entry, PictureWalk& walk) {
    const std::uint64_t offset = le32(data, entry + 12);
    const std::uint64_t size = le32(data, entry + 8);
    const Bytes image =
        offset < data.size()
            ? data.subspan(offset, std::min<std::uint64_t>(size, data.size() - offset))
            : Bytes{};
    if (startsWithPng(image, 0) && fits(image, 0, 26)) {
        // IHDR follows the signature: length, type, width, height, depth, colour type.
        const std::uint32_t width = be32(image, 16);
        const std::uint32_t height = be32(image, 20);
        if (width <= 0x7FFFFFFF && height <= 0x7FFFFFFF) {
            walk.width = static_cast<int>(width);
            walk.height = static_cast<int>(height);
            static constexpr int kChannels[7] = {1, 0, 3, 1, 2, 0, 4};
            const int colourType = image[25];
            if (colourType < 7) walk.bitsPerPixel = image[24] * kChannels[colourType];
            return;
        }
    }
    if (fits(image, 0, 16) && le32(image, 0) >= 40) {
        const std::int32_t width = le32s(image, 4);
        const std::int32_t height = le32s(image, 8);
        if (width > 0 && height > 0) {
            walk.width = width;
            walk.height = height / 2;  // the colour rows and the mask rows
            walk.bitsPerPixel = le16(image, 14);
            return;
        }
    }
    walk.width = data[entry] == 0 ? 256 : data[entry];
    walk.height = data[entry + 1] == 0 ? 256 : data[entry + 1];
}

}  // namespace

PictureWalk walkIcon(Bytes data) noexcept {
    PictureWalk walk;
    if (data.size() < kDirectoryHeader) {
        // Judge what there is of the reserved word and the type.
        if ((data.size() >= 1 && data[0] != 0) || (data.size() >= 2 && data[1] != 0))
            return broken(walk, 0, "no icon directory");
        return ranOut(walk, data);
    }
    const std::uint16_t type = le16(data, 2);
    if (le16(data, 0) != 0 || (type != 1 && type != 2)) return broken(walk, 0, "no icon directory");
    const std::uint16_t count = le16(data, 4);
    if (count == 0) return broken(walk, 4, "directory names no image");
    walk.frames = count;
    const std::uint64_t directoryEnd = kDirectoryHeader + kEntrySize * count;
    if (!fits(data, 0, directoryEnd)) return ranOut(walk, data);

    std::uint64_t end = directoryEnd;
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t entry = kDirectoryHeader + i * kEntrySize;
        const std::uint64_t size = le32(data, entry + 8);
        const std::uint64_t offset = le32(data, entry + 12);
        if (size < 8) return broken(walk, entry, "entry too small to hold an image");
        if (offset < directoryEnd) return broken(walk, entry, "entry overlaps the directory");
        end = std::max(end, offset + size);    // both 32-bit: no overflow
        if (!fits(data, offset, 8)) continue;  // beyond the data: the end check catches it
        // The signature is weak, so each image must start like one: a PNG file or a
        // bitmap info header.
        const std::uint32_t dibHeader = le32(data, offset);
        if (!startsWithPng(data, offset) && dibHeader != 40 && dibHeader != 108 && dibHeader != 124)
            return broken(walk, entry, "entry holds neither a PNG nor a bitmap");
    }
    const int chosen = chooseIconEntry(data);
    if (chosen >= 0)
        learnSize(data, kDirectoryHeader + static_cast<std::uint64_t>(chosen) * kEntrySize, walk);
    if (end > data.size()) return ranOut(walk, data);
    return ended(walk, end);
}

}  // namespace kerbilo
