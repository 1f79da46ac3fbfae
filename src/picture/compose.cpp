#include "picture/compose.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace kerbilo {

namespace {

// For each destination index, the run of source indices it covers and their weights,
// normalised to sum to 1.
struct Taps {
    std::vector<int> start;
    std::vector<int> count;
    std::vector<int> offset;
    std::vector<float> weight;
};

Taps areaTaps(int sourceSize, int destSize) {
    Taps taps;
    taps.start.resize(static_cast<std::size_t>(destSize));
    taps.count.resize(static_cast<std::size_t>(destSize));
    taps.offset.resize(static_cast<std::size_t>(destSize));
    const double scale = static_cast<double>(sourceSize) / destSize;
    for (int i = 0; i < destSize; ++i) {
        const double a = i * scale;
        const double b = std::min<double>((i + 1) * scale, sourceSize);
        int first = static_cast<int>(std::floor(a));
        int last = std::min(static_cast<int>(std::ceil(b)), sourceSize);
        if (last <= first) last = std::min(first + 1, sourceSize);
        if (first >= sourceSize) first = sourceSize - 1;
        const auto idx = static_cast<std::size_t>(i);
        taps.start[idx] = first;
        taps.count[idx] = last - first;
        taps.offset[idx] = static_cast<int>(taps.weight.size());
        double total = 0;
        const std::size_t base = taps.weight.size();
        for (int j = first; j < last; ++j) {
            const double w = std::min<double>(b, j + 1) - std::max<double>(a, j);
            taps.weight.push_back(static_cast<float>(std::max(w, 0.0)));
            total += std::max(w, 0.0);
        }
        if (total <= 0) {
            // Rounding left no overlap; take the nearest pixel.
            taps.weight[base] = 1.0f;
            total = 1.0;
        }
        for (std::size_t k = base; k < taps.weight.size(); ++k)
            taps.weight[k] = static_cast<float>(taps.weight[k] / total);
    }
    return taps;
}

int toByte(float v) {
    const int i = static_cast<int>(v + 0.5f);
    return std::clamp(i, 0, 255);
}

}  // namespace

Rect destinationRect(DisplayMode mode, int paneWidth, int paneHeight, int imageWidth,
                     int imageHeight) {
    if (paneWidth <= 0 || paneHeight <= 0 || imageWidth <= 0 || imageHeight <= 0) return {};
    if (mode == DisplayMode::Stretched) return {0, 0, paneWidth, paneHeight};
    Rect r{0, 0, paneWidth, paneHeight};
    if (paneWidth >= imageWidth) {
        r.x = (paneWidth - imageWidth) / 2;
        r.width = imageWidth;
    }
    if (paneHeight >= imageHeight) {
        r.y = (paneHeight - imageHeight) / 2;
        r.height = imageHeight;
    }
    if (r.width < imageWidth || r.height < imageHeight) {
        const double s = std::min(static_cast<double>(r.width) / imageWidth,
                                  static_cast<double>(r.height) / imageHeight);
        const int w = static_cast<int>(std::floor(imageWidth * s));
        const int h = static_cast<int>(std::floor(imageHeight * s));
        r.x += (r.width - w) / 2;
        r.y += (r.height - h) / 2;
        r.width = w;
        r.height = h;
    } else {
        r.width = imageWidth;
        r.height = imageHeight;
    }
    return r;
}

Pixel resolveOver(Pixel pixel, ImageKind kind, Pixel background) {
    const int a = pixelAlpha(pixel);
    if (kind == ImageKind::Colour || a == 255) return pixel | 0xFF000000u;
    // Integer form of a/255*c + (1-a/255)*g: exact, so the floor is the true floor.
    const auto mix = [a](int c, int g) { return (a * c + (255 - a) * g) / 255; };
    return makePixel(mix(pixelRed(pixel), pixelRed(background)),
                     mix(pixelGreen(pixel), pixelGreen(background)),
                     mix(pixelBlue(pixel), pixelBlue(background)));
}

