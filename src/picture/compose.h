#pragma once
// Drawing a pane: background fill, destination rectangle by display mode, transparency
// resolved against the background, smooth area-averaging scale into the rectangle. The
// window and the command line both show exactly the buffer produced here.

#include "picture/image.h"

namespace kerbilo {

enum class DisplayMode { Centred, Stretched };

struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    friend bool operator==(const Rect&, const Rect&) = default;
};

// Where an image of imageWidth x imageHeight is drawn in a pane of paneWidth x paneHeight.
// Centred never enlarges and keeps proportions; stretched fills the pane.
Rect destinationRect(DisplayMode mode, int paneWidth, int paneHeight, int imageWidth,
                     int imageHeight);

// The colour a pixel shows over the background: Colour images as they are, Alpha and
// Icon pixels blended as a/255*c + (1-a/255)*g, rounded down.
Pixel resolveOver(Pixel pixel, ImageKind kind, Pixel background);

// Area-averaging scale of the (already resolved) image region into dst at rect; every
// destination pixel is the coverage-weighted mean of the source pixels under it.
void scaleInto(const Image& source, ImageKind kind, Pixel background, Image& dst, Rect rect);

// Where the rows of a picture come from while it is scaled: a whole image, or a canvas
// that keeps only the parts something was drawn on.
class RowSource {
  public:
    virtual ~RowSource() = default;
    // Pixels [x0, x1) of row y: a pointer into the picture's own storage, or to `scratch`
    // (room for x1 - x0 pixels) after copying them there.
    virtual const Pixel* row(int y, int x0, int x1, Pixel* scratch) const = 0;
};

// The scale of one picture size into one destination rectangle, kept so that a part of
// the destination can be drawn again when a part of the picture has changed. Every
// destination pixel comes out exactly as scaleInto makes it, whichever part is drawn.
class PaneScaler {
  public:
    PaneScaler() = default;
    PaneScaler(int sourceWidth, int sourceHeight, Rect rect);

    const Rect& rect() const { return rect_; }
    // The destination pixels whose value depends on a source pixel in `changed` (source
    // coordinates, end exclusive), clipped to a pane of paneWidth x paneHeight.
    Rect affected(Rect changed, int paneWidth, int paneHeight) const;
    // Draws the pixels of `area` (destination coordinates; clipped to the rectangle and
    // to dst) from the source.
    void draw(const RowSource& source, ImageKind kind, Pixel background, Image& dst,
              Rect area) const;

  private:
    // For each destination index, the run of source indices it covers and their weights,
    // normalised to sum to 1.
    struct Taps {
        std::vector<int> start;
        std::vector<int> count;
        std::vector<int> offset;
        std::vector<float> weight;
    };
    static Taps areaTaps(int sourceSize, int destSize);

    Rect rect_;
    bool identity_ = false;  // the picture's own size: no taps needed
    Taps tx_, ty_;
};

// The whole pane: an opaque Colour image of paneWidth x paneHeight (empty when a size is
// not positive or the buffer cannot be allocated). A null or empty image gives the
// background only.
Image composePane(const Image* image, DisplayMode mode, Pixel background, int paneWidth,
                  int paneHeight);

}  // namespace kerbilo
