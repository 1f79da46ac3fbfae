#include "ui/services/qt/hex_view.h"

#include <QtGui/QFontDatabase>
#include <QtGui/QFontMetricsF>
#include <QtGui/QKeyEvent>
#include <QtGui/QPainter>
#include <QtGui/QWheelEvent>
#include <QtWidgets/QScrollBar>
#include <algorithm>
#include <cmath>
#include <limits>

#include "app/texts.h"
#include "ui/services/qt/qt_text.h"

namespace kerbilo {

namespace {

// A wheel notch is 120 eighths of a degree and moves three rows; a touchpad sends less at a
// time, which adds up.
constexpr int kWheelRows = 3;
constexpr int kNotch = 120;
constexpr int kWheelPerRow = kNotch / kWheelRows;

}  // namespace

HexView::HexView(QWidget* parent) : QAbstractScrollArea(parent) {
    setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    setFocusPolicy(Qt::StrongFocus);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this,
            [this](int action) { barAction(action); });
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this,
            [this](int value) { barMoved(value); });
    updateBars();
}

void HexView::setData(ByteBuffer bytes, std::int64_t fileOffset) {
    rows_ = HexRows(std::move(bytes), fileOffset);
    shown_ = true;
    top_ = 0;
    wheelRest_ = 0;
    updateBars();
    horizontalScrollBar()->setValue(0);
    viewport()->update();
}

void HexView::clear() {
    rows_ = HexRows();
    shown_ = false;
    top_ = 0;
    wheelRest_ = 0;
    updateBars();
    viewport()->update();
}

void HexView::scrollToRow(std::int64_t row) {
    top_ = std::clamp<std::int64_t>(row, 0, lastTop());
    updateBars();
    viewport()->update();
}

int HexView::lineHeight() const {
    return std::max(1, fontMetrics().lineSpacing());
}

qreal HexView::charWidth() const {
    const qreal w = QFontMetricsF(font()).horizontalAdvance(QLatin1Char('0'));
    return w > 0 ? w : 1;
}

int HexView::headingHeight() const {
    return lineHeight() + lineHeight() / 3;
}

int HexView::contentWidth() const {
    return static_cast<int>(std::ceil((2 + rows_.rowLength()) * charWidth()));
}

int HexView::pageRows() const {
    return std::max(1, (viewport()->height() - headingHeight()) / lineHeight());
}

std::int64_t HexView::lastTop() const {
    return std::max<std::int64_t>(0, rowCount() - pageRows());
}

// The bars follow top_ and the viewport's size. Showing or hiding a bar resizes the
// viewport, which changes the rows on a page; then the bars are set once more.
void HexView::updateBars() {
    if (updatingBars_) {
        barsAgain_ = true;
        return;
    }
    updatingBars_ = true;
    const bool wasSetting = settingBar_;
    settingBar_ = true;
    for (int round = 0; round < 4; ++round) {
        barsAgain_ = false;
        scale_ = RowScale(lastTop());
        top_ = std::clamp<std::int64_t>(top_, 0, scale_.lastTop());
        QScrollBar* v = verticalScrollBar();
        v->setRange(0, scale_.barMaximum());
        v->setSingleStep(1);
        // In bar values, so the handle is as long as a page is among the rows.
        v->setPageStep(std::max(1, scale_.valueOfTop(pageRows())));
        v->setValue(scale_.valueOfTop(top_));
        QScrollBar* h = horizontalScrollBar();
        h->setRange(0, std::max(0, contentWidth() - viewport()->width()));
        h->setPageStep(viewport()->width());
        h->setSingleStep(std::max(1, static_cast<int>(charWidth())));
        if (!barsAgain_) break;
    }
    settingBar_ = wasSetting;
    updatingBars_ = false;
}

