#pragma once
// GIF reading in two steps: parse() walks the block structure once and records where each
// image lies, without decoding; GifPlayer then decodes and draws one image after the other
// onto a canvas of the logical screen size, as an animation shows them, and keeps a pane
// showing that canvas. The player is deterministic and thread-free, so tests and the
// command line can ask for "the pane after K frames" and get exactly what the pane's
// worker shows.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "picture/compose.h"
#include "picture/decoders.h"
#include "picture/image.h"
#include "runtime/byte_buffer.h"

namespace kerbilo {

struct GifFrame {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
    bool interlaced = false;
    int disposal = 0;  // GIF89a numbering: 2 restores the background, 3 the previous content
    bool transparent = false;
    std::uint8_t transparentIndex = 0;
    int delay = 0;  // hundredths of a second as stored
    std::size_t paletteOffset = 0;
    int paletteEntries = 0;      // 0: the frame uses the global table
    std::size_t dataOffset = 0;  // the LZW minimum code size byte
};

class GifAnimation {
  public:
    // Nothing for data that is not a GIF, is truncated before its first image has ended,
    // or whose logical screen exceeds the limits; `why` then says which.
    static std::optional<GifAnimation> parse(ByteBuffer data, const DecodeLimits& limits = {},
                                             DecodeFailure* why = nullptr);

    int width() const { return width_; }
    int height() const { return height_; }
    const std::vector<GifFrame>& frames() const { return frames_; }
    bool isStill() const { return frames_.size() <= 1; }

    // Milliseconds a frame stays on screen: the stored value in hundredths, 50 ms for 0.
    static int delayMilliseconds(const GifFrame& frame) {
        return frame.delay == 0 ? 50 : frame.delay * 10;
    }

    // Decodes frame i's colour indices (width * height, in stored row order, so interlaced
    // frames still need their rows placed). decodedCount tells how many pixels the data
    // reached; short data leaves the rest undrawn. False when nothing can be decoded.
    bool decodeIndices(std::size_t i, std::vector<std::uint8_t>& indices,
                       std::size_t& decodedCount) const;
    // The frame's colour table as pixels, 256 entries (missing ones opaque black).
    bool palette(std::size_t i, Pixel (&out)[256]) const;

  private:
    ByteBuffer data_;
    int width_ = 0;
    int height_ = 0;
    std::size_t globalPaletteOffset_ = 0;
    int globalPaletteEntries_ = 0;
    std::vector<GifFrame> frames_;
    DecodeLimits limits_;
};

// The logical screen as the player draws on it: tiles of 64 x 64 pixels, each allocated
// only once something has been drawn in it, so a large screen with small images costs
// what the images cost. Tiles never drawn on are transparent (0).
class GifCanvas final : public RowSource {
  public:
    static constexpr int kTile = 64;

    // False when even the table of tiles cannot be allocated.
    bool reset(int width, int height) noexcept;
    void clear();
    int width() const { return width_; }
    int height() const { return height_; }
    bool empty() const { return width_ <= 0 || height_ <= 0; }
    std::size_t allocatedBytes() const { return allocated_ * sizeof(Pixel) * kTile * kTile; }

    Pixel at(int x, int y) const;
    // Sets [x0, x1) x [y0, y1) to 0, releasing the tiles it covers whole.
    void clearRect(int x0, int y0, int x1, int y1);
    // The pixels of a rectangle, rows one after the other; and back.
    void copyOut(int x0, int y0, int x1, int y1, std::vector<Pixel>& out) const;
    void copyIn(int x0, int y0, int x1, int y1, const std::vector<Pixel>& in);
    // Row y from x on, writable up to the end of its tile (allocating the tile); the
    // number of pixels that may be written is stored in `room`.
    Pixel* writable(int x, int y, int& room);
    // Calls visit(x0, y0, x1, y1) for runs of allocated tiles, row of tiles by row.
    template <class Visit>
    void forEachDrawnRun(Visit visit) const;

