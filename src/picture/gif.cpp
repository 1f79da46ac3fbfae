#include "picture/gif.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#include "picture/byte_reader.h"
#include "picture/decoders.h"
#include "picture/gif_blocks.h"

namespace kerbilo {

using namespace picture_detail;

namespace {

// An image's sub-block chain as one run of bytes, so reading a code is a shift and a mask
// rather than a walk over block boundaries byte by byte. A length byte that runs past the
// data takes what is there; the terminator or the end of the data ends the chain. Empty
// when it cannot be allocated: the image then stays undrawn.
std::vector<std::uint8_t> gatherSubBlocks(Bytes data, std::size_t pos) {
    std::vector<std::uint8_t> bytes;
    std::size_t total = 0;
    forEachGifSubBlock(data, pos, [&](std::uint64_t, std::uint64_t n) { total += n; });
    try {
        bytes.reserve(total);
    } catch (const std::bad_alloc&) {
        return bytes;
    }
    forEachGifSubBlock(data, pos, [&](std::uint64_t at, std::uint64_t n) {
        bytes.insert(bytes.end(), data.begin() + static_cast<std::ptrdiff_t>(at),
                     data.begin() + static_cast<std::ptrdiff_t>(at + n));
    });
    return bytes;
}

// The codes of a gathered chain, least significant bit first, read a machine word at a
// time where eight bytes remain.
class CodeReader {
  public:
    explicit CodeReader(const std::vector<std::uint8_t>& chain)
        : in_(chain.data()), end_(chain.data() + chain.size()) {}

    // False when fewer than codeSize bits remain.
    bool read(int codeSize, int& code) {
        if (count_ < codeSize) {
            if (end_ - in_ >= 8) {
                // Eight bytes at once; the whole ones that fit are counted as taken.
                std::uint64_t word;
                std::memcpy(&word, in_, 8);
                if constexpr (std::endian::native == std::endian::big)
                    word = __builtin_bswap64(word);
                acc_ |= word << count_;
                in_ += (63 - count_) / 8;
                count_ |= 56;
            } else {
                while (count_ <= 56 && in_ < end_) {
                    acc_ |= static_cast<std::uint64_t>(*in_++) << count_;
                    count_ += 8;
                }
                if (count_ < codeSize) return false;
            }
        }
        code = static_cast<int>(acc_ & ((std::uint64_t{1} << codeSize) - 1));
        acc_ >>= codeSize;
        count_ -= codeSize;
        return true;
    }

  private:
    const std::uint8_t* in_;
    const std::uint8_t* end_;
    std::uint64_t acc_ = 0;  // bits least significant first; past `count_` the next bytes
    int count_ = 0;
};

// The string table: each code is a shorter code's string plus one byte.
class LzwTable {
  public:
    static constexpr int kMaxCodes = 4096;

    explicit LzwTable(int minCodeSize)
        : minCodeSize_(minCodeSize), clear_(1 << minCodeSize), endOfData_(clear_ + 1) {
        for (int i = 0; i < clear_; ++i) {
            prefix_[i] = 0;
            suffix_[i] = first_[i] = static_cast<std::uint8_t>(i);
            length_[i] = 1;
        }
        reset();
    }

    int clearCode() const { return clear_; }
    int endOfData() const { return endOfData_; }
    int codeSize() const { return codeSize_; }
    void reset() {
        codeSize_ = minCodeSize_ + 1;
        next_ = clear_ + 2;
    }
    // Whether code may follow a string: a known code, or the one about to be added.
    bool acceptable(int code) const {
        return !(code > next_ || (code == next_ && next_ >= kMaxCodes));
    }
    // Adds prev's string plus the first byte of code's (of prev's when code is the new one).
    void add(int prev, int code) {
        if (next_ >= kMaxCodes) return;
        prefix_[next_] = static_cast<std::uint16_t>(prev);
        suffix_[next_] = code == next_ ? first_[prev] : first_[code];
        first_[next_] = first_[prev];
        length_[next_] = static_cast<std::uint16_t>(length_[prev] + 1);
        ++next_;
        if (next_ == (1 << codeSize_) && codeSize_ < 12) ++codeSize_;
    }
    // Writes code's string, as much of it as `room` allows; returns how much was written.
    std::size_t write(int code, std::uint8_t* out, std::size_t room) {
        if (length_[code] == 1) {
            *out = suffix_[code];
            return 1;
        }
        // Strings can reach 4096 bytes; length[] never exceeds that because each entry is
        // one longer than an existing one and there are 4096 entries at most.
        const int n = length_[code];
        int c = code;
        for (int i = n - 1; i >= 0; --i) {
            stack_[i] = suffix_[c];
            c = prefix_[c];
        }
        const std::size_t take = std::min<std::size_t>(static_cast<std::size_t>(n), room);
        std::memcpy(out, stack_, take);
        return take;
    }

