#include "ui/services/qt/picture_widget.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QMetaObject>
#include <QtCore/QPointer>
#include <QtGui/QMouseEvent>
#include <QtGui/QPainter>
#include <QtGui/QPalette>
#include <QtGui/QWheelEvent>

namespace kerbilo {

namespace {

class QtImageRenderer final : public PictureRenderer {
  public:
    explicit QtImageRenderer(PictureFit fit) : fit_(fit) {}

    void setData(const ByteBuffer& data) override {
        image_ = QImage::fromData(data.data(), static_cast<int>(data.size()));
    }

    QImage compose(QSize size, QColor background) override {
        QImage out(size, QImage::Format_ARGB32_Premultiplied);
        out.fill(background);
        if (image_.isNull()) return out;
        QPainter p(&out);
        p.setRenderHint(QPainter::SmoothPixmapTransform);
        if (fit_ == PictureFit::Stretch) {
            p.drawImage(QRect(QPoint(0, 0), size), image_);
            return out;
        }
        QSize shown = image_.size();
        if (shown.width() > size.width() || shown.height() > size.height())
            shown.scale(size, Qt::KeepAspectRatio);
        const QPoint at((size.width() - shown.width()) / 2, (size.height() - shown.height()) / 2);
        p.drawImage(QRect(at, shown), image_);
        return out;
    }

  private:
    PictureFit fit_;
    QImage image_;
};

}  // namespace

std::unique_ptr<PictureRenderer> makeQtImageRenderer(PictureFit fit) {
    return std::make_unique<QtImageRenderer>(fit);
}

PictureWidget::PictureWidget(std::unique_ptr<PictureRenderer> renderer, QWidget* parent)
    : QWidget(parent), renderer_(std::move(renderer)) {
    // A renderer with a background of its own paints it whatever the style's palette says,
    // and the widget reports it as its window colour.
    if (const QColor own = renderer_->background(); own.isValid()) {
        QPalette colours = palette();
        colours.setColor(QPalette::Window, own);
        setPalette(colours);
    }
    QPointer<PictureWidget> self(this);
    // The renderer's worker may call this after the widget is gone; QPointer notices only
    // on the GUI thread, so the check runs there.
    renderer_->frameReady = [self] {
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self] {
                if (self) self->update();
            },
            Qt::QueuedConnection);
    };
    renderer_->setView(size(), backgroundColour());
}

PictureWidget::~PictureWidget() {
    // Stop a worker before the widget it reports to disappears.
    renderer_.reset();
}

void PictureWidget::setData(const ByteBuffer& data) {
    data_ = data;
    // Another picture starts unpanned, at the view and zoom chosen.
    if (options_.panX != 0 || options_.panY != 0) {
        ViewOptions unpanned = options_;
        unpanned.panX = unpanned.panY = 0;
        applyLayout(unpanned);
    }
    endDrag();
    renderer_->setView(size(), backgroundColour());
    renderer_->setData(data);
    update();
}

QImage PictureWidget::composed() {
    return renderer_->compose(size(), backgroundColour());
}

void PictureWidget::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.drawImage(0, 0, composed());
}

void PictureWidget::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    renderer_->setView(size(), backgroundColour());
}

void PictureWidget::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) renderer_->setView(size(), backgroundColour());
}

DisplayMode PictureWidget::displayMode() const {
    switch (view_) {
        case PaneView::Fit:
            return DisplayMode::Fitted;
        case PaneView::Actual:
            return DisplayMode::Actual;
        case PaneView::Zoom:
            return DisplayMode::Zoomed;
        case PaneView::Default:
            break;
    }
    return renderer_->defaultMode();
}

void PictureWidget::applyLayout(const ViewOptions& options) {
    const double before = options_.zoom;
    options_ = options;
    renderer_->setLayout(displayMode(), options_);
    update();
    if (options_.zoom != before && zoomChanged) zoomChanged(options_.zoom);
}

Rect PictureWidget::shownRect() const {
    const QSize picture = renderer_->pictureSize();
    return destinationRect(displayMode(), width(), height(), picture.width(), picture.height(),
                           options_);
}

