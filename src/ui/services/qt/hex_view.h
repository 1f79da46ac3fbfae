#pragma once
// The bytes of a resource as a hex dump, for the pane when the resource is not a picture
// (or whenever asked):
//
//   HexView* hex = new HexView(parent);
//   hex->setData(resourceBytes, resourceFileOffset);  // a view of the bytes; nothing copied
//   hex->scrollToRow(0);
//   hex->clear();                                     // an empty pane again
//
// A heading names the columns; under it each row shows sixteen bytes as app/hex_rows.h
// formats them, in the system's fixed-pitch font. Only the rows on screen are formatted and
// painted, so a resource of gigabytes shows at once. The vertical bar moves by rows; when
// there are more rows than an int bar can count, its values are spread over them
// (app/hex_rows.h RowScale) while arrows, pages, keys and the wheel still move by whole
// rows. Keys: Up, Down, PageUp, PageDown, Home and End (with or without Ctrl: there is no
// caret, so both go to the first or the last page); the wheel moves three rows a notch.

#include <QtWidgets/QAbstractScrollArea>
#include <cstdint>

#include "app/hex_rows.h"
#include "runtime/byte_buffer.h"

namespace kerbilo {

class HexView final : public QAbstractScrollArea {
  public:
    explicit HexView(QWidget* parent = nullptr);

    // Shows `bytes`, whose first byte lies at `fileOffset` in its file, from the first row.
    void setData(ByteBuffer bytes, std::int64_t fileOffset);
    // Shows nothing, not even the heading.
    void clear();

    std::int64_t rowCount() const { return rows_.rowCount(); }
    // The row at the top of the view.
    std::int64_t topRow() const { return top_; }
    // Puts `row` at the top, or as near as the rows allow: the last page ends with the last
    // row.
    void scrollToRow(std::int64_t row);
    // Rows that fit wholly under the heading: what PageDown moves by.
    int pageRows() const;

    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

  private:
    int lineHeight() const;
    qreal charWidth() const;  // the advance of every character of a fixed-pitch font
    int headingHeight() const;
    int contentWidth() const;
    std::int64_t lastTop() const;
    void updateBars();
    void barAction(int action);
    void barMoved(int value);

    HexRows rows_;
    bool shown_ = false;  // false after clear(): not even the heading
    std::int64_t top_ = 0;
    RowScale scale_;
    bool settingBar_ = false;  // the bar follows top_; its valueChanged is no move
    bool updatingBars_ = false;
    bool barsAgain_ = false;  // the viewport changed size while the bars were set
    int wheelRest_ = 0;       // wheel eighths of a degree not yet worth a row
};

}  // namespace kerbilo
