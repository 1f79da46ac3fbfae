#pragma once
// The GIF block structure, read once for every caller: the decoder takes the images from
// it and the structure walker the extent, so both see the same blocks and the same damage.
// The reader judges only what the layout itself says; what a caller makes of a block that
// cannot be read (stop and show what came before, or call the picture broken) is its own.
// Internal to the picture library; it allocates nothing and never reads outside `data`.

#include <algorithm>
#include <cstdint>

#include "picture/byte_reader.h"

namespace kerbilo::picture_detail {

enum class GifSignature {
    Absent,   // the data does not start like a GIF
    Partial,  // it does, but ends before the six signature bytes do
    Whole
};
GifSignature gifSignature(Bytes data) noexcept;

// Pixels are at most 8 bits, and the codes start one bit wider than them.
constexpr bool gifCodeSizeValid(int minimumCodeSize) {
    return minimumCodeSize >= 1 && minimumCodeSize <= 8;
}

struct GifScreen {
    int width = 0;
    int height = 0;
    std::uint64_t tableOffset = 0;
    int tableEntries = 0;  // 0: no global colour table
    int tableBits = 0;     // bits per entry index, when there is a table
};

struct GifImage {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    bool interlaced = false;
    std::uint64_t tableOffset = 0;  // 0 when the image has no local table
    int tableEntries = 0;
    int tableBits = 0;
    // The LZW minimum code size byte, its sub-block chain right after it. At or past the
    // end of the data when the data ends inside the local table or right after it.
    std::uint64_t dataOffset = 0;
    int minimumCodeSize = 0;  // 0 when the data ends before it
    // Just past the chain's terminator; 0 when the data ends inside the chain.
    std::uint64_t dataEnd = 0;
};

enum class GifBlockKind {
    Extension,  // introducer 0x21: a label and a sub-block chain
    Image,      // introducer 0x2C: descriptor, local table, LZW data
    Trailer,    // 0x3B
    Unknown,    // any other byte where a block should begin
    RanOut      // the data ends inside a block or where one should begin
};

struct GifBlock {
    GifBlockKind kind = GifBlockKind::RanOut;
    // Where the block begins. RanOut: where the part the data ends in begins (an
    // extension's introducer, an image's data), or the end of the data.
    std::uint64_t offset = 0;
    std::uint64_t end = 0;  // just past the block; 0 unless the block is whole
    // Static text, empty when the layout has nothing against the block: an unknown block,
    // an image whose LZW code size is out of range (the image can still be passed by).
    const char* problem = "";
    std::uint8_t label = 0;  // Extension
    GifImage image;          // Image; whole when `end` is set, else as far as the data goes
};

// The fields of a graphic control extension.
struct GifControl {
    int disposal = 0;
    bool transparent = false;
    std::uint8_t transparentIndex = 0;
    int delay = 0;
};

class GifReader {
  public:
    // data starts with a whole signature.
    explicit GifReader(Bytes data) : data_(data) {}

    // The logical screen descriptor and where the global table lies; false when the data
    // ends inside the descriptor. A table the data ends in shows as RanOut from next().
    bool readScreen(GifScreen& screen) noexcept;
    // The block at the current position, moving past it when it is whole. An image whose
    // data the data ends in is given as far as it goes, and RanOut follows. After a
    // trailer, an unknown block or RanOut the same block comes again.
    GifBlock next() noexcept;
    // The graphic control extension `block` holds; false when it is another extension or
    // too short to hold one.
    bool readControl(const GifBlock& block, GifControl& control) const noexcept;

  private:
    GifBlock readExtension() noexcept;
    GifBlock readImage() noexcept;

    Bytes data_;
    std::uint64_t pos_ = 0;
    // Set once the block at pos_ cannot be passed: it is given again from then on.
    bool stopped_ = false;
    GifBlock stop_;
};

// Offset just past the terminator of the sub-block chain starting at pos, or 0 when the
// data ends inside the chain.
std::uint64_t skipGifSubBlocks(Bytes data, std::uint64_t pos) noexcept;

// Calls visit(offset, length) for each sub-block of the chain starting at pos, up to its
// terminator or the end of the data; a length byte that runs past the data gives what is
// there.
template <class Visit>
void forEachGifSubBlock(Bytes data, std::uint64_t pos, Visit visit) {
    for (std::uint64_t at = pos; at < data.size() && data[at] != 0; at += 1 + data[at])
        visit(at + 1, std::min<std::uint64_t>(data[at], data.size() - at - 1));
}

}  // namespace kerbilo::picture_detail