void scaleInto(const Image& source, ImageKind kind, Pixel background, Image& dst, Rect rect) {
    if (source.empty() || rect.width <= 0 || rect.height <= 0) return;
    const int dx0 = std::max(rect.x, 0);
    const int dy0 = std::max(rect.y, 0);
    const int dx1 = std::min(rect.x + rect.width, dst.width);
    const int dy1 = std::min(rect.y + rect.height, dst.height);
    if (dx0 >= dx1 || dy0 >= dy1) return;

    if (rect.width == source.width && rect.height == source.height) {
        for (int y = dy0; y < dy1; ++y)
            for (int x = dx0; x < dx1; ++x)
                dst.at(x, y) = resolveOver(source.at(x - rect.x, y - rect.y), kind, background);
        return;
    }

    const Taps tx = areaTaps(source.width, rect.width);
    const Taps ty = areaTaps(source.height, rect.height);
    // Only the source rows some visible destination row needs go through the first pass.
    const int sy0 = ty.start[static_cast<std::size_t>(dy0 - rect.y)];
    const auto lastRow = static_cast<std::size_t>(dy1 - 1 - rect.y);
    const int sy1 = ty.start[lastRow] + ty.count[lastRow];
    const int cols = dx1 - dx0;
    std::vector<float> rows(static_cast<std::size_t>(sy1 - sy0) * static_cast<std::size_t>(cols) *
                            3);

    for (int sy = sy0; sy < sy1; ++sy) {
        const Pixel* src = source.pixels.data() +
                           static_cast<std::size_t>(sy) * static_cast<std::size_t>(source.width);
        float* out =
            rows.data() + static_cast<std::size_t>(sy - sy0) * static_cast<std::size_t>(cols) * 3;
        for (int x = dx0; x < dx1; ++x, out += 3) {
            const auto i = static_cast<std::size_t>(x - rect.x);
            const float* w = tx.weight.data() + tx.offset[i];
            float r = 0, g = 0, b = 0;
            for (int k = 0; k < tx.count[i]; ++k) {
                const Pixel p = resolveOver(src[tx.start[i] + k], kind, background);
                r += w[k] * static_cast<float>(pixelRed(p));
                g += w[k] * static_cast<float>(pixelGreen(p));
                b += w[k] * static_cast<float>(pixelBlue(p));
            }
            out[0] = r;
            out[1] = g;
            out[2] = b;
        }
    }

    std::vector<float> acc(static_cast<std::size_t>(cols) * 3);
    for (int y = dy0; y < dy1; ++y) {
        const auto j = static_cast<std::size_t>(y - rect.y);
        std::fill(acc.begin(), acc.end(), 0.0f);
        const float* w = ty.weight.data() + ty.offset[j];
        for (int k = 0; k < ty.count[j]; ++k) {
            const float* row = rows.data() + static_cast<std::size_t>(ty.start[j] + k - sy0) *
                                                 static_cast<std::size_t>(cols) * 3;
            for (std::size_t c = 0; c < acc.size(); ++c) acc[c] += w[k] * row[c];
        }
        Pixel* out = &dst.at(dx0, y);
        for (int x = 0; x < cols; ++x) {
            const float* v = acc.data() + static_cast<std::size_t>(x) * 3;
            out[x] = makePixel(toByte(v[0]), toByte(v[1]), toByte(v[2]));
        }
    }
}

Image composePane(const Image* image, DisplayMode mode, Pixel background, int paneWidth,
                  int paneHeight) {
    Image pane;
    if (paneWidth <= 0 || paneHeight <= 0) return pane;
    background |= 0xFF000000u;
    try {
        pane.pixels.assign(
            static_cast<std::size_t>(paneWidth) * static_cast<std::size_t>(paneHeight), background);
        pane.width = paneWidth;
        pane.height = paneHeight;
        pane.kind = ImageKind::Colour;
        if (image == nullptr || image->empty()) return pane;
        const Rect rect = destinationRect(mode, paneWidth, paneHeight, image->width, image->height);
        scaleInto(*image, image->kind, background, pane, rect);
    } catch (const std::bad_alloc&) {
        // The background alone, when even that could be allocated.
    }
    return pane;
}

}  // namespace kerbilo
