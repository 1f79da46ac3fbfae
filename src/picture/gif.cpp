#include "picture/gif.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

#include "picture/byte_reader.h"
#include "picture/decoders.h"

namespace kerbilo {

using namespace picture_detail;

namespace {

// Skips a chain of sub-blocks starting at pos; returns the offset after its terminator,
// or 0 when the data ends inside the chain.
std::size_t skipSubBlocks(Bytes data, std::size_t pos) {
    while (pos < data.size()) {
        const std::size_t n = data[pos++];
        if (n == 0) return pos;
        if (n > data.size() - pos) return 0;
        pos += n;
    }
    return 0;
}

// An image's sub-block chain as one run of bytes, so reading a code is a shift and a mask
// rather than a walk over block boundaries byte by byte. A length byte that runs past the
// data takes what is there; the terminator or the end of the data ends the chain. Empty
// when it cannot be allocated: the image then stays undrawn.
std::vector<std::uint8_t> gatherSubBlocks(Bytes data, std::size_t pos) {
    std::vector<std::uint8_t> bytes;
    std::size_t total = 0;
    for (std::size_t at = pos; at < data.size() && data[at] != 0; at += 1 + data[at])
        total += std::min<std::size_t>(data[at], data.size() - at - 1);
    try {
        bytes.reserve(total);
    } catch (const std::bad_alloc&) {
        return bytes;
    }
    for (std::size_t at = pos; at < data.size() && data[at] != 0; at += 1 + data[at]) {
        const std::size_t n = std::min<std::size_t>(data[at], data.size() - at - 1);
        bytes.insert(bytes.end(), data.begin() + static_cast<std::ptrdiff_t>(at + 1),
                     data.begin() + static_cast<std::ptrdiff_t>(at + 1 + n));
    }
    return bytes;
}

// Decodes up to out.size() indices; returns how many were produced.
std::size_t lzwDecode(Bytes data, std::size_t pos, std::vector<std::uint8_t>& output) {
    if (pos >= data.size()) return 0;
    const int minCodeSize = data[pos++];
    if (minCodeSize < 1 || minCodeSize > 8) return 0;
    constexpr int kMaxCodes = 4096;
    std::uint16_t prefix[kMaxCodes];
    std::uint8_t suffix[kMaxCodes];
    std::uint8_t first[kMaxCodes];
    std::uint16_t length[kMaxCodes];
    std::uint8_t stack[kMaxCodes];
    const int clear = 1 << minCodeSize;
    const int endOfData = clear + 1;
    for (int i = 0; i < clear; ++i) {
        prefix[i] = 0;
        suffix[i] = first[i] = static_cast<std::uint8_t>(i);
        length[i] = 1;
    }
    int codeSize = minCodeSize + 1;
    int next = clear + 2;
    int prev = -1;
    // Everything the loop touches is local: stores to the byte tables could otherwise
    // alias any member or vector the compiler would then reload at every code.
    std::uint8_t* const out = output.data();
    const std::size_t capacity = output.size();
    std::size_t written = 0;
    const std::vector<std::uint8_t> chain = gatherSubBlocks(data, pos);
    const std::uint8_t* in = chain.data();
    const std::uint8_t* const inEnd = in + chain.size();
    std::uint64_t acc = 0;  // bits least significant first; past `count` the next bytes
    int count = 0;
    while (written < capacity) {
        if (count < codeSize) {
            if (inEnd - in >= 8) {
                // Eight bytes at once; the whole ones that fit are counted as taken.
                std::uint64_t word;
                std::memcpy(&word, in, 8);
                if constexpr (std::endian::native == std::endian::big)
                    word = __builtin_bswap64(word);
                acc |= word << count;
                in += (63 - count) / 8;
                count |= 56;
            } else {
                while (count <= 56 && in < inEnd) {
                    acc |= static_cast<std::uint64_t>(*in++) << count;
                    count += 8;
                }
                if (count < codeSize) break;
            }
        }
        const int code = static_cast<int>(acc & ((std::uint64_t{1} << codeSize) - 1));
        acc >>= codeSize;
        count -= codeSize;
        if (code == clear) {
            codeSize = minCodeSize + 1;
            next = clear + 2;
            prev = -1;
            continue;
        }
        if (code == endOfData) break;
        if (prev < 0) {
            if (code >= clear) break;
            out[written++] = static_cast<std::uint8_t>(code);
            prev = code;
            continue;
        }
        if (code > next || (code == next && next >= kMaxCodes)) break;
        if (next < kMaxCodes) {
            prefix[next] = static_cast<std::uint16_t>(prev);
            suffix[next] = code == next ? first[prev] : first[code];
            first[next] = first[prev];
            length[next] = static_cast<std::uint16_t>(length[prev] + 1);
            ++next;
            if (next == (1 << codeSize) && codeSize < 12) ++codeSize;
        }
        prev = code;
        if (length[code] == 1) {
            out[written++] = suffix[code];
            continue;
        }
        // Strings can reach 4096 bytes; length[] never exceeds that because each entry is
        // one longer than an existing one and there are 4096 entries at most.
        const int n = length[code];
        int c = code;
        for (int i = n - 1; i >= 0; --i) {
            stack[i] = suffix[c];
            c = prefix[c];
        }
        const std::size_t take =
            std::min<std::size_t>(static_cast<std::size_t>(n), capacity - written);
        std::memcpy(out + written, stack, take);
        written += take;
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

}  // namespace

std::optional<GifAnimation> GifAnimation::parse(ByteBuffer buffer, const DecodeLimits& limits,
                                                DecodeFailure* why) {
    const auto fail = [why](DecodeFailure failure) {
        if (why) *why = failure;
        return std::nullopt;
    };
    const Bytes data = bytesOf(buffer);
    if (data.size() < 6 ||
        (std::memcmp(data.data(), "GIF87a", 6) != 0 && std::memcmp(data.data(), "GIF89a", 6) != 0))
        return fail(DecodeFailure::NotRecognised);
    if (data.size() < 14) return fail(DecodeFailure::Truncated);
    GifAnimation gif;
    gif.limits_ = limits;
    gif.width_ = le16(data, 6);
    gif.height_ = le16(data, 8);
    std::size_t pos = 13;
    const std::uint8_t flags = data[10];
    if (flags & 0x80) {
        gif.globalPaletteEntries_ = 2 << (flags & 7);
        gif.globalPaletteOffset_ = pos;
        pos += 3 * static_cast<std::size_t>(gif.globalPaletteEntries_);
        if (pos > data.size()) return fail(DecodeFailure::Truncated);
    }

    GifFrame pending;  // carries the graphic control extension to the next image
    while (pos < data.size()) {
        const std::uint8_t introducer = data[pos];
        if (introducer == 0x21) {
            if (pos + 2 > data.size()) break;
            const std::uint8_t label = data[pos + 1];
            if (label == 0xF9 && fits(data, pos + 2, 5) && data[pos + 2] >= 4) {
                const std::uint8_t packed = data[pos + 3];
                pending.disposal = (packed >> 2) & 7;
                pending.transparent = packed & 1;
                pending.delay = le16(data, pos + 4);
                pending.transparentIndex = data[pos + 6];
            }
            const std::size_t after = skipSubBlocks(data, pos + 2);
            if (after == 0) break;
            pos = after;
        } else if (introducer == 0x2C) {
            if (!fits(data, pos, 10)) break;
            GifFrame frame = pending;
            pending = GifFrame{};
            frame.left = le16(data, pos + 1);
            frame.top = le16(data, pos + 3);
            frame.width = le16(data, pos + 5);
            frame.height = le16(data, pos + 7);
            const std::uint8_t packed = data[pos + 9];
            frame.interlaced = packed & 0x40;
            pos += 10;
            if (packed & 0x80) {
                frame.paletteEntries = 2 << (packed & 7);
                frame.paletteOffset = pos;
                pos += 3 * static_cast<std::size_t>(frame.paletteEntries);
                if (pos > data.size()) break;
            }
            frame.dataOffset = pos;
            if (pos >= data.size()) break;
            const std::size_t after = skipSubBlocks(data, pos + 1);
            if (after == 0) break;
            pos = after;
            try {
                gif.frames_.push_back(frame);
            } catch (const std::bad_alloc&) {
                break;
            }
        } else {
            // The trailer, a zero byte, or anything unknown ends the sequence.
            break;
        }
    }
    // No image at all: the data ended before the first one did, or something that is no
    // GIF block stood where it should have begun.
    if (gif.frames_.empty())
        return fail(pos >= data.size() || data[pos] == 0x2C || data[pos] == 0x21
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

Image GifPlayer::composeAt(DisplayMode mode, Pixel background, int width, int height) const {
    Image pane = composePane(nullptr, mode, background, width, height);
    if (pane.empty() || canvas_.empty()) return pane;
    const PaneScaler scaler(
        canvas_.width(), canvas_.height(),
        destinationRect(mode, width, height, canvas_.width(), canvas_.height()));
    // Tiles never drawn on show the background, which the pane already is.
    canvas_.forEachDrawnRun([&](int x0, int y0, int x1, int y1) {
        scaler.draw(canvas_, ImageKind::Alpha, background | 0xFF000000u, pane,
                    scaler.affected({x0, y0, x1 - x0, y1 - y0}, width, height));
    });
    return pane;
}

void GifPlayer::setView(DisplayMode mode, Pixel background, int width, int height) {
    view_ = composeAt(mode, background, width, height);
    viewBackground_ = background | 0xFF000000u;
    if (view_.empty() || canvas_.empty()) return;
    scaler_ = PaneScaler(canvas_.width(), canvas_.height(),
                         destinationRect(mode, width, height, canvas_.width(), canvas_.height()));
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
    // An empty canvas shows the background only, exactly as scaling it would.
    if (!view_.empty()) std::fill(view_.pixels.begin(), view_.pixels.end(), viewBackground_);
}

int GifPlayer::drawNextFrame() {
    const GifAnimation& gif = *animation_;
    if (canvas_.empty()) return 50;
    wholeValid_ = false;
    if (next_ >= gif.frames().size()) restart();
    // What this call changes on the canvas: the previous image undone, this one drawn.
    // The pane is drawn again once for both where they overlap.
    struct Area {
        int x0, y0, x1, y1;
        std::int64_t size() const { return std::int64_t{x1 - x0} * (y1 - y0); }
    };
    Area dirty[2];
    int dirtyCount = 0;
    if (pendingDisposal_ == 2) {
        canvas_.clearRect(prevX0_, prevY0_, prevX1_, prevY1_);
        dirty[dirtyCount++] = {prevX0_, prevY0_, prevX1_, prevY1_};
    } else if (pendingDisposal_ == 3 && !saved_.empty()) {
        canvas_.copyIn(prevX0_, prevY0_, prevX1_, prevY1_, saved_);
        dirty[dirtyCount++] = {prevX0_, prevY0_, prevX1_, prevY1_};
    }

    const std::size_t index = next_++;
    ++drawn_;
    const GifFrame& f = gif.frames()[index];
    const int x0 = std::min(f.left, canvas_.width());
    const int y0 = std::min(f.top, canvas_.height());
    const int x1 = std::min(f.left + f.width, canvas_.width());
    const int y1 = std::min(f.top + f.height, canvas_.height());
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

    Pixel palette[256];
    std::size_t decoded = 0;
    if (visible && gif.palette(index, palette) && gif.decodeIndices(index, indices_, decoded)) {
        const std::size_t rowWidth = static_cast<std::size_t>(f.width);
        const int fullRows = static_cast<int>(decoded / rowWidth);
        const int rows = fullRows + (decoded % rowWidth != 0 ? 1 : 0);
        for (int i = 0; i < rows; ++i) {
            const int row = f.interlaced ? interlacedRow(i, f.height) : i;
            const int y = f.top + row;
            if (row < 0 || y >= y1) continue;
            const std::uint8_t* src = indices_.data() + rowWidth * static_cast<std::size_t>(i);
            const int count = i < fullRows ? f.width : static_cast<int>(decoded % rowWidth);
            const int xEnd = std::min(x1, f.left + count);
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
        dirty[dirtyCount++] = {x0, y0, x1, y1};
    }
    if (dirtyCount == 2) {
        const Area& a = dirty[0];
        const Area& b = dirty[1];
        const Area both{std::min(a.x0, b.x0), std::min(a.y0, b.y0), std::max(a.x1, b.x1),
                        std::max(a.y1, b.y1)};
        if (both.size() <= a.size() + b.size()) {
            dirty[0] = both;
            dirtyCount = 1;
        }
    }
    for (int i = 0; i < dirtyCount; ++i)
        changed(dirty[i].x0, dirty[i].y0, dirty[i].x1, dirty[i].y1);
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
