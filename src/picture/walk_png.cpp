#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "picture/walk_detail.h"

namespace kerbilo {

using namespace walk_detail;
using picture_detail::kPngSignature;

namespace {

constexpr std::uint32_t kMaxChunkLength = 0x7FFFFFFF;  // the format's own limit

bool isType(Bytes data, std::uint64_t offset, const char* type) {
    return std::memcmp(data.data() + offset, type, 4) == 0;
}

bool isLetter(std::uint8_t c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Channels per pixel for a colour type and depth the format allows, 0 otherwise.
int channels(int colourType, int depth) {
    switch (colourType) {
        case 0:
            return depth == 1 || depth == 2 || depth == 4 || depth == 8 || depth == 16 ? 1 : 0;
        case 3:
            return depth == 1 || depth == 2 || depth == 4 || depth == 8 ? 1 : 0;
        case 2:
            return depth == 8 || depth == 16 ? 3 : 0;
        case 4:
            return depth == 8 || depth == 16 ? 2 : 0;
        case 6:
            return depth == 8 || depth == 16 ? 4 : 0;
        default:
            return 0;
    }
}

}  // namespace

PictureWalk walkPng(Bytes data) noexcept {
    PictureWalk walk;
    if (data.empty()) return ranOut(walk, data);
    const std::size_t signatureBytes = std::min<std::size_t>(data.size(), sizeof kPngSignature);
    if (std::memcmp(data.data(), kPngSignature, signatureBytes) != 0)
        return broken(walk, 0, Reason::NoPngSignature);
    if (data.size() < sizeof kPngSignature) return ranOut(walk, data);

    std::uint64_t pos = sizeof kPngSignature;
    bool sawHeader = false;
    bool sawImageData = false;
    for (;;) {
        if (!fits(data, pos, 8)) return ranOut(walk, data);
        const std::uint32_t length = be32(data, pos);
        if (length > kMaxChunkLength) return broken(walk, pos, Reason::ChunkLength);
        for (std::uint64_t i = 4; i < 8; ++i)
            if (!isLetter(data[pos + i])) return broken(walk, pos, Reason::ChunkType);
        const std::uint64_t body = pos + 8;
        if (!sawHeader && !isType(data, pos + 4, "IHDR"))
            return broken(walk, pos, Reason::FirstChunkNotHeader);
        // Length, type, data and CRC; cannot overflow, the length is below 2^31.
        const std::uint64_t chunkEnd = body + length + 4;
        if (chunkEnd > data.size()) return ranOut(walk, data);
        // The CRC covers the type and the data.
        const auto crc = crc32(0L, data.data() + pos + 4, static_cast<uInt>(length + 4));
        if (crc != be32(data, body + length)) return broken(walk, pos, Reason::ChunkCrc);

        if (isType(data, pos + 4, "IHDR")) {
            if (sawHeader) return broken(walk, pos, Reason::SecondHeader);
            if (length != 13) return broken(walk, pos, Reason::HeaderLength);
            const std::uint32_t width = be32(data, body);
            const std::uint32_t height = be32(data, body + 4);
            const int depth = data[body + 8];
            const int colourType = data[body + 9];
            const int perPixel = channels(colourType, depth);
            if (width == 0 || height == 0 || width > kMaxChunkLength || height > kMaxChunkLength)
                return broken(walk, pos, Reason::ImageSize);
            if (perPixel == 0) return broken(walk, pos, Reason::DepthOrColour);
            if (data[body + 10] != 0 || data[body + 11] != 0 || data[body + 12] > 1)
                return broken(walk, pos, Reason::HeaderMethod);
            walk.width = static_cast<int>(width);
            walk.height = static_cast<int>(height);
            walk.bitsPerPixel = perPixel * depth;
            walk.frames = 1;
            walk.headerSound = true;
            sawHeader = true;
        } else if (isType(data, pos + 4, "IDAT")) {
            sawImageData = true;
        } else if (isType(data, pos + 4, "acTL") && length == 8) {
            // An animated PNG tells its frame count up front.
            const std::uint32_t frames = be32(data, body);
            if (frames > 0) walk.frames = static_cast<int>(std::min(frames, kMaxChunkLength));
        } else if (isType(data, pos + 4, "IEND")) {
            if (!sawImageData) return broken(walk, pos, Reason::EndBeforeData);
            return ended(walk, chunkEnd);
        }
        pos = chunkEnd;
    }
}

}  // namespace kerbilo
