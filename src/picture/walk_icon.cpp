#include <algorithm>
#include <cstring>

#include "picture/decoders.h"
#include "picture/icon_layout.h"
#include "picture/walk_detail.h"

namespace kerbilo {

using namespace walk_detail;
using picture_detail::kPngSignature;
using picture_detail::le16;
using picture_detail::le32;
using picture_detail::le32s;

namespace {

bool startsWithPng(Bytes data, std::uint64_t offset) {
    return fits(data, offset, 8) && std::memcmp(data.data() + offset, kPngSignature, 8) == 0;
}

// The directory's own fields are a byte wide (0 meaning 256); the image's header is
// exact, so it is read when the entry holds it. Only the entry's own bytes are read, so
// what the walk learns never depends on bytes past its extent.
void learnSize(Bytes data, std::uint64_t entry, PictureWalk& walk) {
    const std::uint64_t offset = le32(data, entry + ico::kEntryOffsetAt);
    const std::uint64_t size = le32(data, entry + ico::kEntryBytesAt);
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
    const std::uint8_t width = data[entry + ico::kEntryWidthAt];
    const std::uint8_t height = data[entry + ico::kEntryHeightAt];
    walk.width = width == 0 ? 256 : width;
    walk.height = height == 0 ? 256 : height;
}

}  // namespace

PictureWalk walkIcon(Bytes data) noexcept {
    PictureWalk walk;
    if (data.size() < ico::kHeaderSize) {
        // Judge what there is of the reserved word and the type.
        if ((data.size() >= 1 && data[0] != 0) || (data.size() >= 2 && data[1] != 0))
            return broken(walk, 0, "no icon directory");
        return ranOut(walk, data);
    }
    const std::uint16_t type = le16(data, ico::kTypeAt);
    if (le16(data, ico::kReservedAt) != 0 || (type != ico::kTypeIcon && type != ico::kTypeCursor))
        return broken(walk, 0, "no icon directory");
    const std::uint16_t count = le16(data, ico::kCountAt);
    if (count == 0) return broken(walk, ico::kCountAt, "directory names no image");
    walk.frames = count;
    const std::uint64_t directoryEnd = ico::entryAt(count);
    if (!fits(data, 0, directoryEnd)) return ranOut(walk, data);

    std::uint64_t end = directoryEnd;
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t entry = ico::entryAt(i);
        const std::uint64_t size = le32(data, entry + ico::kEntryBytesAt);
        const std::uint64_t offset = le32(data, entry + ico::kEntryOffsetAt);
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
    if (chosen >= 0) learnSize(data, ico::entryAt(static_cast<std::uint64_t>(chosen)), walk);
    if (end > data.size()) return ranOut(walk, data);
    return ended(walk, end);
}

}  // namespace kerbilo
