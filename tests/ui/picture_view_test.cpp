// The picture pane's views through the picture library's renderer: wheel zoom, drag pan and
// the checkerboard, read back from what the widget would paint.
#include <png.h>

#include <gtest/gtest.h>

#include <QtGui/QMouseEvent>
#include <QtGui/QWheelEvent>
#include <QtTest/QTest>
#include <vector>

#include "../picture/test_images.h"
#include "ui/services/qt/picture_widget.h"
#include "ui/shell/program.h"

namespace kerbilo::testing {
namespace {

template <class F>
bool waitUntil(F done, int ms = 3000) {
    for (int waited = 0; waited < ms; waited += 5) {
        if (done()) return true;
        QTest::qWait(5);
    }
    return done();
}

ByteBuffer pngOf(const Image& image) {
    return toBuffer(makePng(image, PNG_FORMAT_RGBA));
}

void wheel(QWidget& w, QPoint at, int angle, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
    QWheelEvent event(QPointF(at), QPointF(w.mapToGlobal(at)), QPoint(), QPoint(0, angle),
                      Qt::NoButton, modifiers, Qt::NoScrollPhase, false);
    QApplication::sendEvent(&w, &event);
}

void mouse(QWidget& w, QEvent::Type type, QPoint at, Qt::MouseButton button,
           Qt::MouseButtons held) {
    QMouseEvent event(type, QPointF(at), QPointF(w.mapToGlobal(at)), button, held, Qt::NoModifier);
    QApplication::sendEvent(&w, &event);
}

class PaneViews : public ::testing::Test {
  protected:
    void show(const ByteBuffer& data, QSize size = {200, 160}) {
        pane.resize(size);
        pane.setData(data);
        ASSERT_TRUE(waitUntil([&] { return pane.pictureReady(); }));
    }

    PictureWidget pane{Program::renderers()(PictureFit::CentreShrink)};
};

// A 16x16 icon shown 1:1, then four notches of the wheel over its centre: 1.5, 2, 3, 4.
// Each icon pixel is then a sharp 4x4 block, the icon still in the pane's centre.
TEST_F(PaneViews, WheelZoomsAnIconIntoSharpBlocks) {
    const Image icon = patternImage(16, 16);
    show(pngOf(icon));
    std::vector<double> told;
    pane.zoomChanged = [&](double z) { told.push_back(z); };
    EXPECT_EQ(pane.composed().pixel(92, 72), icon.at(0, 0)) << "the default view: 1:1, centred";

    const QPoint centre(100, 80);
    wheel(pane, centre, 60);
    EXPECT_TRUE(told.empty()) << "half a notch is not a step yet";
    wheel(pane, centre, 60);
    wheel(pane, centre, 120, Qt::ControlModifier);
    wheel(pane, centre, 240);
    EXPECT_EQ(told, (std::vector<double>{1.5, 2, 4}));
    EXPECT_EQ(pane.viewMode(), kerbilo::PaneView::Zoom);
    EXPECT_EQ(pane.zoom(), 4);
    EXPECT_EQ(pane.shownScale(), 4);

    const QImage shown = pane.composed();
    ASSERT_EQ(shown.size(), QSize(200, 160));
    const QColor background = pane.palette().window().color();
    for (int y = 0; y < 160; ++y)
        for (int x = 0; x < 200; ++x) {
            const int ix = x - 68, iy = y - 48;  // (200 - 64) / 2, (160 - 64) / 2
            const bool inside = ix >= 0 && iy >= 0 && ix < 64 && iy < 64;
            const QRgb want = inside ? icon.at(ix / 4, iy / 4) : background.rgb();
            ASSERT_EQ(shown.pixel(x, y), want) << x << "," << y;
        }

    // Wheeling back down goes back through the same steps.
    wheel(pane, centre, -120 * 3);
    EXPECT_EQ(pane.zoom(), 1.5);
    EXPECT_EQ(told.back(), 1.5);
}

// Over the pointer, not the centre: the icon pixel under it stays under it.
TEST_F(PaneViews, WheelZoomsAboutThePointer) {
    const Image icon = patternImage(16, 16);
    show(pngOf(icon), {40, 30});
    const QPoint over(12 + 9, 7 + 5);  // icon pixel (9, 5)
    wheel(pane, over, 120 * 4);
    ASSERT_EQ(pane.zoom(), 4);
    EXPECT_EQ(pane.composed().pixel(over), icon.at(9, 5));
    wheel(pane, over, 120 * 2);
    ASSERT_EQ(pane.zoom(), 8);
    EXPECT_EQ(pane.composed().pixel(over), icon.at(9, 5));
    EXPECT_EQ(pane.composed().pixel(over + QPoint(8, 0)), icon.at(10, 5));
}

// A transparent PNG: without the checkerboard its clear half shows the pane's background;
// with it, grey and white squares of eight pixels, and the opaque half stays red.
TEST_F(PaneViews, CheckerboardShowsThroughTransparency) {
    Image picture{32, 32, ImageKind::Alpha, {}};
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x)
            picture.pixels.push_back(x < 16 ? makePixel(0, 0, 0, 0) : makePixel(255, 0, 0));
    show(pngOf(picture));
    const QRgb background = pane.palette().window().color().rgb();
    const QPoint origin(84, 64);  // (200 - 32) / 2, (160 - 32) / 2
    EXPECT_EQ(pane.composed().pixel(origin + QPoint(3, 3)), background);
    EXPECT_EQ(pane.composed().pixel(origin + QPoint(11, 3)), background);

