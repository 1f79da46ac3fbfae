#pragma once
// The picture pane on screen. What it shows is composed by a renderer, so the widget does
// not care who decodes or where; pictures and frames that a renderer's worker makes are
// painted as they arrive.

#include <QtGui/QImage>
#include <QtWidgets/QWidget>
#include <functional>
#include <memory>

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
    // Set by the widget; a renderer may call it from any thread when a new picture or
    // frame is there to paint.
    std::function<void()> frameReady;
};

enum class PictureFit { CentreShrink, Stretch };

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

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    QColor backgroundColour() const { return palette().window().color(); }

    std::unique_ptr<PictureRenderer> renderer_;
    ByteBuffer data_;
};

}  // namespace kerbilo
