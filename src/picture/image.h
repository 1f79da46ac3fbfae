#pragma once
// The one pixel type every decoder produces and the composer consumes. A pixel is a
// 32-bit value 0xAARRGGBB, which is the memory order B, G, R, A on little-endian machines
// and therefore the layout toolkits (QImage::Format_ARGB32) and libpng's BGRA use.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kerbilo {

using Pixel = std::uint32_t;

constexpr Pixel makePixel(int r, int g, int b, int a = 255) {
    return (static_cast<Pixel>(a) << 24) | (static_cast<Pixel>(r) << 16) |
           (static_cast<Pixel>(g) << 8) | static_cast<Pixel>(b);
}
constexpr int pixelAlpha(Pixel p) {
    return static_cast<int>(p >> 24);
}
constexpr int pixelRed(Pixel p) {
    return static_cast<int>((p >> 16) & 0xFF);
}
constexpr int pixelGreen(Pixel p) {
    return static_cast<int>((p >> 8) & 0xFF);
}
constexpr int pixelBlue(Pixel p) {
    return static_cast<int>(p & 0xFF);
}

enum class ImageKind {
    Colour,  // opaque; any alpha byte is ignored when drawn
    Alpha,   // straight 8-bit alpha, blended against the pane's background (PNG, GIF canvas)
    Icon,    // icon or cursor; alpha carries the mask (0 where the AND mask lets the
             // background through) or a 32-bit icon's own alpha
};

struct Image {
    int width = 0;
    int height = 0;
    ImageKind kind = ImageKind::Colour;
    std::vector<Pixel> pixels;  // row-major, top row first, width * height entries

    bool empty() const { return width <= 0 || height <= 0; }
    Pixel at(int x, int y) const {
        return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                      static_cast<std::size_t>(x)];
    }
    Pixel& at(int x, int y) {
        return pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                      static_cast<std::size_t>(x)];
    }
};

// Hostile headers claim huge sizes; decoders refuse them before allocating anything.
struct DecodeLimits {
    int maxDimension = 32768;
    std::int64_t maxPixels = std::int64_t{64} * 1024 * 1024;
    // Set by whoever no longer wants the picture (a newer one was chosen); the slow
    // decoders (PNG, JPEG) then give up within a few rows.
    const std::atomic<bool>* stop = nullptr;

    bool allows(std::int64_t width, std::int64_t height) const {
        return width > 0 && height > 0 && width <= maxDimension && height <= maxDimension &&
               width * height <= maxPixels;
    }
    bool stopped() const { return stop && stop->load(std::memory_order_relaxed); }
};

using Bytes = std::span<const std::uint8_t>;

}  // namespace kerbilo
