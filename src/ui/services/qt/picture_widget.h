#pragma once
// The picture pane on screen. What it shows is composed by a renderer, so the widget does
// not care who decodes; frames that a renderer's worker makes are painted as they arrive.

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
    // The whole pane as it should look now; a null image leaves only the background.
    virtual QImage compose(QSize size, QColor background) = 0;
    // Set by the widget; a renderer may call it from any thread when a new frame is due.
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
    // What is on screen now, for tests and screenshots.
    QImage composed();

  protected:
    void paintEvent(QPaintEvent* event) override;

  private:
    std::unique_ptr<PictureRenderer> renderer_;
    ByteBuffer data_;
};

}  // namespace kerbilo