  private:
    std::uint16_t prefix_[kMaxCodes];
    std::uint8_t suffix_[kMaxCodes];
    std::uint8_t first_[kMaxCodes];
    std::uint16_t length_[kMaxCodes];
    std::uint8_t stack_[kMaxCodes];
    int minCodeSize_;
    int clear_;
    int endOfData_;
    int codeSize_ = 0;
    int next_ = 0;
};

// Decodes up to out.size() indices; returns how many were produced.
std::size_t lzwDecode(Bytes data, std::size_t pos, std::vector<std::uint8_t>& output) {
    if (pos >= data.size()) return 0;
    const int minCodeSize = data[pos++];
    if (!gifCodeSizeValid(minCodeSize)) return 0;
    LzwTable table(minCodeSize);
    // Everything the loop touches is local: stores to the byte tables could otherwise
    // alias any member or vector the compiler would then reload at every code.
    std::uint8_t* const out = output.data();
    const std::size_t capacity = output.size();
    std::size_t written = 0;
    const std::vector<std::uint8_t> chain = gatherSubBlocks(data, pos);
    CodeReader codes(chain);
    int prev = -1;
    int code = 0;
    while (written < capacity && codes.read(table.codeSize(), code)) {
        if (code == table.clearCode()) {
            table.reset();
            prev = -1;
            continue;
        }
        if (code == table.endOfData()) break;
        if (prev < 0) {
            if (code >= table.clearCode()) break;
            out[written++] = static_cast<std::uint8_t>(code);
            prev = code;
            continue;
        }
        if (!table.acceptable(code)) break;
        table.add(prev, code);
        prev = code;
        written += table.write(code, out + written, capacity - written);
    }
    return written;
}

// Stored row order of an interlaced image: every 8th row from 0, every 8th from 4, every
// 4th from 2, every 2nd from 1.
int interlacedRow(int i, int height) {
    static constexpr int kStart[4] = {0, 4, 2, 1};
    static constexpr int kStep[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; ++pass) {
        const int rows =
            height > kStart[pass] ? (height - kStart[pass] + kStep[pass] - 1) / kStep[pass] : 0;
        if (i < rows) return kStart[pass] + i * kStep[pass];
        i -= rows;
    }
    return -1;
}

GifFrame frameOf(const GifImage& image, const GifFrame& control) {
    GifFrame frame = control;
    frame.left = image.left;
    frame.top = image.top;
    frame.width = image.width;
    frame.height = image.height;
    frame.interlaced = image.interlaced;
    frame.paletteOffset = image.tableOffset;
    frame.paletteEntries = image.tableEntries;
    frame.dataOffset = image.dataOffset;
    return frame;
}

// Collects the images up to the block that ends the sequence: the trailer, a zero byte,
// anything unknown, or one the data ends in, as common readers show what came before such
// a block. Returns where the sequence stopped.
std::uint64_t collectFrames(GifReader& reader, std::vector<GifFrame>& frames) {
    GifFrame pending;  // carries the graphic control extension to the next image
    for (;;) {
        const GifBlock block = reader.next();
        if (block.kind == GifBlockKind::Extension) {
            GifControl control;
            if (reader.readControl(block, control)) {
                pending.disposal = control.disposal;
                pending.transparent = control.transparent;
                pending.delay = control.delay;
                pending.transparentIndex = control.transparentIndex;
            }
            continue;
        }
        if (block.kind != GifBlockKind::Image) return block.offset;
        // An image the data ends in is not shown; the reader stops after it.
        if (block.end == 0) continue;
        const GifFrame frame = frameOf(block.image, pending);
        pending = GifFrame{};
        try {
            frames.push_back(frame);
        } catch (const std::bad_alloc&) {
            return block.end;
        }
    }
}

}  // namespace

std::optional<GifAnimation> GifAnimation::parse(ByteBuffer buffer, const DecodeLimits& limits,
                                                DecodeFailure* why) {
    const auto fail = [why](DecodeFailure failure) {
        if (why) *why = failure;
        return std::nullopt;
    };
    const Bytes data = bytesOf(buffer);
    if (gifSignature(data) != GifSignature::Whole) return fail(DecodeFailure::NotRecognised);
    GifReader reader(data);
    GifScreen screen;
    if (!reader.readScreen(screen)) return fail(DecodeFailure::Truncated);
    GifAnimation gif;
    gif.limits_ = limits;
    gif.width_ = screen.width;
    gif.height_ = screen.height;
    gif.globalPaletteOffset_ = screen.tableOffset;
    gif.globalPaletteEntries_ = screen.tableEntries;
    const std::uint64_t stop = collectFrames(reader, gif.frames_);
    // No image at all: the data ended before the first one did, or something that is no
    // GIF block stood where it should have begun. An image whose sub-blocks the data ends
    // in stops at its first data byte, which is judged the same way.
    if (gif.frames_.empty())
        return fail(stop >= data.size() || data[stop] == 0x2C || data[stop] == 0x21
                        ? DecodeFailure::Truncated
                        : DecodeFailure::Corrupt);
    // A zero-sized logical screen is common in files from careless writers; the first
    // image then decides the canvas.
    if (gif.width_ == 0 || gif.height_ == 0) {
        gif.width_ = gif.frames_[0].left + gif.frames_[0].width;
        gif.height_ = gif.frames_[0].top + gif.frames_[0].height;
    }
    if (!limits.allows(gif.width_, gif.height_)) return fail(DecodeFailure::OverLimits);
    gif.data_ = std::move(buffer);
    return gif;
}

bool GifAnimation::decodeIndices(std::size_t i, std::vector<std::uint8_t>& indices,
                                 std::size_t& decodedCount) const {
    decodedCount = 0;
    if (i >= frames_.size()) return false;
    const GifFrame& f = frames_[i];
    if (!limits_.allows(f.width, f.height)) return false;
    try {
        indices.resize(static_cast<std::size_t>(f.width) * static_cast<std::size_t>(f.height));
    } catch (const std::bad_alloc&) {
        return false;
    }
    decodedCount = lzwDecode(bytesOf(data_), f.dataOffset, indices);
    return decodedCount > 0;
}

bool GifAnimation::palette(std::size_t i, Pixel (&out)[256]) const {
    if (i >= frames_.size()) return false;
    const GifFrame& f = frames_[i];
    std::size_t offset = f.paletteOffset;
    int entries = f.paletteEntries;
    if (entries == 0) {
        offset = globalPaletteOffset_;
        entries = globalPaletteEntries_;
    }
    if (entries == 0) return false;
    const std::uint8_t* p = data_.data() + offset;
    for (int c = 0; c < 256; ++c)
        out[c] = c < entries ? makePixel(p[3 * c], p[3 * c + 1], p[3 * c + 2]) : makePixel(0, 0, 0);
    return true;
}

// ---- the canvas in tiles ----------------------------------------------------------------

bool GifCanvas::reset(int width, int height) noexcept {
    tiles_.clear();
    allocated_ = 0;
    width_ = height_ = columns_ = rows_ = 0;
    if (width <= 0 || height <= 0) return false;
    const int columns = (width + kTile - 1) / kTile;
    const int rows = (height + kTile - 1) / kTile;
    try {
        tiles_.resize(static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows));
    } catch (const std::bad_alloc&) {
        return false;
    }
    width_ = width;
    height_ = height;
    columns_ = columns;
    rows_ = rows;
    return true;
}

