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

// The whole pane: an opaque Colour image of paneWidth x paneHeight (empty when a size is
// not positive or the buffer cannot be allocated). A null or empty image gives the
// background only.
Image composePane(const Image* image, DisplayMode mode, Pixel background, int paneWidth,
                  int paneHeight);

}  // namespace kerbilo