    const Pixel* row(int y, int x0, int x1, Pixel* scratch) const override;
    // The whole screen as one image; empty when it cannot be allocated.
    Image toImage() const;

  private:
    const Pixel* tile(int column, int row) const {
        return tiles_[static_cast<std::size_t>(row) * static_cast<std::size_t>(columns_) +
                      static_cast<std::size_t>(column)]
            .get();
    }

    int width_ = 0;
    int height_ = 0;
    int columns_ = 0;
    int rows_ = 0;
    std::vector<std::unique_ptr<Pixel[]>> tiles_;
    std::size_t allocated_ = 0;
};

template <class Visit>
void GifCanvas::forEachDrawnRun(Visit visit) const {
    for (int r = 0; r < rows_; ++r)
        for (int c = 0; c < columns_;) {
            if (!tile(c, r)) {
                ++c;
                continue;
            }
            const int first = c;
            while (c < columns_ && tile(c, r)) ++c;
            visit(first * kTile, r * kTile, std::min(c * kTile, width_),
                  std::min((r + 1) * kTile, height_));
        }
}

class GifPlayer {
  public:
    explicit GifPlayer(std::shared_ptr<const GifAnimation> animation);

    // Undoes the previous frame as its disposal method says, draws the next one and
    // returns how long it stays, in milliseconds. After the last frame the sequence starts
    // again on a cleared canvas.
    int drawNextFrame();
    // Draws frames until `count` frames have been drawn in total (count >= 1). The
    // sequence restarts on a cleared canvas, so the canvas after frame K is the canvas
    // after frame (K - 1) mod n + 1 of n frames: whole rounds are skipped, and any count
    // costs at most one round.
    void drawFrames(std::size_t count);

    // Alpha image of the logical screen size; alpha 0 where nothing has been drawn, so the
    // pane's background shows through. Made whole when asked for, which a large screen
    // pays for in memory: a pane shows view() instead.
    const Image& canvas() const;
    const GifCanvas& tiles() const { return canvas_; }
    std::size_t framesDrawn() const { return drawn_; }
    // False when the canvas could not be allocated; nothing is drawn then.
    bool usable() const { return !canvas_.empty(); }

    // Keeps a pane of width x height showing the canvas by composePane's rules, drawn again
    // only where frames change it: the work per frame follows what the frame changes and
    // the pane's size, not the logical screen. Exactly composePane(&canvas(), ...).
    void setView(DisplayMode mode, Pixel background, int width, int height,
                 const ViewOptions& options = {});
    const Image& view() const { return view_; }
    // The canvas as it is now in a pane of another size, background or display mode,
    // composed from scratch; the view stays as it is.
    Image composeAt(DisplayMode mode, Pixel background, int width, int height,
                    const ViewOptions& options = {}) const;
    bool hasView() const { return !view_.empty(); }

  private:
    void changed(int x0, int y0, int x1, int y1);
    void restart();
    // The steps of drawNextFrame. undoPrevious is true when it changed the canvas,
    // drawFrame when the frame could be drawn.
    bool undoPrevious();
    void prepareDisposal(const GifFrame& f, int x0, int y0, int x1, int y1);
    bool drawFrame(std::size_t index, int x0, int y0, int x1, int y1);
    void drawRow(const GifFrame& f, const Pixel* palette, const std::uint8_t* src, int y, int x0,
                 int xEnd);

    std::shared_ptr<const GifAnimation> animation_;
    GifCanvas canvas_;
    std::size_t next_ = 0;
    std::size_t drawn_ = 0;
    int pendingDisposal_ = 0;
    int prevX0_ = 0, prevY0_ = 0, prevX1_ = 0, prevY1_ = 0;
    std::vector<Pixel> saved_;
    std::vector<std::uint8_t> indices_;
    mutable Image whole_;  // canvas() made whole
    mutable bool wholeValid_ = false;

    Image view_;
    PaneScaler scaler_;
    Pixel viewBackground_ = 0;
    bool viewChecker_ = false;
};

}  // namespace kerbilo
