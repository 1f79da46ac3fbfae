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

PaneScaler::Taps PaneScaler::areaTaps(int sourceSize, int destSize, int first, int last) {
    Taps taps;
    taps.first = first;
    const auto entries = static_cast<std::size_t>(last - first);
    taps.start.resize(entries);
    taps.count.resize(entries);
    taps.offset.resize(entries);
    const double scale = static_cast<double>(sourceSize) / destSize;
    for (int i = first; i < last; ++i) {
        const double a = i * scale;
        const double b = std::min<double>((i + 1) * scale, sourceSize);
        int from = static_cast<int>(std::floor(a));
        int to = std::min(static_cast<int>(std::ceil(b)), sourceSize);
        if (to <= from) to = std::min(from + 1, sourceSize);
        if (from >= sourceSize) from = sourceSize - 1;
        const auto idx = static_cast<std::size_t>(i - first);
        taps.start[idx] = from;
        taps.count[idx] = to - from;
        taps.offset[idx] = static_cast<int>(taps.weight.size());
        double total = 0;
        const std::size_t base = taps.weight.size();
        for (int j = from; j < to; ++j) {
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

PaneScaler::PaneScaler(int sourceWidth, int sourceHeight, Rect rect, Rect clip, bool checkerboard)
    : rect_(rect), checkerboard_(checkerboard) {
    if (sourceWidth <= 0 || sourceHeight <= 0 || rect.width <= 0 || rect.height <= 0) {
        rect_ = {};
        return;
    }
    drawable_ = clip.width > 0 && clip.height > 0 ? intersect(rect, clip) : rect;
    if (rect.width % sourceWidth == 0 && rect.height % sourceHeight == 0 &&
        rect.width / sourceWidth == rect.height / sourceHeight) {
        // The area average of a whole-factor enlargement is each source pixel's own value
        // (to the last bit: the weights of the neighbours rounding lets in vanish when the
        // sums are rounded), so blocks give the same pixels without taps.
        factor_ = rect.width / sourceWidth;
        return;
    }
    if (drawable_.width <= 0) return;
    tx_ = areaTaps(sourceWidth, rect.width, drawable_.x - rect.x,
                   drawable_.x + drawable_.width - rect.x);
    ty_ = areaTaps(sourceHeight, rect.height, drawable_.y - rect.y,
                   drawable_.y + drawable_.height - rect.y);
}

Rect PaneScaler::affected(Rect changed, int paneWidth, int paneHeight) const {
    if (rect_.width <= 0 || drawable_.width <= 0 || changed.width <= 0 || changed.height <= 0)
        return {};
    Rect out;
    if (factor_ > 0) {
        out = {rect_.x + changed.x * factor_, rect_.y + changed.y * factor_,
               changed.width * factor_, changed.height * factor_};
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
            return std::pair<int, int>(first + t.first, lo + t.first);
        };
        const auto [cx0, cx1] = range(tx_, changed.x, changed.x + changed.width);
        const auto [cy0, cy1] = range(ty_, changed.y, changed.y + changed.height);
        if (cx0 >= cx1 || cy0 >= cy1) return {};
        out = {rect_.x + cx0, rect_.y + cy0, cx1 - cx0, cy1 - cy0};
    }
    return intersect(intersect(out, drawable_), {0, 0, paneWidth, paneHeight});
}

void PaneScaler::draw(const RowSource& source, ImageKind kind, Pixel background, Image& dst,
                      Rect area) const {
    area = intersect(intersect(area, drawable_), {0, 0, dst.width, dst.height});
    if (area.width <= 0) return;
    // An opaque picture hides the checkerboard entirely.
    const bool checker = checkerboard_ && kind != ImageKind::Colour;
    if (factor_ > 0) {
        if (checker)
            drawBlocks<true>(source, kind, background, dst, area);
        else
            drawBlocks<false>(source, kind, background, dst, area);
    } else if (checker) {
        drawScaled<true>(source, kind, background, dst, area);
    } else {
        drawScaled<false>(source, kind, background, dst, area);
    }
}

template <bool Checker>
void PaneScaler::drawBlocks(const RowSource& source, ImageKind kind, Pixel background, Image& dst,
                            Rect area) const {
    const int dx0 = area.x, dx1 = area.x + area.width;
    const int dy0 = area.y, dy1 = area.y + area.height;
    const int k = factor_;
    const int sx0 = (dx0 - rect_.x) / k;
    const int sx1 = (dx1 - 1 - rect_.x) / k + 1;
    std::vector<Pixel> scratch(static_cast<std::size_t>(sx1 - sx0));
    std::vector<Pixel> resolved(Checker ? 0 : scratch.size());
    int resolvedRow = -1;
    for (int y = dy0; y < dy1; ++y) {
        const int sy = (y - rect_.y) / k;
        Pixel* out = &dst.at(dx0, y);
        if constexpr (Checker) {
            const Pixel* src = source.row(sy, sx0, sx1, scratch.data());
            const int cy = y - rect_.y;
            for (int x = dx0; x < dx1; ++x) {
                const int cx = x - rect_.x;
                out[x - dx0] = resolve(src[cx / k - sx0], kind, checkerAt(cx, cy));
            }
        } else {
            // The k rows of a block show the same row of pixels, resolved once.
            if (sy != resolvedRow) {
                const Pixel* src = source.row(sy, sx0, sx1, scratch.data());
                for (std::size_t s = 0; s < resolved.size(); ++s)
                    resolved[s] = resolve(src[s], kind, background);
                resolvedRow = sy;
            }
            if (k == 1) {
                std::copy(resolved.begin(), resolved.end(), out);
                continue;
            }
            for (int x = dx0; x < dx1; ++x)
                out[x - dx0] = resolved[static_cast<std::size_t>((x - rect_.x) / k - sx0)];
        }
    }
}

template <bool Checker>
void PaneScaler::drawScaled(const RowSource& source, ImageKind kind, Pixel background, Image& dst,
                            Rect area) const {
    // Over a background of one colour each source pixel is resolved against it before it
    // is averaged. Over the checkerboard, whose colour changes from one pane pixel to the
    // next, the premultiplied colour and the coverage are averaged instead and laid over
    // the square's colour last: the same mean, as blending is linear.
    constexpr int C = Checker ? 4 : 3;
    const int dx0 = area.x, dx1 = area.x + area.width;
    const int dy0 = area.y, dy1 = area.y + area.height;
    const int cols = dx1 - dx0;
    const auto tapX = [&](int x) { return static_cast<std::size_t>(x - rect_.x - tx_.first); };
    const auto tapY = [&](int y) { return static_cast<std::size_t>(y - rect_.y - ty_.first); };

    // Only the source rows and columns some destination pixel of the area needs go
    // through the first pass.
    const int sx0 = tx_.start[tapX(dx0)];
    const auto lastCol = tapX(dx1 - 1);
    const int sx1 = tx_.start[lastCol] + tx_.count[lastCol];
    const int span = sx1 - sx0;
    std::vector<Pixel> scratch(static_cast<std::size_t>(span));
    std::vector<float> resolved(static_cast<std::size_t>(span) * C);
    // The runs of source rows move down the picture as the destination rows do, so only
    // the rows of the longest run are kept, source row sy in slot sy % window: keeping every
    // row scaled across would cost the picture's height times the pane's width (a 1 x 32768
    // picture stretched over 1920 columns took some 730 MB).
    int window = 1;
    for (int y = dy0; y < dy1; ++y) window = std::max(window, ty_.count[tapY(y)]);
    const std::size_t rowFloats = static_cast<std::size_t>(cols) * C;
    std::vector<float> rows(static_cast<std::size_t>(window) * rowFloats);
    const auto slot = [&](int sy) {
        return rows.data() + static_cast<std::size_t>(sy % window) * rowFloats;
    };

    const auto scaleAcross = [&](int sy) {
        // Each source pixel is resolved once, however many destination pixels it feeds.
        const Pixel* src = source.row(sy, sx0, sx1, scratch.data());
        for (int s = 0; s < span; ++s) {
            float* v = resolved.data() + static_cast<std::size_t>(s) * C;
            if constexpr (Checker) {
                const Pixel p = src[s];
                const int a = kind == ImageKind::Colour ? 255 : pixelAlpha(p);
                const float cover = static_cast<float>(a) / 255.0f;
                v[0] = static_cast<float>(pixelRed(p)) * cover;
                v[1] = static_cast<float>(pixelGreen(p)) * cover;
                v[2] = static_cast<float>(pixelBlue(p)) * cover;
                v[3] = cover;
            } else {
                const Pixel p = resolve(src[s], kind, background);
                v[0] = static_cast<float>(pixelRed(p));
                v[1] = static_cast<float>(pixelGreen(p));
                v[2] = static_cast<float>(pixelBlue(p));
            }
        }
        float* out = slot(sy);
        for (int x = dx0; x < dx1; ++x, out += C) {
            const auto i = tapX(x);
            const float* w = tx_.weight.data() + tx_.offset[i];
            const float* v = resolved.data() + static_cast<std::size_t>(tx_.start[i] - sx0) * C;
            float sum[C] = {};
            for (int k = 0; k < tx_.count[i]; ++k, v += C)
                for (int c = 0; c < C; ++c) sum[c] += w[k] * v[c];
            for (int c = 0; c < C; ++c) out[c] = sum[c];
        }
    };

    std::vector<float> acc(rowFloats);
    int scaledTo = ty_.start[tapY(dy0)];  // rows before it have been scaled across
    for (int y = dy0; y < dy1; ++y) {
        const auto j = tapY(y);
        const int first = ty_.start[j], last = first + ty_.count[j];
        // Runs start in ascending order and none is longer than the window, so what this
        // one scales overwrites only rows no later run needs.
        for (scaledTo = std::max(scaledTo, first); scaledTo < last; ++scaledTo)
            scaleAcross(scaledTo);
        std::fill(acc.begin(), acc.end(), 0.0f);
        const float* w = ty_.weight.data() + ty_.offset[j];
        for (int k = 0; k < ty_.count[j]; ++k) {
            const float* row = slot(first + k);
            for (std::size_t c = 0; c < acc.size(); ++c) acc[c] += w[k] * row[c];
        }
        Pixel* out = &dst.at(dx0, y);
        for (int x = 0; x < cols; ++x) {
            const float* v = acc.data() + static_cast<std::size_t>(x) * C;
            if constexpr (Checker) {
                const Pixel g = checkerAt(dx0 + x - rect_.x, y - rect_.y);
                // Coverage summed from weights falls short of 1 by rounding alone where the
                // picture is opaque: no checkerboard shows there.
                const float open = v[3] >= 1.0f - 1.0f / 1024 ? 0.0f : 1.0f - v[3];
                out[x] = makePixel(toByte(v[0] + open * static_cast<float>(pixelRed(g))),
                                   toByte(v[1] + open * static_cast<float>(pixelGreen(g))),
                                   toByte(v[2] + open * static_cast<float>(pixelBlue(g))));
            } else {
                out[x] = makePixel(toByte(v[0]), toByte(v[1]), toByte(v[2]));
            }
        }
    }
}

namespace {

bool pans(DisplayMode mode) {
    return mode == DisplayMode::Actual || mode == DisplayMode::Zoomed;
}

double limitedZoom(double zoom) {
    if (!std::isfinite(zoom)) return 1;
    return std::clamp(zoom, kMinZoom, kMaxZoom);
}

// The size of one side of the picture when shown Actual or Zoomed.
int shownSide(DisplayMode mode, int side, double zoom) {
    if (mode == DisplayMode::Actual) return side;
    // Far beyond any pane, and far from overflowing the pane arithmetic.
    constexpr long long kLargest = 1 << 28;
    return static_cast<int>(
        std::clamp<long long>(std::llround(side * limitedZoom(zoom)), 1, kLargest));
}

// A pan along one side: none when the picture fits, otherwise no further than brings an
// edge of the picture to the pane's edge.
int limitedPan(int pan, int pane, int shown) {
    if (shown <= pane) return 0;
    const int centred = (pane - shown) / 2;
    return std::clamp(pan, pane - shown - centred, -centred);
}

}  // namespace

ViewOptions clampedView(DisplayMode mode, int paneWidth, int paneHeight, int imageWidth,
                        int imageHeight, ViewOptions options) {
    options.zoom = limitedZoom(options.zoom);
    if (!pans(mode) || paneWidth <= 0 || paneHeight <= 0 || imageWidth <= 0 || imageHeight <= 0) {
        options.panX = options.panY = 0;
        return options;
    }
    options.panX = limitedPan(options.panX, paneWidth, shownSide(mode, imageWidth, options.zoom));
    options.panY = limitedPan(options.panY, paneHeight, shownSide(mode, imageHeight, options.zoom));
    return options;
}

Rect destinationRect(DisplayMode mode, int paneWidth, int paneHeight, int imageWidth,
                     int imageHeight, const ViewOptions& options) {
    if (paneWidth <= 0 || paneHeight <= 0 || imageWidth <= 0 || imageHeight <= 0) return {};
    if (mode == DisplayMode::Stretched) return {0, 0, paneWidth, paneHeight};
    if (mode == DisplayMode::Fitted) {
        // In whole numbers, so that the side that limits fills the pane exactly.
        Rect r{0, 0, paneWidth, paneHeight};
        const auto w = static_cast<long long>(imageWidth), h = static_cast<long long>(imageHeight);
        if (paneWidth * h <= paneHeight * w)
            r.height = static_cast<int>(std::max<long long>(1, h * paneWidth / w));
        else
            r.width = static_cast<int>(std::max<long long>(1, w * paneHeight / h));
        r.x = (paneWidth - r.width) / 2;
        r.y = (paneHeight - r.height) / 2;
        return r;
    }
    if (pans(mode)) {
        const ViewOptions o =
            clampedView(mode, paneWidth, paneHeight, imageWidth, imageHeight, options);
        const int w = shownSide(mode, imageWidth, o.zoom);
        const int h = shownSide(mode, imageHeight, o.zoom);
        return {(paneWidth - w) / 2 + o.panX, (paneHeight - h) / 2 + o.panY, w, h};
    }
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

ViewOptions zoomedAt(DisplayMode mode, int paneWidth, int paneHeight, int imageWidth,
                     int imageHeight, const ViewOptions& options, double zoom, int x, int y) {
    ViewOptions out = options;
    out.zoom = limitedZoom(zoom);
    const Rect now = destinationRect(mode, paneWidth, paneHeight, imageWidth, imageHeight, options);
    if (now.width <= 0 || now.height <= 0) {
        out.panX = out.panY = 0;
        return out;
    }
    // The picture point under (x, y), then where the zoomed picture must start for that
    // point to stay there.
    const auto panFor = [](int at, int start, int shownNow, int side, int pane, int shown) {
        const double point = static_cast<double>(at - start) * side / shownNow;
        const double newStart = at - point * shown / side;
        return static_cast<int>(std::lround(newStart - (pane - shown) / 2));
    };
    const int w = shownSide(DisplayMode::Zoomed, imageWidth, out.zoom);
    const int h = shownSide(DisplayMode::Zoomed, imageHeight, out.zoom);
    out.panX = panFor(x, now.x, now.width, imageWidth, paneWidth, w);
    out.panY = panFor(y, now.y, now.height, imageHeight, paneHeight, h);
    return clampedView(DisplayMode::Zoomed, paneWidth, paneHeight, imageWidth, imageHeight, out);
}

double zoomStep(double zoom, int notches) {
    static constexpr double kSteps[] = {1.0 / 8, 1.0 / 6, 1.0 / 4, 1.0 / 3, 1.0 / 2, 2.0 / 3,
                                        1,       1.5,     2,       3,       4,       6,
                                        8,       12,      16,      24,      32};
    zoom = limitedZoom(zoom);
    // A factor within this of a step counts as that step.
    constexpr double kSame = 1e-6;
    for (; notches > 0; --notches) {
        const auto* next = std::find_if(std::begin(kSteps), std::end(kSteps),
                                        [&](double s) { return s > zoom * (1 + kSame); });
        if (next == std::end(kSteps)) break;
        zoom = *next;
    }
    for (; notches < 0; ++notches) {
        const auto below = std::find_if(std::rbegin(kSteps), std::rend(kSteps),
                                        [&](double s) { return s < zoom * (1 - kSame); });
        if (below == std::rend(kSteps)) break;
        zoom = *below;
    }
    return zoom;
}

Pixel resolveOver(Pixel pixel, ImageKind kind, Pixel background) {
    return resolve(pixel, kind, background);
}

void scaleInto(const Image& source, ImageKind kind, Pixel background, Image& dst, Rect rect) {
    if (source.empty() || rect.width <= 0 || rect.height <= 0) return;
    PaneScaler(source.width, source.height, rect)
        .draw(ImageRows(source), kind, background, dst, rect);
}

void fillChecker(Image& pane, Rect rect) {
    const Rect area = intersect(rect, {0, 0, pane.width, pane.height});
    for (int y = area.y; y < area.y + area.height; ++y) {
        Pixel* out = &pane.at(area.x, y);
        for (int x = 0; x < area.width; ++x) out[x] = checkerAt(area.x + x - rect.x, y - rect.y);
    }
}

Image composePane(const Image* image, DisplayMode mode, Pixel background, int paneWidth,
                  int paneHeight, const ViewOptions& options) {
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
        const Rect rect =
            destinationRect(mode, paneWidth, paneHeight, image->width, image->height, options);
        PaneScaler(image->width, image->height, rect, {0, 0, paneWidth, paneHeight},
                   options.checkerboard)
            .draw(ImageRows(*image), image->kind, background, pane, rect);
    } catch (const std::bad_alloc&) {
        // The background alone, when even that could be allocated.
    }
    return pane;
}

}  // namespace kerbilo