// Arrows and the trough move by rows whatever the bar's scale: the row moves, the bar
// follows.
void HexView::barAction(int action) {
    std::int64_t by = 0;
    switch (action) {
        case QAbstractSlider::SliderSingleStepAdd:
            by = 1;
            break;
        case QAbstractSlider::SliderSingleStepSub:
            by = -1;
            break;
        case QAbstractSlider::SliderPageStepAdd:
            by = pageRows();
            break;
        case QAbstractSlider::SliderPageStepSub:
            by = -pageRows();
            break;
        default:
            return;  // a drag or a jump to an end: the value says where
    }
    scrollToRow(top_ + by);
    // The slider applies its position once this returns; make it the row's.
    verticalScrollBar()->setSliderPosition(scale_.valueOfTop(top_));
}

void HexView::barMoved(int value) {
    if (settingBar_) return;
    top_ = scale_.topOfValue(value);
    viewport()->update();
}

void HexView::scrollContentsBy(int, int) {
    viewport()->update();
}

void HexView::keyPressEvent(QKeyEvent* event) {
    constexpr std::int64_t kEnd = std::numeric_limits<std::int64_t>::max();
    switch (event->key()) {
        case Qt::Key_Up:
            scrollToRow(top_ - 1);
            break;
        case Qt::Key_Down:
            scrollToRow(top_ + 1);
            break;
        case Qt::Key_PageUp:
            scrollToRow(top_ - pageRows());
            break;
        case Qt::Key_PageDown:
            scrollToRow(top_ + pageRows());
            break;
        case Qt::Key_Home:
            scrollToRow(0);
            break;
        case Qt::Key_End:
            scrollToRow(kEnd);
            break;
        default:
            QAbstractScrollArea::keyPressEvent(event);
            return;
    }
    event->accept();
}

void HexView::wheelEvent(QWheelEvent* event) {
    const int delta = event->angleDelta().y();
    if (delta == 0) {
        QAbstractScrollArea::wheelEvent(event);  // sideways: the horizontal bar
        return;
    }
    wheelRest_ += delta;
    const int rows = wheelRest_ / kWheelPerRow;
    wheelRest_ -= rows * kWheelPerRow;
    scrollToRow(top_ - rows);
    event->accept();
}

void HexView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    updateBars();
}

void HexView::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        updateBars();
        viewport()->update();
    }
}

QSize HexView::sizeHint() const {
    const int frame = 2 * frameWidth();
    return {contentWidth() + frame + verticalScrollBar()->sizeHint().width(),
            headingHeight() + 16 * lineHeight() + frame};
}

void HexView::paintEvent(QPaintEvent*) {
    QPainter p(viewport());
    if (!shown_) return;
    p.setFont(font());
    const QFontMetrics metrics(font());
    const int line = lineHeight();
    const int heading = headingHeight();
    const qreal cw = charWidth();
    const qreal left = cw - horizontalScrollBar()->value();
    const qreal hexAt = left + rows_.hexColumn() * cw;
    const QColor dim = palette().color(QPalette::PlaceholderText);
    const QColor ink = palette().color(QPalette::Text);

    // The heading, which stays while the rows scroll under it; its rule lies halfway
    // between its text and the first row.
    const int headingBase = metrics.ascent();
    const int rule = line + (heading - line) / 2;
    p.setPen(dim);
    p.drawText(QPointF(left, headingBase), toQt(app_text::offsetHeading()));
    p.drawText(QPointF(hexAt, headingBase), QString::fromLatin1(HexRows::columnLabels()));
    p.drawLine(0, rule, viewport()->width(), rule);

    p.setClipRect(0, heading, viewport()->width(), viewport()->height() - heading);
    const std::int64_t shown = (viewport()->height() - heading + line - 1) / line;
    const std::int64_t end = std::min(rowCount(), top_ + shown);
    const int digits = rows_.offsetDigits();
    for (std::int64_t r = top_; r < end; ++r) {
        const std::string text = rows_.row(r);
        const qreal base = heading + static_cast<int>(r - top_) * line + metrics.ascent();
        p.setPen(dim);
        p.drawText(QPointF(left, base), QString::fromLatin1(text.data(), digits));
        p.setPen(ink);
        const auto hex = static_cast<std::size_t>(rows_.hexColumn());
        p.drawText(
            QPointF(hexAt, base),
            QString::fromLatin1(text.data() + hex, static_cast<qsizetype>(text.size() - hex)));
    }
}

}  // namespace kerbilo