void GifCanvas::clear() {
    for (auto& t : tiles_) t.reset();
    allocated_ = 0;
}

Pixel GifCanvas::at(int x, int y) const {
    const Pixel* t = tile(x / kTile, y / kTile);
    return t ? t[(y % kTile) * kTile + x % kTile] : Pixel{0};
}

void GifCanvas::clearRect(int x0, int y0, int x1, int y1) {
    for (int r = y0 / kTile; r * kTile < y1; ++r)
        for (int c = x0 / kTile; c * kTile < x1; ++c) {
            auto& t = tiles_[static_cast<std::size_t>(r) * static_cast<std::size_t>(columns_) +
                             static_cast<std::size_t>(c)];
            if (!t) continue;
            const int tx0 = std::max(x0, c * kTile) - c * kTile;
            const int ty0 = std::max(y0, r * kTile) - r * kTile;
            const int tx1 = std::min(x1, (c + 1) * kTile) - c * kTile;
            const int ty1 = std::min(y1, (r + 1) * kTile) - r * kTile;
            const int fullX = std::min(kTile, width_ - c * kTile);
            const int fullY = std::min(kTile, height_ - r * kTile);
            if (tx0 == 0 && ty0 == 0 && tx1 >= fullX && ty1 >= fullY) {
                t.reset();
                --allocated_;
                continue;
            }
            for (int y = ty0; y < ty1; ++y)
                std::fill_n(t.get() + y * kTile + tx0, tx1 - tx0, Pixel{0});
        }
}

