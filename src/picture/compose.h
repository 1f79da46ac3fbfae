#pragma once
// Drawing a pane: background fill, destination rectangle by display mode, transparency
// resolved against the background (or a checkerboard), smooth area-averaging scale into
// the rectangle. The window and the command line both show exactly the buffer produced
// here.
//
// Enlarging uses the same area average as shrinking. At a whole factor every pane pixel
// lies inside one picture pixel, so each picture pixel becomes a k x k block of its own
// colour, exactly as nearest-neighbour would draw it (and it is drawn that way, quicker);
// at other factors only the one pane pixel straddling two picture pixels is a blend of
// them, so enlarged icons keep sharp blocks at any factor.

#include <vector>

#include "picture/image.h"

namespace kerbilo {

enum class DisplayMode {
    Centred,    // the picture's own size, shrunk to fit when larger: the pane's default
    Stretched,  // fills the pane, proportions lost
    Fitted,     // as large as fits, proportions kept: small pictures are enlarged too
    Actual,     // the picture's own size, centred and cropped; may be panned
    Zoomed,     // the picture's size times ViewOptions::zoom, centred; may be panned
};

constexpr double kMinZoom = 1.0 / 8;
constexpr double kMaxZoom = 32;

// What the modes besides Centred and Stretched need, and the checkerboard. The defaults
// change nothing: a pane drawn with them is the pane of the display mode alone.
struct ViewOptions {
    double zoom = 1;  // Zoomed: pane pixels per picture pixel, kMinZoom to kMaxZoom
    // Actual and Zoomed: how far the picture is moved from the centre, in pane pixels. Only
    // a picture larger than the pane moves, and no further than until its edge meets the
    // pane's edge; destinationRect applies what is allowed of it.
    int panX = 0;
    int panY = 0;
    // 8-pixel squares of light grey and white behind the picture where it is transparent,
    // as image viewers show it, instead of the background colour.
    bool checkerboard = false;
    friend bool operator==(const ViewOptions&, const ViewOptions&) = default;
};

// The checkerboard's colours and square size; squares start at the picture's top left
// corner, so they move with it when it is panned.
constexpr Pixel kCheckerLight = 0xFFFFFFFFu;
constexpr Pixel kCheckerDark = 0xFFCCCCCCu;
constexpr int kCheckerSquare = 8;
constexpr Pixel checkerAt(int x, int y) {
    return ((x / kCheckerSquare + y / kCheckerSquare) & 1) != 0 ? kCheckerDark : kCheckerLight;
}

struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    friend bool operator==(const Rect&, const Rect&) = default;
};

// Where an image of imageWidth x imageHeight is drawn in a pane of paneWidth x paneHeight.
// Centred never enlarges and keeps proportions; stretched fills the pane; fitted keeps
// proportions and fills one side. Actual and Zoomed may lie partly outside the pane.
Rect destinationRect(DisplayMode mode, int paneWidth, int paneHeight, int imageWidth,
                     int imageHeight, const ViewOptions& options = {});

// The options as destinationRect applies them: the zoom within its limits, the pan no
// further than the picture can move (none for modes that do not pan). A window keeps
// these after a drag, so that dragging back moves the picture at once.
ViewOptions clampedView(DisplayMode mode, int paneWidth, int paneHeight, int imageWidth,
                        int imageHeight, ViewOptions options);

// The options for showing the picture Zoomed by `zoom` with the picture point now under the
// pane point (x, y), as the picture is shown now by `mode` and `options`, kept under it
// as far as the pan allows. Zooming with the wheel keeps what the pointer is on in place.
ViewOptions zoomedAt(DisplayMode mode, int paneWidth, int paneHeight, int imageWidth,
                     int imageHeight, const ViewOptions& options, double zoom, int x, int y);

// The zoom steps the wheel goes through: halves and thirds below 1, whole factors from 2,
// so that enlarged icons are never blurred on the way: 1/8, 1/6, 1/4, 1/3, 1/2, 2/3, 1,
// 1.5, 2, 3, 4, 6, 8, 12, 16, 24, 32. From a factor between two steps, one notch up goes
// to the next step above it. Stops at the ends.
double zoomStep(double zoom, int notches);

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
    // Only the part of the destination inside `clip` can be drawn (all of it when the clip
    // is empty), so a picture zoomed far beyond the pane costs what the pane shows. With
    // `checkerboard`, transparency is resolved against the checkerboard, not the
    // background.
    PaneScaler(int sourceWidth, int sourceHeight, Rect rect, Rect clip = {},
               bool checkerboard = false);

    const Rect& rect() const { return rect_; }
    // The destination pixels whose value depends on a source pixel in `changed` (source
    // coordinates, end exclusive), clipped to a pane of paneWidth x paneHeight.
    Rect affected(Rect changed, int paneWidth, int paneHeight) const;
    // Draws the pixels of `area` (destination coordinates; clipped to the rectangle and
    // to dst) from the source.
    void draw(const RowSource& source, ImageKind kind, Pixel background, Image& dst,
              Rect area) const;

  private:
    // For each destination index from `first` on, the run of source indices it covers and
    // their weights, normalised to sum to 1.
    struct Taps {
        int first = 0;  // the destination index (from the rectangle's edge) of entry 0
        std::vector<int> start;
        std::vector<int> count;
        std::vector<int> offset;
        std::vector<float> weight;
    };
    static Taps areaTaps(int sourceSize, int destSize, int first, int last);
    template <bool Checker>
    void drawScaled(const RowSource& source, ImageKind kind, Pixel background, Image& dst,
                    Rect area) const;
    template <bool Checker>
    void drawBlocks(const RowSource& source, ImageKind kind, Pixel background, Image& dst,
                    Rect area) const;

    Rect rect_;
    Rect drawable_;   // the part of rect_ inside the clip
    int factor_ = 0;  // a whole multiple of the picture's size (1: its own): no taps needed
    bool checkerboard_ = false;
    Taps tx_, ty_;
};

// The whole pane: an opaque Colour image of paneWidth x paneHeight (empty when a size is
// not positive or the buffer cannot be allocated). A null or empty image gives the
// background only.
Image composePane(const Image* image, DisplayMode mode, Pixel background, int paneWidth,
                  int paneHeight, const ViewOptions& options = {});

// Where `rect` lies in `pane`, the checkerboard: what a fully transparent picture of that
// rectangle shows, drawn before a picture's tiles that are never drawn on.
void fillChecker(Image& pane, Rect rect);

}  // namespace kerbilo
