#pragma once
// GIF reading in two steps: parse() walks the block structure once and records where each
// image lies, without decoding; GifPlayer then decodes and draws one image after the other
// onto a canvas of the logical screen size, as an animation shows them. The player is
// deterministic and thread-free, so tests and the command line can ask for "the canvas
// after K frames" and get exactly what the pane's worker shows.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

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

class GifPlayer {
  public:
    explicit GifPlayer(std::shared_ptr<const GifAnimation> animation);

    // Undoes the previous frame as its disposal method says, draws the next one and
    // returns how long it stays, in milliseconds. After the last frame the sequence starts
    // again on a cleared canvas.
    int drawNextFrame();
    // Draws frames until `count` frames have been drawn in total (count >= 1).
    void drawFrames(std::size_t count);

    // Alpha image of the logical screen size; alpha 0 where nothing has been drawn, so the
    // pane's background shows through.
    const Image& canvas() const { return canvas_; }
    std::size_t framesDrawn() const { return drawn_; }

  private:
    std::shared_ptr<const GifAnimation> animation_;
    Image canvas_;
    std::size_t next_ = 0;
    std::size_t drawn_ = 0;
    int pendingDisposal_ = 0;
    int prevX0_ = 0, prevY0_ = 0, prevX1_ = 0, prevY1_ = 0;
    std::vector<Pixel> saved_;
    std::vector<std::uint8_t> indices_;
};

}  // namespace kerbilo
