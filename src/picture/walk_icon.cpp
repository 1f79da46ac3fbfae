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

// The directory's fields are a byte wide, 0 meaning 256; a PNG entry may be larger still.
bool sizeAgrees(std::int64_t actual, std::uint8_t directory) {
    return directory == 0 ? actual >= 256 : actual == directory;
}

struct EntrySize {
    std::int64_t width = 0;
    std::int64_t height = 0;
    int bits = 0;
};

// One entry's image, judged as an icon reader would take it: a PNG whose IHDR agrees with
// the directory, or a bitmap info header of a known size and bit count whose rows are
// inside the entry. Only the entry's own bytes are looked at.
Reason checkEntry(Bytes data, std::uint64_t entry, EntrySize& size) {
    const std::uint64_t offset = le32(data, entry + ico::kEntryOffsetAt);
    const std::uint64_t bytes = le32(data, entry + ico::kEntryBytesAt);
    const std::uint8_t width = data[entry + ico::kEntryWidthAt];
    const std::uint8_t height = data[entry + ico::kEntryHeightAt];
    const Bytes image = data.subspan(offset, bytes);
    if (startsWithPng(image, 0)) {
        // IHDR follows the signature: length, type, width, height, depth, colour type.
        if (!fits(image, 0, 26)) return Reason::EntryPngDamaged;
        size.width = be32(image, 16);
        size.height = be32(image, 20);
        static constexpr int kChannels[7] = {1, 0, 3, 1, 2, 0, 4};
        const int colourType = image[25];
        size.bits = colourType < 7 ? image[24] * kChannels[colourType] : 0;
        if (!sizeAgrees(size.width, width) || !sizeAgrees(size.height, height))
            return Reason::EntrySizeDisagrees;
        const PictureWalk png = walkPng(image);
        if (png.end != WalkEnd::Ended) return Reason::EntryPngDamaged;
        return Reason::None;
    }
    // The walk has seen a bitmap info header size the format knows.
    const std::uint32_t header = le32(image, 0);
    if (!fits(image, 0, header)) return Reason::EntryPixelsMissing;
    size.width = le32s(image, 4);
    const std::int64_t rows = le32s(image, 8);
    // The colour rows and the mask rows; some writers give the colour rows alone.
    size.height = rows / 2;
    size.bits = le16(image, 14);
    if (!sizeAgrees(size.width, width)) return Reason::EntrySizeDisagrees;
    if (sizeAgrees(rows, height))
        size.height = rows;
    else if (rows % 2 != 0 || !sizeAgrees(size.height, height))
        return Reason::EntrySizeDisagrees;
    const int bits = size.bits;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32)
        return Reason::EntryBitCount;
    // At most 256 pixels a side (or what a PNG entry may claim, not read here), so none of
    // these sums can overflow.
    // A palette, when given, is read whole whatever the depth (deeper images may carry one
    // for displays with fewer colours); indices need no more than 2^bits entries.
    const std::uint64_t colours = le32(image, 32);
    if (bits <= 8 && colours > (1u << bits)) return Reason::EntryColourCount;
    const std::uint64_t palette = 4 * (colours != 0 ? colours : bits <= 8 ? 1u << bits : 0);
    const auto w = static_cast<std::uint64_t>(size.width);
    const auto h = static_cast<std::uint64_t>(size.height);
    const std::uint64_t colourRows = (w * static_cast<unsigned>(bits) + 31) / 32 * 4 * h;
    const std::uint64_t maskRows = (w + 31) / 32 * 4 * h;
    // A 32-bit image carries its own alpha, and some writers leave its mask out.
    const std::uint64_t needed = header + palette + colourRows + (bits == 32 ? 0 : maskRows);
    if (needed > bytes) return Reason::EntryPixelsMissing;
    return Reason::None;
}

}  // namespace

PictureWalk walkIcon(Bytes data) noexcept {
    PictureWalk walk;
    if (data.size() < ico::kHeaderSize) {
        // Judge what there is of the reserved word and the type.
        if ((data.size() >= 1 && data[0] != 0) || (data.size() >= 2 && data[1] != 0))
            return broken(walk, 0, Reason::NoIconDirectory);
        return ranOut(walk, data);
    }
    const std::uint16_t type = le16(data, ico::kTypeAt);
    if (le16(data, ico::kReservedAt) != 0 || (type != ico::kTypeIcon && type != ico::kTypeCursor))
        return broken(walk, 0, Reason::NoIconDirectory);
    const std::uint16_t count = le16(data, ico::kCountAt);
    if (count == 0) return broken(walk, ico::kCountAt, Reason::NoIconImage);
    const std::uint64_t directoryEnd = ico::entryAt(count);
    if (!fits(data, 0, directoryEnd)) return ranOut(walk, data);

    std::uint64_t end = directoryEnd;
    EntrySize largest;
    for (std::uint64_t i = 0; i < count; ++i) {
        const std::uint64_t entry = ico::entryAt(i);
        const auto number = static_cast<std::int64_t>(i + 1);
        const std::uint64_t size = le32(data, entry + ico::kEntryBytesAt);
        const std::uint64_t offset = le32(data, entry + ico::kEntryOffsetAt);
        if (size < 8) return broken(walk, entry, Reason::EntryTooSmall, number);
        if (offset < directoryEnd)
            return broken(walk, entry, Reason::EntryOverlapsDirectory, number);
        end = std::max(end, offset + size);  // both 32-bit: no overflow
        if (offset + size > data.size()) return broken(walk, entry, Reason::EntryPastFile, number);
        // The signature is weak, so each image must start like one: a PNG file or a
        // bitmap info header.
        const std::uint32_t dibHeader = le32(data, offset);
        if (!startsWithPng(data, offset) && dibHeader != 40 && dibHeader != 108 && dibHeader != 124)
            return broken(walk, entry, Reason::EntryNotAnImage, number);
        EntrySize image;
        if (const Reason why = checkEntry(data, entry, image); why != Reason::None)
            return broken(walk, entry, why, number);
        // The icon's size is its largest image's, as a file manager would show it.
        if (image.width * image.height > largest.width * largest.height ||
            (image.width * image.height == largest.width * largest.height &&
             image.bits > largest.bits))
            largest = image;
    }
    walk.width = static_cast<int>(largest.width);
    walk.height = static_cast<int>(largest.height);
    walk.bitsPerPixel = largest.bits;
    walk.frames = count;
    walk.headerSound = true;
    return ended(walk, end);
}

}  // namespace kerbilo