double PictureWidget::shownScale() const {
    const QSize picture = renderer_->pictureSize();
    const Rect r = shownRect();
    if (r.width <= 0 || picture.width() <= 0) return 0;
    return static_cast<double>(r.width) / picture.width();
}

void PictureWidget::setViewMode(PaneView view) {
    view_ = view;
    endDrag();
    ViewOptions unpanned = options_;
    unpanned.panX = unpanned.panY = 0;
    applyLayout(unpanned);
}

void PictureWidget::setCheckerboard(bool on) {
    ViewOptions options = options_;
    options.checkerboard = on;
    applyLayout(options);
}

void PictureWidget::zoomTo(double zoom, QPoint at) {
    const QSize picture = renderer_->pictureSize();
    ViewOptions options = options_;
    if (picture.isEmpty()) {
        // Nothing to keep in place: the factor alone, for the picture to come.
        options.zoom = zoom;
        options = clampedView(DisplayMode::Zoomed, 0, 0, 0, 0, options);
    } else {
        options = zoomedAt(displayMode(), width(), height(), picture.width(), picture.height(),
                           options_, zoom, at.x(), at.y());
    }
    view_ = PaneView::Zoom;
    applyLayout(options);
}

void PictureWidget::setZoom(double zoom) {
    zoomTo(zoom, QPoint(width() / 2, height() / 2));
}

void PictureWidget::zoomAt(int notches, QPoint at) {
    // From another view the steps start at the scale the picture is shown at, so the
    // first notch enlarges what is on screen rather than jumping to the last zoom.
    double from = options_.zoom;
    if (view_ != PaneView::Zoom)
        if (const double shown = shownScale(); shown > 0) from = shown;
    zoomTo(zoomStep(from, notches), at);
}

void PictureWidget::zoomBy(int notches) {
    zoomAt(notches, QPoint(width() / 2, height() / 2));
}

void PictureWidget::wheelEvent(QWheelEvent* event) {
    if (!zoomable_) {
        QWidget::wheelEvent(event);
        return;
    }
    const QPoint angle = event->angleDelta();
    wheelAngle_ += angle.y() != 0 ? angle.y() : angle.x();
    constexpr int kNotch = 120;  // eighths of a degree
    const int notches = wheelAngle_ / kNotch;
    wheelAngle_ -= notches * kNotch;
    if (notches != 0) zoomAt(notches, event->position().toPoint());
    event->accept();
}

void PictureWidget::mousePressEvent(QMouseEvent* event) {
    const bool pans = view_ == PaneView::Actual || view_ == PaneView::Zoom;
    const Rect r = shownRect();
    if (event->button() != Qt::LeftButton || !pans ||
        (r.width <= width() && r.height <= height())) {
        QWidget::mousePressEvent(event);
        return;
    }
    dragAt_ = event->position().toPoint();
    dragging_ = true;
    setCursor(Qt::ClosedHandCursor);
    event->accept();
}

void PictureWidget::mouseMoveEvent(QMouseEvent* event) {
    if (!dragging_) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    // From the pan as it applies, step by step: once the picture's edge has met the
    // pane's, dragging back moves it at once.
    const QPoint at = event->position().toPoint();
    const QSize picture = renderer_->pictureSize();
    ViewOptions options =
        clampedView(displayMode(), width(), height(), picture.width(), picture.height(), options_);
    options.panX += at.x() - dragAt_.x();
    options.panY += at.y() - dragAt_.y();
    dragAt_ = at;
    options =
        clampedView(displayMode(), width(), height(), picture.width(), picture.height(), options);
    if (!(options == options_)) applyLayout(options);
    event->accept();
}

void PictureWidget::endDrag() {
    if (!dragging_) return;
    dragging_ = false;
    unsetCursor();
}

void PictureWidget::mouseReleaseEvent(QMouseEvent* event) {
    if (!dragging_ || event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    endDrag();
    event->accept();
}

}  // namespace kerbilo