void GifCanvas::copyOut(int x0, int y0, int x1, int y1, std::vector<Pixel>& out) const {
    out.resize(static_cast<std::size_t>(x1 - x0) * static_cast<std::size_t>(y1 - y0));
    Pixel* o = out.data();
    for (int y = y0; y < y1; ++y, o += x1 - x0) row(y, x0, x1, o);
}

void GifCanvas::copyIn(int x0, int y0, int x1, int y1, const std::vector<Pixel>& in) {
    const std::size_t width = static_cast<std::size_t>(x1 - x0);
    for (int y = y0; y < y1; ++y) {
        const Pixel* line = in.data() + width * static_cast<std::size_t>(y - y0);
        for (int x = x0; x < x1;) {
            const int end = std::min(x1, (x / kTile + 1) * kTile);
            const Pixel* from = line + (x - x0);
            // Transparent runs need no tile of their own.
            if (tile(x / kTile, y / kTile) ||
                std::any_of(from, from + (end - x), [](Pixel p) { return p != 0; })) {
                int room = 0;
                std::copy(from, from + (end - x), writable(x, y, room));
            }
            x = end;
        }
    }
}

Pixel* GifCanvas::writable(int x, int y, int& room) {
    auto& t = tiles_[static_cast<std::size_t>(y / kTile) * static_cast<std::size_t>(columns_) +
                     static_cast<std::size_t>(x / kTile)];
    if (!t) {
        t = std::make_unique<Pixel[]>(static_cast<std::size_t>(kTile) * kTile);  // zeroed
        ++allocated_;
    }
    room = kTile - x % kTile;
    return t.get() + (y % kTile) * kTile + x % kTile;
}

const Pixel* GifCanvas::row(int y, int x0, int x1, Pixel* scratch) const {
    Pixel* out = scratch;
    for (int x = x0; x < x1;) {
        const int end = std::min(x1, (x / kTile + 1) * kTile);
        const Pixel* t = tile(x / kTile, y / kTile);
        if (t)
            std::copy_n(t + (y % kTile) * kTile + x % kTile, end - x, out);
        else
            std::fill_n(out, end - x, Pixel{0});
        out += end - x;
        x = end;
    }
    return scratch;
}

Image GifCanvas::toImage() const {
    Image image;
    if (!allocateImage(image, width_, height_, ImageKind::Alpha, 0)) return {};
    for (int y = 0; y < height_; ++y) row(y, 0, width_, &image.at(0, y));
    return image;
}

// ---- the player --------------------------------------------------------------------------

GifPlayer::GifPlayer(std::shared_ptr<const GifAnimation> animation)
    : animation_(std::move(animation)) {
    canvas_.reset(animation_->width(), animation_->height());
}

const Image& GifPlayer::canvas() const {
    if (!wholeValid_) {
        try {
            whole_ = canvas_.toImage();
        } catch (...) {
            whole_ = Image{};
        }
        wholeValid_ = true;
    }
    return whole_;
}

