#pragma once
// Every picture resource as a thumbnail in a scrollable grid, with its caption under it:
//
//   ThumbnailView* view = new ThumbnailView(parent);
//   view->setItems(n, [](int i) { return bytesOf(i); }, [](int i) { return captionOf(i); });
//   view->currentChanged = [](int i) { ... };   // a click or a key chose item i
//   view->setThumbnailSize(96);                  // 48 ... 256 pixels
//
// Items are numbered 0 ... count-1; whoever shows the view maps them to its own things.
// Only the items on screen are ever looked at: their bytes are asked for as they scroll
// into view and decoded on a worker thread, what is on screen first, so a grid of tens of
// thousands scrolls as smoothly as one of ten. A light frame stands in for a thumbnail not
// made yet and a neutral mark for data that does not decode (which is not tried again).
//
// Finished thumbnails are kept within a byte budget (256 MiB unless told otherwise); when
// it is full, those farthest from the items on screen go first. Pictures are decoded a
// couple at a time within limits that keep one huge picture from taking the memory.
//
// Keys: arrows, PageUp, PageDown, Home and End move the current item and scroll it into
// view; Enter activates it; the Menu key and Shift+F10 ask for its context menu.

#include <QtCore/QString>
#include <QtGui/QImage>
#include <QtWidgets/QAbstractScrollArea>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <unordered_map>
#include <unordered_set>

#include "picture/image.h"
#include "runtime/byte_buffer.h"

class QMimeData;

namespace kerbilo {

class ThumbnailWorkers;
struct ThumbnailResult;

// A picture scaled to fit a square of `size` pixels, aspect kept, premultiplied ARGB32:
// a picture at most half the square is enlarged by the largest whole factor that fits,
// each pixel a sharp block; a larger one is shrunk smoothly; one in between is kept as it
// is. Null for an empty picture. Takes the picture to spare a copy of a large one.
QImage makeThumbnail(Image picture, int size);

class ThumbnailView final : public QAbstractScrollArea {
  public:
    static constexpr int kMinSize = 48;
    static constexpr int kMaxSize = 256;
    static constexpr std::size_t kDefaultBudget = std::size_t{256} << 20;

    enum class State { Waiting, Ready, NoPicture };

    explicit ThumbnailView(QWidget* parent = nullptr);
    ~ThumbnailView() override;

    // `dataOf(i)` gives the bytes to decode (a view, cheap to make; asked for on this thread
    // and then read by a worker), `labelOf(i)` the caption. Both are asked only about items
    // on screen or next to it, and nothing is decoded while the view is hidden. No item is
    // current afterwards.
    void setItems(int count, std::function<ByteBuffer(int)> dataOf,
                  std::function<QString(int)> labelOf);
    void clear();
    int count() const { return count_; }

    // Clamped to kMinSize ... kMaxSize. The grid is laid out again at once; thumbnails of
    // the old size are shown stretched until those of the new one are made.
    void setThumbnailSize(int pixels);
    int thumbnailSize() const { return size_; }

    // Selects `item` and scrolls it into view; -1 (or anything outside) selects none.
    // Calls no callback: the caller knows.
    void setCurrent(int item);
    int current() const { return current_; }

    // A click or a key made `item` current.
    std::function<void(int item)> currentChanged;
    // A right click (on `item`, or -1 between items), Shift+F10 or the Menu key (on the
    // current item); `globalPos` is where a menu should open.
    std::function<void(int item, QPoint globalPos)> contextMenuRequested;
    // What dragging an item out of the view carries; null or unset: it is not dragged.
    std::function<QMimeData*(int item)> dragData;
    // A double click or Enter on `item`.
    std::function<void(int item)> activated;

    // Columns of the grid as it is laid out now.
    int columns() const { return columns_; }
    // Where `item` is drawn, in viewport coordinates (it may be outside the viewport);
    // empty for no item.
    QRect itemRect(int item) const;
    // The item drawn at `pos` in viewport coordinates, or -1.
    int itemAt(QPoint pos) const;

    // What the tests and measurements look at.
    std::size_t cachedBytes() const { return cachedBytes_; }
    std::size_t cacheBudget() const { return budget_; }
    void setCacheBudget(std::size_t bytes);
    // Pictures decoded (or found undecodable) since setItems.
    int decodedCount() const { return decoded_; }
    // No decode is waiting or running, and no result is on its way here.
    bool idle() const { return outstanding_ == 0; }
    State stateOf(int item) const;
    // The thumbnail kept for `item` at the current size, or a null image.
    QImage thumbnailOf(int item) const;

    QSize sizeHint() const override;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

  private:
    QPoint pressedAt_;  // where the left button went down on an item, for a drag
    int pressedItem_ = -1;
    struct Entry {
        QImage image;
        int size = 0;  // the thumbnail size it was made for
    };
    // Items [first, last) with any part on screen.
    struct Range {
        int first = 0;
        int last = 0;
        int distance(int item) const;
        bool operator==(const Range&) const = default;
    };

    int cellWidth() const;
    int cellHeight() const;
    int captionHeight() const;
    int rowCount() const;
    int pageRows() const;
    Range visibleRange() const;
    void relayout();
    void scrollToItem(int item);
    void moveCurrent(int item);  // by the user: scrolls and tells
    void requestVisible();
    void deliver(const ThumbnailResult& result);
    void evict();
    void forgetAll();
    void paintItem(QPainter& painter, int item, const QRect& cell) const;

    int count_ = 0;
    std::function<ByteBuffer(int)> dataOf_;
    std::function<QString(int)> labelOf_;
    int size_ = 128;
    int current_ = -1;
    int columns_ = 1;

    // Ordered by item, so the entries farthest from the screen are at either end.
    std::map<int, Entry> cache_;
    std::size_t cachedBytes_ = 0;
    std::size_t budget_ = kDefaultBudget;
    std::unordered_set<int> noPicture_;
    // Items on screen that the budget could not keep, not asked for again until the view
    // moves: otherwise they would be decoded and dropped over and over.
    std::unordered_set<int> starved_;
    Range starvedFor_;
    // Items handed to the workers and not answered, with the size asked for.
    std::unordered_map<int, int> requested_;
    int outstanding_ = 0;  // requests given to the workers and not answered, of any setItems
    int generation_ = 0;   // which setItems an answer belongs to
    int decoded_ = 0;
    std::unique_ptr<ThumbnailWorkers> workers_;
};

}  // namespace kerbilo
