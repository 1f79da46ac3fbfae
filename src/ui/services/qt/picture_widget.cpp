#include "ui/services/qt/picture_widget.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QMetaObject>
#include <QtCore/QPointer>
#include <QtGui/QPainter>
#include <QtGui/QPalette>

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

}  // namespace kerbilo