    pane.setCheckerboard(true);
    for (const kerbilo::PaneView view : {kerbilo::PaneView::Default, kerbilo::PaneView::Fit}) {
        pane.setViewMode(view);
        const QImage shown = pane.composed();
        const int scale = view == kerbilo::PaneView::Fit ? 5 : 1;  // 160 / 32
        const QPoint at = view == kerbilo::PaneView::Fit ? QPoint(20, 0) : origin;
        std::vector<QRgb> seen;
        for (int y = 0; y < 32 * scale; ++y)
            for (int x = 0; x < 32 * scale; ++x) {
                const QRgb want = x < 16 * scale ? checkerAt(x, y) : makePixel(255, 0, 0);
                ASSERT_EQ(shown.pixel(at + QPoint(x, y)), want) << x << "," << y;
            }
        EXPECT_EQ(shown.pixel(at - QPoint(1, 0)), background) << "only under the picture";
    }
}

// Actual size of a picture larger than the pane: dragging moves it, no further than its
// edge.
TEST_F(PaneViews, DragPansALargePicture) {
    const Image big = patternImage(400, 300);
    show(pngOf(big));
    pane.setViewMode(kerbilo::PaneView::Actual);
    // Centred: picture (100, 70) at the pane's (0, 0).
    EXPECT_EQ(pane.composed().pixel(0, 0), big.at(100, 70));
    mouse(pane, QEvent::MouseButtonPress, {50, 50}, Qt::LeftButton, Qt::LeftButton);
    mouse(pane, QEvent::MouseMove, {80, 40}, Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(pane.composed().pixel(0, 0), big.at(70, 80));
    mouse(pane, QEvent::MouseMove, {1000, 1000}, Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(pane.composed().pixel(0, 0), big.at(0, 0)) << "stops at the top left corner";
    mouse(pane, QEvent::MouseMove, {950, 990}, Qt::NoButton, Qt::LeftButton);
    EXPECT_EQ(pane.composed().pixel(0, 0), big.at(50, 10)) << "moving back moves at once";
    mouse(pane, QEvent::MouseButtonRelease, {950, 990}, Qt::LeftButton, Qt::NoButton);
    mouse(pane, QEvent::MouseMove, {0, 0}, Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(pane.composed().pixel(0, 0), big.at(50, 10)) << "released";

    // A new picture starts unpanned; the default view shows it whole again.
    show(pngOf(big));
    EXPECT_EQ(pane.composed().pixel(0, 0), big.at(100, 70));
    pane.setViewMode(kerbilo::PaneView::Default);
    EXPECT_EQ(pane.composed().pixel(0, 0), pane.palette().window().color().rgb());
}

}  // namespace
}  // namespace kerbilo::testing
