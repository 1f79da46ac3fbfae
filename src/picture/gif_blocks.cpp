#include "picture/gif_blocks.h"

#include <cstring>

namespace kerbilo::picture_detail {

namespace {

constexpr std::uint64_t kScreenEnd = 13;  // signature and logical screen descriptor
constexpr std::uint64_t kDescriptorSize = 10;
constexpr std::uint8_t kExtensionIntroducer = 0x21;
constexpr std::uint8_t kImageIntroducer = 0x2C;
constexpr std::uint8_t kTrailer = 0x3B;
constexpr std::uint8_t kGraphicControlLabel = 0xF9;

// A colour table flag in bit 7 and the table's size as a power of two in bits 0-2, in the
// screen descriptor as in an image's.
void readTableFlags(std::uint8_t packed, std::uint64_t at, std::uint64_t& tableOffset, int& entries,
                    int& bits) {
    if (!(packed & 0x80)) return;
    tableOffset = at;
    entries = 2 << (packed & 7);
    bits = (packed & 7) + 1;
}

}  // namespace

GifSignature gifSignature(Bytes data) noexcept {
    if (data.empty()) return GifSignature::Partial;
    // Both versions share the first four bytes; compare what the data holds of them.
    const std::size_t shown = std::min<std::size_t>(data.size(), 6);
    if (std::memcmp(data.data(), "GIF87a", shown) != 0 &&
        std::memcmp(data.data(), "GIF89a", shown) != 0)
        return GifSignature::Absent;
    return shown < 6 ? GifSignature::Partial : GifSignature::Whole;
}

std::uint64_t skipGifSubBlocks(Bytes data, std::uint64_t pos) noexcept {
    while (pos < data.size()) {
        const std::uint64_t n = data[pos++];
        if (n == 0) return pos;
        if (n > data.size() - pos) return 0;
        pos += n;
    }
    return 0;
}

bool GifReader::readScreen(GifScreen& screen) noexcept {
    if (data_.size() < kScreenEnd) return false;
    screen.width = le16(data_, 6);
    screen.height = le16(data_, 8);
    readTableFlags(data_[10], kScreenEnd, screen.tableOffset, screen.tableEntries,
                   screen.tableBits);
    pos_ = kScreenEnd + 3 * static_cast<std::uint64_t>(screen.tableEntries);
    return true;
}

GifBlock GifReader::next() noexcept {
    if (stopped_) return stop_;
    stop_ = GifBlock{};
    stop_.offset = pos_;
    if (pos_ >= data_.size()) {
        stopped_ = true;
        return stop_;
    }
    switch (data_[pos_]) {
        case kExtensionIntroducer:
            return readExtension();
        case kImageIntroducer:
            return readImage();
        case kTrailer:
            stop_.kind = GifBlockKind::Trailer;
            stop_.end = pos_ + 1;
            break;
        default:
            stop_.kind = GifBlockKind::Unknown;
            stop_.problem = "unknown block";
            break;
    }
    stopped_ = true;
    return stop_;
}

GifBlock GifReader::readExtension() noexcept {
    // Extensions of any label are sub-block chains after the label byte.
    const std::uint64_t after = skipGifSubBlocks(data_, pos_ + 2);
    if (after == 0) {
        stopped_ = true;  // RanOut at the introducer
        return stop_;
    }
    GifBlock block;
    block.kind = GifBlockKind::Extension;
    block.offset = pos_;
    block.end = after;
    block.label = data_[pos_ + 1];
    pos_ = after;
    return block;
}

GifBlock GifReader::readImage() noexcept {
    if (!fits(data_, pos_, kDescriptorSize)) {
        stopped_ = true;  // RanOut at the introducer
        return stop_;
    }
    GifBlock block;
    block.kind = GifBlockKind::Image;
    block.offset = pos_;
    GifImage& image = block.image;
    image.left = le16(data_, pos_ + 1);
    image.top = le16(data_, pos_ + 3);
    image.width = le16(data_, pos_ + 5);
    image.height = le16(data_, pos_ + 7);
    const std::uint8_t packed = data_[pos_ + 9];
    image.interlaced = packed & 0x40;
    const std::uint64_t tableAt = pos_ + kDescriptorSize;
    readTableFlags(packed, tableAt, image.tableOffset, image.tableEntries, image.tableBits);
    image.dataOffset = tableAt + 3 * static_cast<std::uint64_t>(image.tableEntries);
    if (image.dataOffset < data_.size()) {
        image.minimumCodeSize = data_[image.dataOffset];
        if (!gifCodeSizeValid(image.minimumCodeSize)) block.problem = "LZW code size out of range";
        image.dataEnd = skipGifSubBlocks(data_, image.dataOffset + 1);
    }
    if (image.dataEnd == 0) {
        stop_.offset = image.dataOffset;
        stopped_ = true;
        return block;
    }
    block.end = image.dataEnd;
    pos_ = image.dataEnd;
    return block;
}

bool GifReader::readControl(const GifBlock& block, GifControl& control) const noexcept {
    if (block.kind != GifBlockKind::Extension || block.label != kGraphicControlLabel) return false;
    const std::uint64_t at = block.offset + 2;  // the first sub-block's length byte
    if (!fits(data_, at, 5) || data_[at] < 4) return false;
    const std::uint8_t packed = data_[at + 1];
    control.disposal = (packed >> 2) & 7;
    control.transparent = packed & 1;
    control.delay = le16(data_, at + 2);
    control.transparentIndex = data_[at + 4];
    return true;
}

}  // namespace kerbilo::picture_detail