Image GifPlayer::composeAt(DisplayMode mode, Pixel background, int width, int height,
                           const ViewOptions& options) const {
    Image pane = composePane(nullptr, mode, background, width, height);
    if (pane.empty() || canvas_.empty()) return pane;
    const Rect rect =
        destinationRect(mode, width, height, canvas_.width(), canvas_.height(), options);
    const PaneScaler scaler(canvas_.width(), canvas_.height(), rect, {0, 0, width, height},
                            options.checkerboard);
    // Tiles never drawn on show the background (or the checkerboard), which the pane
    // already is.
    if (options.checkerboard) fillChecker(pane, rect);
    canvas_.forEachDrawnRun([&](int x0, int y0, int x1, int y1) {
        scaler.draw(canvas_, ImageKind::Alpha, background | 0xFF000000u, pane,
                    scaler.affected({x0, y0, x1 - x0, y1 - y0}, width, height));
    });
    return pane;
}

void GifPlayer::setView(DisplayMode mode, Pixel background, int width, int height,
                        const ViewOptions& options) {
    view_ = composeAt(mode, background, width, height, options);
    viewBackground_ = background | 0xFF000000u;
    viewChecker_ = options.checkerboard;
    if (view_.empty() || canvas_.empty()) return;
    scaler_ =
        PaneScaler(canvas_.width(), canvas_.height(),
                   destinationRect(mode, width, height, canvas_.width(), canvas_.height(), options),
                   {0, 0, width, height}, options.checkerboard);
}

void GifPlayer::changed(int x0, int y0, int x1, int y1) {
    if (view_.empty() || x0 >= x1 || y0 >= y1) return;
    const Rect area = scaler_.affected({x0, y0, x1 - x0, y1 - y0}, view_.width, view_.height);
    scaler_.draw(canvas_, ImageKind::Alpha, viewBackground_, view_, area);
}

void GifPlayer::restart() {
    next_ = 0;
    pendingDisposal_ = 0;
    canvas_.clear();
    wholeValid_ = false;
    // An empty canvas shows the background only (and the checkerboard where the picture
    // lies), exactly as scaling it would.
    if (!view_.empty()) {
        std::fill(view_.pixels.begin(), view_.pixels.end(), viewBackground_);
        if (viewChecker_) fillChecker(view_, scaler_.rect());
    }
}

namespace {

// What one call of drawNextFrame changes on the canvas: the previous image undone, the
// next one drawn. Where the two overlap the pane is drawn again once for both.
class ChangedAreas {
  public:
    struct Area {
        int x0, y0, x1, y1;
        std::int64_t size() const { return std::int64_t{x1 - x0} * (y1 - y0); }
    };

    void add(const Area& area) { areas_[count_++] = area; }
    template <class Redraw>
    void redraw(Redraw redraw) {
        if (count_ == 2) {
            const Area& a = areas_[0];
            const Area& b = areas_[1];
            const Area both{std::min(a.x0, b.x0), std::min(a.y0, b.y0), std::max(a.x1, b.x1),
                            std::max(a.y1, b.y1)};
            if (both.size() <= a.size() + b.size()) {
                areas_[0] = both;
                count_ = 1;
            }
        }
        for (int i = 0; i < count_; ++i)
            redraw(areas_[i].x0, areas_[i].y0, areas_[i].x1, areas_[i].y1);
    }

  private:
    Area areas_[2];
    int count_ = 0;
};

}  // namespace

bool GifPlayer::undoPrevious() {
    if (pendingDisposal_ == 2) {
        canvas_.clearRect(prevX0_, prevY0_, prevX1_, prevY1_);
        return true;
    }
    if (pendingDisposal_ == 3 && !saved_.empty()) {
        canvas_.copyIn(prevX0_, prevY0_, prevX1_, prevY1_, saved_);
        return true;
    }
    return false;
}

void GifPlayer::prepareDisposal(const GifFrame& f, int x0, int y0, int x1, int y1) {
    const bool visible = x0 < x1 && y0 < y1;
    pendingDisposal_ = visible && (f.disposal == 2 || f.disposal == 3) ? f.disposal : 0;
    prevX0_ = x0;
    prevY0_ = y0;
    prevX1_ = x1;
    prevY1_ = y1;
    saved_.clear();
    if (pendingDisposal_ == 3) {
        try {
            canvas_.copyOut(x0, y0, x1, y1, saved_);
        } catch (const std::bad_alloc&) {
            saved_.clear();
            pendingDisposal_ = 0;
        }
    }
}

