#include "picture/compose.h"

#include <algorithm>
#include <cmath>
#include <new>

namespace kerbilo {

namespace {

// resolveOver, for the loops of this file to inline.
inline Pixel resolve(Pixel pixel, ImageKind kind, Pixel background) {
    const int a = pixelAlpha(pixel);
    if (kind == ImageKind::Colour || a == 255) return pixel | 0xFF000000u;
    // Integer form of a/255*c + (1-a/255)*g: exact, so the floor is the true floor.
    const auto mix = [a](int c, int g) { return (a * c + (255 - a) * g) / 255; };
    return makePixel(mix(pixelRed(pixel), pixelRed(background)),
                     mix(pixelGreen(pixel), pixelGreen(background)),
                     mix(pixelBlue(pixel), pixelBlue(background)));
}

int toByte(float v) {
    const int i = static_cast<int>(v + 0.5f);
    return std::clamp(i, 0, 255);
}

class ImageRows final : public RowSource {
  public:
    explicit ImageRows(const Image& image) : image_(image) {}
    const Pixel* row(int y, int x0, int, Pixel*) const override {
        return image_.pixels.data() +
               static_cast<std::size_t>(y) * static_cast<std::size_t>(image_.width) +
               static_cast<std::size_t>(x0);
    }

  private:
    const Image& image_;
};

Rect intersect(Rect a, Rect b) {
    const int x0 = std::max(a.x, b.x), y0 = std::max(a.y, b.y);
    const int x1 = std::min(a.x + a.width, b.x + b.width);
    const int y1 = std::min(a.y + a.height, b.y + b.height);
    if (x0 >= x1 || y0 >= y1) return {};
    return {x0, y0, x1 - x0, y1 - y0};
}

}  // namespace

PaneScaler::Taps PaneScaler::areaTaps(int sourceSize, int destSize) {
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

PaneScaler::PaneScaler(int sourceWidth, int sourceHeight, Rect rect) : rect_(rect) {
    if (sourceWidth <= 0 || sourceHeight <= 0 || rect.width <= 0 || rect.height <= 0) {
        rect_ = {};
        return;
    }
    identity_ = rect.width == sourceWidth && rect.height == sourceHeight;
    if (identity_) return;
    tx_ = areaTaps(sourceWidth, rect.width);
    ty_ = areaTaps(sourceHeight, rect.height);
}

Rect PaneScaler::affected(Rect changed, int paneWidth, int paneHeight) const {
    if (rect_.width <= 0 || changed.width <= 0 || changed.height <= 0) return {};
    Rect out;
    if (identity_) {
        out = {changed.x + rect_.x, changed.y + rect_.y, changed.width, changed.height};
    } else {
        // Runs start and end in ascending order, so the destination indices whose run
        // meets [from, to) are one range, found by two binary searches.
        const auto range = [](const Taps& t, int from, int to) {
            int lo = 0, hi = static_cast<int>(t.start.size());
            while (lo < hi) {
                const int mid = (lo + hi) / 2;
                const auto m = static_cast<std::size_t>(mid);
                if (t.start[m] + t.count[m] > from)
                    hi = mid;
                else
                    lo = mid + 1;
            }
            const int first = lo;
            hi = static_cast<int>(t.start.size());
            while (lo < hi) {
                const int mid = (lo + hi) / 2;
                if (t.start[static_cast<std::size_t>(mid)] < to)
                    lo = mid + 1;
                else
                    hi = mid;
            }
            return std::pair<int, int>(first, lo);
        };
        const auto [cx0, cx1] = range(tx_, changed.x, changed.x + changed.width);
        const auto [cy0, cy1] = range(ty_, changed.y, changed.y + changed.height);
        if (cx0 >= cx1 || cy0 >= cy1) return {};
        out = {rect_.x + cx0, rect_.y + cy0, cx1 - cx0, cy1 - cy0};
    }
    return intersect(out, {0, 0, paneWidth, paneHeight});
}

void PaneScaler::draw(const RowSource& source, ImageKind kind, Pixel background, Image& dst,
                      Rect area) const {
    area = intersect(intersect(area, rect_), {0, 0, dst.width, dst.height});
    if (area.width <= 0) return;
    const int dx0 = area.x, dx1 = area.x + area.width;
    const int dy0 = area.y, dy1 = area.y + area.height;
    const int cols = dx1 - dx0;

    if (identity_) {
        std::vector<Pixel> scratch(static_cast<std::size_t>(cols));
        for (int y = dy0; y < dy1; ++y) {
            const Pixel* src =
                source.row(y - rect_.y, dx0 - rect_.x, dx1 - rect_.x, scratch.data());
            Pixel* out = &dst.at(dx0, y);
            for (int x = 0; x < cols; ++x) out[x] = resolve(src[x], kind, background);
        }
        return;
    }

    // Only the source rows and columns some destination pixel of the area needs go
    // through the first pass.
    const int sy0 = ty_.start[static_cast<std::size_t>(dy0 - rect_.y)];
    const auto lastRow = static_cast<std::size_t>(dy1 - 1 - rect_.y);
    const int sy1 = ty_.start[lastRow] + ty_.count[lastRow];
    const int sx0 = tx_.start[static_cast<std::size_t>(dx0 - rect_.x)];
    const auto lastCol = static_cast<std::size_t>(dx1 - 1 - rect_.x);
    const int sx1 = tx_.start[lastCol] + tx_.count[lastCol];
    const int span = sx1 - sx0;
    std::vector<Pixel> scratch(static_cast<std::size_t>(span));
    std::vector<float> resolved(static_cast<std::size_t>(span) * 3);
    std::vector<float> rows(static_cast<std::size_t>(sy1 - sy0) * static_cast<std::size_t>(cols) *
                            3);

    for (int sy = sy0; sy < sy1; ++sy) {
        // Each source pixel is resolved once, however many destination pixels it feeds.
        const Pixel* src = source.row(sy, sx0, sx1, scratch.data());
        for (int s = 0; s < span; ++s) {
            const Pixel p = resolve(src[s], kind, background);
            float* v = resolved.data() + static_cast<std::size_t>(s) * 3;
            v[0] = static_cast<float>(pixelRed(p));
            v[1] = static_cast<float>(pixelGreen(p));
            v[2] = static_cast<float>(pixelBlue(p));
        }
        float* out =
            rows.data() + static_cast<std::size_t>(sy - sy0) * static_cast<std::size_t>(cols) * 3;
        for (int x = dx0; x < dx1; ++x, out += 3) {
            const auto i = static_cast<std::size_t>(x - rect_.x);
            const float* w = tx_.weight.data() + tx_.offset[i];
            const float* v = resolved.data() + static_cast<std::size_t>(tx_.start[i] - sx0) * 3;
            float r = 0, g = 0, b = 0;
            for (int k = 0; k < tx_.count[i]; ++k, v += 3) {
                r += w[k] * v[0];
                g += w[k] * v[1];
                b += w[k] * v[2];
            }
            out[0] = r;
            out[1] = g;
            out[2] = b;
        }
    }

    std::vector<float> acc(static_cast<std::size_t>(cols) * 3);
    for (int y = dy0; y < dy1; ++y) {
        const auto j = static_cast<std::size_t>(y - rect_.y);
        std::fill(acc.begin(), acc.end(), 0.0f);
        const float* w = ty_.weight.data() + ty_.offset[j];
        for (int k = 0; k < ty_.count[j]; ++k) {
            const float* row = rows.data() + static_cast<std::size_t>(ty_.start[j] + k - sy0) *
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
    return resolve(pixel, kind, background);
}

void scaleInto(const Image& source, ImageKind kind, Pixel background, Image& dst, Rect rect) {
    if (source.empty() || rect.width <= 0 || rect.height <= 0) return;
    PaneScaler(source.width, source.height, rect)
        .draw(ImageRows(source), kind, background, dst, rect);
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
