#pragma once
// The picture pane on screen. What it shows is composed by a renderer, so the widget does
// not care who decodes or where; pictures and frames that a renderer's worker makes are
// painted as they arrive. The widget keeps the view the user chose (fitted, actual size,
// zoomed, the checkerboard) and turns the wheel and mouse drags into zoom and pan; the
// renderer draws it.

#include <QtGui/QImage>
#include <QtWidgets/QWidget>
#include <functional>
#include <memory>

#include "picture/compose.h"
#include "runtime/byte_buffer.h"

namespace kerbilo {

class PictureRenderer {
  public:
    virtual ~PictureRenderer() = default;
    virtual void setData(const ByteBuffer& data) = 0;
    // The size and background the pane is shown with, told before setData and whenever
    // they change, so a renderer can compose ahead of painting.
    virtual void setView(QSize, QColor) {}
    // The whole pane as it should look now; a null image leaves only the background.
    virtual QImage compose(QSize size, QColor background) = 0;
    // The data given last has been decoded, whatever came of it: compose() shows it.
    virtual bool ready() const { return true; }
    // The colour this renderer shows where there is no picture; invalid: the palette's.
    virtual QColor background() const { return {}; }
    // The display mode it was made with, which the pane's default view shows.
    virtual DisplayMode defaultMode() const { return DisplayMode::Centred; }
    // The display mode, zoom, pan and checkerboard to draw with from now on. A renderer
    // that draws only its default look ignores it.
    virtual void setLayout(DisplayMode, const ViewOptions&) {}
    // The size of the picture shown, in its own pixels; empty while there is none or when
    // the renderer cannot tell, and the wheel then zooms about the pane's centre.
    virtual QSize pictureSize() const { return {}; }
    // Set by the widget; a renderer may call it from any thread when a new picture or
    // frame is there to paint.
    std::function<void()> frameReady;
};

enum class PictureFit { CentreShrink, Stretch };

// How the pane shows a picture. Default is the look the renderer was made with (centred,
// shrunk to fit when larger); Fit fills the pane keeping proportions, enlarging small
// pictures too; Actual shows the picture's own pixels, centred, cropped when larger; Zoom
// multiplies its size by zoom(). Actual and Zoom pan by dragging a picture larger than the
// pane.
enum class PaneView { Default, Fit, Actual, Zoom };

// Decodes with Qt's own image readers: a light renderer for tests and tools; the program
// uses the picture library's pane.
std::unique_ptr<PictureRenderer> makeQtImageRenderer(PictureFit fit);

class PictureWidget final : public QWidget {
  public:
    PictureWidget(std::unique_ptr<PictureRenderer> renderer, QWidget* parent = nullptr);
    ~PictureWidget() override;

    void setData(const ByteBuffer& data);
    const ByteBuffer& data() const { return data_; }
    // The picture of the data given last is decoded and what composed() gives shows it.
    bool pictureReady() const { return renderer_->ready(); }
    // What is on screen now, for tests and screenshots.
    QImage composed();

    // The view, for menu items. Choosing one shows the picture unpanned.
    void setViewMode(PaneView view);
    PaneView viewMode() const { return view_; }
    // Switches to the Zoom view at this factor (kMinZoom to kMaxZoom), keeping what is at
    // the pane's centre there.
    void setZoom(double zoom);
    // The factor of the Zoom view (also while another view is shown).
    double zoom() const { return options_.zoom; }
    // As the wheel does, about the pane's centre: positive notches enlarge. From another
    // view, zooming starts at the scale that view shows the picture at.
    void zoomBy(int notches);
    // Pane pixels per picture pixel as shown now; 0 without a picture.
    double shownScale() const;
    void setCheckerboard(bool on);
    bool checkerboard() const { return options_.checkerboard; }
    // Called with the new factor whenever zoom() changes, so a status bar can show it.
    std::function<void(double)> zoomChanged;
    // Off: the wheel scrolls what holds the widget instead of zooming (a picture that is
    // only shown, as in the About window).
    void setZoomable(bool on) { zoomable_ = on; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    // Plain or with Ctrl, the wheel zooms about the pointer, one step a notch.
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    QColor backgroundColour() const { return palette().window().color(); }
    DisplayMode displayMode() const;
    // Steps the zoom by whole notches about the pane point `at`.
    void zoomAt(int notches, QPoint at);
    void zoomTo(double zoom, QPoint at);
    void applyLayout(const ViewOptions& options);
    void endDrag();
    // The picture's position in the pane as it is drawn now; empty without a picture.
    Rect shownRect() const;

    std::unique_ptr<PictureRenderer> renderer_;
    ByteBuffer data_;
    PaneView view_ = PaneView::Default;
    ViewOptions options_;
    int wheelAngle_ = 0;  // eighths of a degree not yet a whole notch (touchpads)
    bool dragging_ = false;
    bool zoomable_ = true;
    QPoint dragAt_;  // where the pointer was at the last step of a drag
};

}  // namespace kerbilo