void GifPlayer::drawRow(const GifFrame& f, const Pixel* palette, const std::uint8_t* src, int y,
                        int x0, int xEnd) {
    // Tile by tile; a tile is allocated only when a pixel of it is drawn.
    for (int x = x0; x < xEnd;) {
        const int end = std::min(xEnd, (x / GifCanvas::kTile + 1) * GifCanvas::kTile);
        const std::uint8_t* from = src + (x - f.left);
        const int n = end - x;
        if (!f.transparent) {
            int room = 0;
            Pixel* dst = canvas_.writable(x, y, room);
            for (int k = 0; k < n; ++k) dst[k] = palette[from[k]];
        } else {
            Pixel* dst = nullptr;
            for (int k = 0; k < n; ++k) {
                if (from[k] == f.transparentIndex) continue;
                int room = 0;
                if (!dst) dst = canvas_.writable(x, y, room);
                dst[k] = palette[from[k]];
            }
        }
        x = end;
    }
}

bool GifPlayer::drawFrame(std::size_t index, int x0, int y0, int x1, int y1) {
    const GifAnimation& gif = *animation_;
    const GifFrame& f = gif.frames()[index];
    Pixel palette[256];
    std::size_t decoded = 0;
    if (x0 >= x1 || y0 >= y1 || !gif.palette(index, palette) ||
        !gif.decodeIndices(index, indices_, decoded))
        return false;
    const std::size_t rowWidth = static_cast<std::size_t>(f.width);
    const int fullRows = static_cast<int>(decoded / rowWidth);
    const int rows = fullRows + (decoded % rowWidth != 0 ? 1 : 0);
    for (int i = 0; i < rows; ++i) {
        const int row = f.interlaced ? interlacedRow(i, f.height) : i;
        const int y = f.top + row;
        if (row < 0 || y >= y1) continue;
        const std::uint8_t* src = indices_.data() + rowWidth * static_cast<std::size_t>(i);
        const int count = i < fullRows ? f.width : static_cast<int>(decoded % rowWidth);
        drawRow(f, palette, src, y, x0, std::min(x1, f.left + count));
    }
    return true;
}

int GifPlayer::drawNextFrame() {
    const GifAnimation& gif = *animation_;
    if (canvas_.empty()) return 50;
    wholeValid_ = false;
    if (next_ >= gif.frames().size()) restart();
    ChangedAreas changedAreas;
    if (undoPrevious()) changedAreas.add({prevX0_, prevY0_, prevX1_, prevY1_});

    const std::size_t index = next_++;
    ++drawn_;
    const GifFrame& f = gif.frames()[index];
    const int x0 = std::min(f.left, canvas_.width());
    const int y0 = std::min(f.top, canvas_.height());
    const int x1 = std::min(f.left + f.width, canvas_.width());
    const int y1 = std::min(f.top + f.height, canvas_.height());
    prepareDisposal(f, x0, y0, x1, y1);
    if (drawFrame(index, x0, y0, x1, y1)) changedAreas.add({x0, y0, x1, y1});
    changedAreas.redraw(
        [this](int ax0, int ay0, int ax1, int ay1) { changed(ax0, ay0, ax1, ay1); });
    return GifAnimation::delayMilliseconds(f);
}

void GifPlayer::drawFrames(std::size_t count) {
    const std::size_t n = animation_->frames().size();
    // When the current round ends before `count`, only the last round counts.
    if (n > 0 && count > drawn_ && count - drawn_ > n - next_) {
        restart();
        const std::size_t last = (count - 1) % n;  // the frame count ends on
        drawn_ = count - (last + 1);
    }
    while (drawn_ < count) drawNextFrame();
}

Decoded decodeGifStill(Bytes data, const DecodeLimits& limits) noexcept {
    try {
        DecodeFailure why = DecodeFailure::Corrupt;
        auto gif = GifAnimation::parse(ByteBuffer(data.data(), data.size()), limits, &why);
        if (!gif) return why;
        GifPlayer player(std::make_shared<const GifAnimation>(std::move(*gif)));
        if (!player.usable()) return DecodeFailure::OutOfMemory;
        player.drawNextFrame();
        if (player.canvas().empty()) return DecodeFailure::OutOfMemory;
        return player.canvas();
    } catch (...) {
        return DecodeFailure::OutOfMemory;
    }
}

}  // namespace kerbilo
