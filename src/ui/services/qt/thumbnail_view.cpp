#include "ui/services/qt/thumbnail_view.h"

#include <QtWidgets/QApplication>

#include <QtGui/QPixmap>

#include <QtCore/QMimeData>

#include <QtGui/QDrag>

#ifdef __linux__
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <QtCore/QMetaObject>
#include <QtGui/QContextMenuEvent>
#include <QtGui/QKeyEvent>
#include <QtGui/QMouseEvent>
#include <QtGui/QPainter>
#include <QtGui/QShowEvent>
#include <QtWidgets/QScrollBar>
#include <algorithm>
#include <atomic>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

#include "picture/decoders.h"

namespace kerbilo {

namespace {

// Space around each square, and between it and its caption.
constexpr int kPad = 8;
// A thumbnail needs no more than this: a larger picture is refused rather than decoded,
// so the few decodes running at once stay within a few hundred MiB.
constexpr int kMaxDimension = 16384;
constexpr std::int64_t kMaxPixels = std::int64_t{25} * 1000 * 1000;

QColor placeholderColour() {
    return {0xD8, 0xD8, 0xD8};
}

}  // namespace

QImage makeThumbnail(Image picture, int size) {
    if (picture.empty() || size <= 0) return {};
    const int w = picture.width;
    const int h = picture.height;
    // Premultiplied in place: what painting wants, and smooth scaling would otherwise copy
    // the whole picture to make it.
    QImage::Format format = QImage::Format_RGB32;
    if (picture.kind != ImageKind::Colour) {
        format = QImage::Format_ARGB32_Premultiplied;
        for (Pixel& p : picture.pixels) {
            const std::uint32_t a = p >> 24;
            if (a == 255) continue;
            auto mul = [a](std::uint32_t c) { return (c * a + 127) / 255; };
            p = (a << 24) | (mul((p >> 16) & 0xFF) << 16) | (mul((p >> 8) & 0xFF) << 8) |
                mul(p & 0xFF);
        }
    }
    const QImage source(reinterpret_cast<const uchar*>(picture.pixels.data()), w, h, w * 4, format);
    if (w <= size && h <= size) {
        const int factor = std::min(size / w, size / h);
        // copy(): a conversion to the format it has already would share `picture`'s pixels,
        // gone when this returns.
        if (factor <= 1) return source.convertToFormat(QImage::Format_ARGB32_Premultiplied).copy();
        // Whole blocks, so an icon's pixels stay crisp instead of blurring.
        QImage out(w * factor, h * factor, QImage::Format_ARGB32_Premultiplied);
        if (out.isNull()) return {};
        const std::uint32_t opaque = format == QImage::Format_RGB32 ? 0xFF000000u : 0u;
        for (int y = 0; y < h; ++y) {
            auto* row = reinterpret_cast<std::uint32_t*>(out.scanLine(y * factor));
            for (int x = 0; x < w; ++x)
                std::fill_n(row + x * factor, factor, picture.at(x, y) | opaque);
            for (int r = 1; r < factor; ++r)
                std::copy_n(row, w * factor,
                            reinterpret_cast<std::uint32_t*>(out.scanLine(y * factor + r)));
        }
        return out;
    }
    const double scale = std::min(static_cast<double>(size) / w, static_cast<double>(size) / h);
    const int tw = std::clamp(static_cast<int>(w * scale + 0.5), 1, size);
    const int th = std::clamp(static_cast<int>(h * scale + 0.5), 1, size);
    // Smaller than the picture, so scaled() made an image of its own.
    return source.scaled(tw, th, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// What a worker gives back for one item.
struct ThumbnailResult {
    int generation = 0;
    int item = 0;
    int size = 0;
    QImage image;  // null when there is no picture
    DecodeFailure failure = DecodeFailure::None;
};

// A few threads that turn bytes into thumbnails, taking the waiting jobs first come first
// served. The view replaces the waiting jobs whenever what is on screen changes, so they
// are always the items on screen first and nothing that has scrolled away.
class ThumbnailWorkers {
  public:
    struct Job {
        int generation = 0;
        int item = 0;
        int size = 0;
        ByteBuffer data;
    };
    // Called on a worker thread for every job taken, stopped or not.
    using Deliver = std::function<void(ThumbnailResult)>;

    ThumbnailWorkers(int threads, Deliver deliver)
        : deliver_(std::move(deliver)), slots_(new Slot[static_cast<std::size_t>(threads)]) {
        for (int i = 0; i < threads; ++i) threads_.emplace_back([this, i] { run(slots_[i]); });
    }
    ~ThumbnailWorkers() {
        {
            std::lock_guard lock(mutex_);
            quitting_ = true;
            for (std::size_t i = 0; i < threads_.size(); ++i) slots_[i].stop = true;
        }
        wake_.notify_all();
        for (std::thread& t : threads_) t.join();
    }

    // Takes back the jobs not started, and tells running decodes that `keep` does not want
    // any more to stop.
    template <class Keep>
    std::vector<Job> takeWaiting(Keep keep) {
        std::lock_guard lock(mutex_);
        for (std::size_t i = 0; i < threads_.size(); ++i) {
            Slot& s = slots_[i];
            if (s.busy && !keep(s.generation, s.item, s.size)) s.stop = true;
        }
        std::vector<Job> taken(std::make_move_iterator(waiting_.begin()),
                               std::make_move_iterator(waiting_.end()));
        waiting_.clear();
        return taken;
    }

    void add(std::vector<Job> jobs) {
        if (jobs.empty()) return;
        {
            std::lock_guard lock(mutex_);
            for (Job& j : jobs) waiting_.push_back(std::move(j));
        }
        wake_.notify_all();
    }

  private:
    struct Slot {
        bool busy = false;
        int generation = 0;
        int item = 0;
        int size = 0;
        std::atomic<bool> stop{false};
    };

    void run(Slot& slot) {
#ifdef __linux__
        // Decoding gives way to the window: a thumbnail a little later is better than a
        // window that stutters while it scrolls. On Linux niceness is per thread.
        errno = 0;
        const int nice = ::getpriority(PRIO_PROCESS, 0);
        if (errno == 0) ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), nice + 4);
#endif
        for (;;) {
            Job job;
            {
                std::unique_lock lock(mutex_);
                wake_.wait(lock, [this] { return quitting_ || !waiting_.empty(); });
                if (quitting_) return;
                job = std::move(waiting_.front());
                waiting_.pop_front();
                slot.busy = true;
                slot.generation = job.generation;
                slot.item = job.item;
                slot.size = job.size;
                slot.stop = false;
            }
            ThumbnailResult result = make(job, slot.stop);
            {
                std::lock_guard lock(mutex_);
                slot.busy = false;
            }
            deliver_(std::move(result));
        }
    }

    static ThumbnailResult make(const Job& job, const std::atomic<bool>& stop) {
        ThumbnailResult result;
        result.generation = job.generation;
        result.item = job.item;
        result.size = job.size;
        DecodeLimits limits;
        limits.maxDimension = kMaxDimension;
        limits.maxPixels = kMaxPixels;
        limits.stop = &stop;
        try {
            Decoded decoded = decodePicture(bytesOf(job.data), limits);
            if (!decoded) {
                result.failure = decoded.failure();
                return result;
            }
            result.image = makeThumbnail(std::move(*decoded), job.size);
            if (result.image.isNull()) result.failure = DecodeFailure::OutOfMemory;
        } catch (const std::bad_alloc&) {
            result.failure = DecodeFailure::OutOfMemory;
        }
        return result;
    }

    Deliver deliver_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> waiting_;
    bool quitting_ = false;
    std::unique_ptr<Slot[]> slots_;
    std::vector<std::thread> threads_;
};

int ThumbnailView::Range::distance(int item) const {
    if (item < first) return first - item;
    if (item >= last) return item - last + 1;
    return 0;
}

ThumbnailView::ThumbnailView(QWidget* parent) : QAbstractScrollArea(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    viewport()->setBackgroundRole(QPalette::Base);
    viewport()->setAutoFillBackground(true);
    // One worker leaves a core to the window on a two-core machine; two are plenty to keep
    // up with scrolling anywhere.
    const int cores = static_cast<int>(std::thread::hardware_concurrency());
    const int threads = std::clamp(cores - 1, 1, 2);
    workers_ = std::make_unique<ThumbnailWorkers>(threads, [this](ThumbnailResult r) {
        // The workers are joined before this view goes, so it is there to post to.
        QMetaObject::invokeMethod(
            this, [this, r = std::move(r)] { deliver(r); }, Qt::QueuedConnection);
    });
    relayout();
}

ThumbnailView::~ThumbnailView() {
    workers_.reset();
}

void ThumbnailView::setItems(int count, std::function<ByteBuffer(int)> dataOf,
                             std::function<QString(int)> labelOf) {
    forgetAll();
    count_ = std::max(0, count);
    dataOf_ = std::move(dataOf);
    labelOf_ = std::move(labelOf);
    relayout();
    verticalScrollBar()->setValue(0);
    requestVisible();
    viewport()->update();
}

void ThumbnailView::clear() {
    forgetAll();
    count_ = 0;
    dataOf_ = nullptr;
    labelOf_ = nullptr;
    relayout();
    viewport()->update();
}

void ThumbnailView::forgetAll() {
    ++generation_;
    // Waiting jobs are dropped here; running ones answer with an old generation, ignored.
    const auto taken = workers_->takeWaiting([](int, int, int) { return false; });
    outstanding_ -= static_cast<int>(taken.size());
    requested_.clear();
    cache_.clear();
    cachedBytes_ = 0;
    noPicture_.clear();
    starved_.clear();
    starvedFor_ = {};
    current_ = -1;
    decoded_ = 0;
}

void ThumbnailView::setThumbnailSize(int pixels) {
    pixels = std::clamp(pixels, kMinSize, kMaxSize);
    if (pixels == size_) return;
    // The item at the top stays at the top, unless the current one would leave the view.
    const int top = visibleRange().first;
    size_ = pixels;
    relayout();
    if (count_ > 0) {
        verticalScrollBar()->setValue(top / columns_ * cellHeight());
        if (current_ >= 0) scrollToItem(current_);
    }
    starved_.clear();
    requestVisible();
    viewport()->update();
}

void ThumbnailView::setCurrent(int item) {
    if (item < 0 || item >= count_) item = -1;
    current_ = item;
    if (item >= 0) scrollToItem(item);
    viewport()->update();
}

void ThumbnailView::setCacheBudget(std::size_t bytes) {
    budget_ = bytes;
    evict();
}

ThumbnailView::State ThumbnailView::stateOf(int item) const {
    if (noPicture_.count(item)) return State::NoPicture;
    const auto it = cache_.find(item);
    return it != cache_.end() && it->second.size == size_ ? State::Ready : State::Waiting;
}

QImage ThumbnailView::thumbnailOf(int item) const {
    const auto it = cache_.find(item);
    return it != cache_.end() && it->second.size == size_ ? it->second.image : QImage();
}

QSize ThumbnailView::sizeHint() const {
    return {4 * cellWidth() + verticalScrollBar()->sizeHint().width() + 2 * frameWidth(),
            3 * cellHeight() + 2 * frameWidth()};
}

// ---- layout -------------------------------------------------------------------------------

int ThumbnailView::captionHeight() const {
    return fontMetrics().height();
}

int ThumbnailView::cellWidth() const {
    return size_ + 2 * kPad;
}

int ThumbnailView::cellHeight() const {
    return kPad + size_ + kPad / 2 + captionHeight() + kPad;
}

int ThumbnailView::rowCount() const {
    return (count_ + columns_ - 1) / columns_;
}

int ThumbnailView::pageRows() const {
    return std::max(1, viewport()->height() / cellHeight());
}

void ThumbnailView::relayout() {
    columns_ = std::max(1, viewport()->width() / cellWidth());
    const std::int64_t height = std::int64_t{rowCount()} * cellHeight();
    QScrollBar* bar = verticalScrollBar();
    bar->setRange(
        0, static_cast<int>(std::clamp<std::int64_t>(height - viewport()->height(), 0, INT_MAX)));
    bar->setPageStep(std::max(1, viewport()->height()));
    bar->setSingleStep(std::max(1, cellHeight() / 3));
}

QRect ThumbnailView::itemRect(int item) const {
    if (item < 0 || item >= count_) return {};
    const int left = std::max(0, (viewport()->width() - columns_ * cellWidth()) / 2);
    const std::int64_t y =
        std::int64_t{item / columns_} * cellHeight() - verticalScrollBar()->value();
    // Far away items only need to be off screen, not exactly placed.
    const int top = static_cast<int>(std::clamp<std::int64_t>(y, -(1 << 29), 1 << 29));
    return {left + item % columns_ * cellWidth(), top, cellWidth(), cellHeight()};
}

int ThumbnailView::itemAt(QPoint pos) const {
    const int left = std::max(0, (viewport()->width() - columns_ * cellWidth()) / 2);
    if (pos.x() < left || pos.y() < 0) return -1;
    const int column = (pos.x() - left) / cellWidth();
    if (column >= columns_) return -1;
    const std::int64_t row = (std::int64_t{pos.y()} + verticalScrollBar()->value()) / cellHeight();
    const std::int64_t item = row * columns_ + column;
    return item < count_ ? static_cast<int>(item) : -1;
}

ThumbnailView::Range ThumbnailView::visibleRange() const {
    if (count_ == 0) return {};
    const std::int64_t top = verticalScrollBar()->value();
    const std::int64_t bottom = top + std::max(1, viewport()->height()) - 1;
    const std::int64_t first = top / cellHeight() * columns_;
    const std::int64_t last = (bottom / cellHeight() + 1) * columns_;
    return {static_cast<int>(std::min<std::int64_t>(first, count_)),
            static_cast<int>(std::min<std::int64_t>(last, count_))};
}

void ThumbnailView::scrollToItem(int item) {
    const QRect cell = itemRect(item);
    QScrollBar* bar = verticalScrollBar();
    if (cell.top() < 0)
        bar->setValue(bar->value() + cell.top());
    else if (cell.bottom() >= viewport()->height())
        bar->setValue(bar->value() + cell.bottom() + 1 - viewport()->height());
}

void ThumbnailView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    const int top = visibleRange().first;
    relayout();
    if (count_ > 0) verticalScrollBar()->setValue(top / columns_ * cellHeight());
    requestVisible();
}

void ThumbnailView::changeEvent(QEvent* event) {
    QAbstractScrollArea::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        relayout();
        requestVisible();
    }
}

void ThumbnailView::showEvent(QShowEvent* event) {
    QAbstractScrollArea::showEvent(event);
    requestVisible();
}

void ThumbnailView::scrollContentsBy(int, int dy) {
    requestVisible();
    // What stays on screen is moved, not painted again: only the rows coming in are.
    viewport()->scroll(0, dy);
}

// ---- decoding -----------------------------------------------------------------------------

void ThumbnailView::requestVisible() {
    // Hidden behind another view of the same items, it has nothing on screen to decode.
    if (count_ == 0 || !dataOf_ || !isVisible()) return;
    const Range visible = visibleRange();
    if (visible != starvedFor_) {
        starved_.clear();
        starvedFor_ = visible;
    }
    // The row above and the row below come after the screen, ready for an arrow or a notch
    // of the wheel; anything farther is not wanted now.
    const Range near{std::max(0, visible.first - columns_),
                     std::min(count_, visible.last + columns_)};
    const int generation = generation_;
    const int size = size_;
    const auto taken = workers_->takeWaiting([&](int g, int item, int s) {
        return g == generation && s == size && near.distance(item) == 0;
    });
    for (const ThumbnailWorkers::Job& job : taken) requested_.erase(job.item);
    outstanding_ -= static_cast<int>(taken.size());

    std::vector<ThumbnailWorkers::Job> jobs;
    auto want = [&](int item) {
        const auto cached = cache_.find(item);
        if (cached != cache_.end() && cached->second.size == size_) return;
        if (noPicture_.count(item) || starved_.count(item) || requested_.count(item)) return;
        requested_.emplace(item, size_);
        jobs.push_back({generation_, item, size_, dataOf_(item)});
    };
    for (int i = visible.first; i < visible.last; ++i) want(i);
    for (int i = visible.last; i < near.last; ++i) want(i);
    for (int i = visible.first - 1; i >= near.first; --i) want(i);
    outstanding_ += static_cast<int>(jobs.size());
    workers_->add(std::move(jobs));
}

void ThumbnailView::deliver(const ThumbnailResult& result) {
    --outstanding_;
    if (result.generation != generation_) return;
    const auto asked = requested_.find(result.item);
    if (asked != requested_.end() && asked->second == result.size) requested_.erase(asked);
    if (result.failure == DecodeFailure::Stopped || result.size != size_) {
        // Stopped because it had scrolled away, or made for a size no longer shown: if it
        // is back in view it is wanted again.
        requestVisible();
        return;
    }
    ++decoded_;
    const auto old = cache_.find(result.item);
    if (old != cache_.end()) {
        cachedBytes_ -= static_cast<std::size_t>(old->second.image.sizeInBytes());
        cache_.erase(old);
    }
    if (result.image.isNull()) {
        noPicture_.insert(result.item);
    } else {
        cache_[result.item] = {result.image, result.size};
        cachedBytes_ += static_cast<std::size_t>(result.image.sizeInBytes());
        evict();
    }
    viewport()->update(itemRect(result.item));
}

void ThumbnailView::evict() {
    const Range visible = visibleRange();
    while (cachedBytes_ > budget_ && !cache_.empty()) {
        const auto first = cache_.begin();
        const auto last = std::prev(cache_.end());
        const auto victim =
            visible.distance(first->first) >= visible.distance(last->first) ? first : last;
        if (visible.distance(victim->first) == 0) {
            if (starvedFor_ != visible) {
                starved_.clear();
                starvedFor_ = visible;
            }
            starved_.insert(victim->first);
            viewport()->update(itemRect(victim->first));
        }
        cachedBytes_ -= static_cast<std::size_t>(victim->second.image.sizeInBytes());
        cache_.erase(victim);
    }
}

// ---- painting -----------------------------------------------------------------------------

void ThumbnailView::paintEvent(QPaintEvent* event) {
    QPainter painter(viewport());
    const Range visible = visibleRange();
    for (int i = visible.first; i < visible.last; ++i) {
        const QRect cell = itemRect(i);
        if (cell.intersects(event->rect())) paintItem(painter, i, cell);
    }
}

void ThumbnailView::paintItem(QPainter& painter, int item, const QRect& cell) const {
    const QPalette& pal = palette();
    const bool isCurrent = item == current_;
    if (isCurrent) {
        QColor fill = pal.color(QPalette::Highlight);
        fill.setAlpha(60);
        const QRect frame = cell.adjusted(2, 2, -3, -3);
        painter.fillRect(frame, fill);
        painter.setPen(pal.color(QPalette::Highlight));
        painter.drawRect(frame);
    }
    const QRect square(cell.x() + kPad, cell.y() + kPad, size_, size_);
    const auto cached = cache_.find(item);
    if (cached != cache_.end()) {
        const QImage& image = cached->second.image;
        QSize shown = image.size();
        // One of the old size, until the new one is made.
        if (cached->second.size != size_)
            shown = QSize(std::max(1, image.width() * size_ / cached->second.size),
                          std::max(1, image.height() * size_ / cached->second.size));
        QRect target(QPoint(), shown);
        target.moveCenter(square.center());
        painter.drawImage(target, image);
    } else if (noPicture_.count(item)) {
        // A circle struck through: nothing to show, and nothing wrong with the view.
        const int d = std::max(12, size_ / 3);
        QRect mark(0, 0, d, d);
        mark.moveCenter(square.center());
        QPen pen(pal.color(QPalette::Mid));
        pen.setWidth(std::max(2, size_ / 40));
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(pen);
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(mark);
        const int inset = d * 3 / 20;
        painter.drawLine(mark.topLeft() + QPoint(inset, inset),
                         mark.bottomRight() - QPoint(inset, inset));
        painter.restore();
    } else {
        painter.setPen(placeholderColour());
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(square.adjusted(0, 0, -1, -1));
    }
    if (labelOf_) {
        const QRect caption(cell.x() + 2, square.bottom() + 1 + kPad / 2, cell.width() - 4,
                            captionHeight());
        const QString text =
            fontMetrics().elidedText(labelOf_(item), Qt::ElideMiddle, caption.width());
        painter.setPen(pal.color(QPalette::Text));
        painter.drawText(caption, Qt::AlignHCenter | Qt::AlignTop, text);
    }
}

// ---- input --------------------------------------------------------------------------------

void ThumbnailView::moveCurrent(int item) {
    if (count_ == 0) return;
    item = std::clamp(item, 0, count_ - 1);
    scrollToItem(item);
    if (item == current_) return;
    current_ = item;
    viewport()->update();
    if (currentChanged) currentChanged(item);
}

void ThumbnailView::keyPressEvent(QKeyEvent* event) {
    const int from = current_;
    const int page = columns_ * pageRows();
    const bool none = from < 0;
    switch (event->key()) {
        case Qt::Key_Left:
            moveCurrent(none ? 0 : from - 1);
            break;
        case Qt::Key_Right:
            moveCurrent(none ? 0 : from + 1);
            break;
        case Qt::Key_Up:
            // Not off the top: the first row has nowhere to go.
            moveCurrent(none ? 0 : from >= columns_ ? from - columns_ : from);
            break;
        case Qt::Key_Down:
            // Onto the last item when the row below is shorter than this column.
            moveCurrent(none ? 0 : from / columns_ + 1 < rowCount() ? from + columns_ : from);
            break;
        case Qt::Key_PageUp:
            moveCurrent(none ? 0 : from - std::min(from / columns_ * columns_, page));
            break;
        case Qt::Key_PageDown:
            moveCurrent(none ? 0 : from + page);
            break;
        case Qt::Key_Home:
            moveCurrent(0);
            break;
        case Qt::Key_End:
            moveCurrent(count_ - 1);
            break;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (current_ >= 0 && activated) activated(current_);
            break;
        case Qt::Key_F10:
            if (event->modifiers() != Qt::ShiftModifier)
                return QAbstractScrollArea::keyPressEvent(event);
            {
                QContextMenuEvent menu(QContextMenuEvent::Keyboard, QPoint(), QPoint());
                contextMenuEvent(&menu);
            }
            break;
        default:
            return QAbstractScrollArea::keyPressEvent(event);
    }
    event->accept();
}

void ThumbnailView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton && event->button() != Qt::RightButton)
        return QAbstractScrollArea::mousePressEvent(event);
    const int item = itemAt(event->position().toPoint());
    if (item >= 0) moveCurrent(item);
    pressedItem_ = event->button() == Qt::LeftButton ? item : -1;
    pressedAt_ = event->position().toPoint();
    event->accept();
}

void ThumbnailView::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton) || pressedItem_ < 0 || !dragData ||
        (event->position().toPoint() - pressedAt_).manhattanLength() <
            QApplication::startDragDistance())
        return QAbstractScrollArea::mouseMoveEvent(event);
    const int item = std::exchange(pressedItem_, -1);
    if (QMimeData* mime = dragData(item)) {
        auto* drag = new QDrag(this);
        drag->setMimeData(mime);
        const QImage shown = thumbnailOf(item);
        if (!shown.isNull())
            drag->setPixmap(QPixmap::fromImage(
                shown.scaled(64, 64, Qt::KeepAspectRatio, Qt::SmoothTransformation)));
        drag->exec(Qt::CopyAction);
    }
    event->accept();
}

void ThumbnailView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QAbstractScrollArea::mouseDoubleClickEvent(event);
    const int item = itemAt(event->position().toPoint());
    if (item >= 0) {
        moveCurrent(item);
        if (activated) activated(item);
    }
    event->accept();
}

void ThumbnailView::contextMenuEvent(QContextMenuEvent* event) {
    event->accept();
    if (!contextMenuRequested) return;
    if (event->reason() == QContextMenuEvent::Mouse) {
        // Sent to the viewport, so already in its coordinates.
        contextMenuRequested(itemAt(event->pos()), event->globalPos());
        return;
    }
    // From the keyboard: on the current item, where it is drawn.
    if (current_ >= 0) scrollToItem(current_);
    const QRect cell = itemRect(current_);
    const QPoint at = current_ >= 0 ? cell.center() : QPoint(0, 0);
    contextMenuRequested(current_, viewport()->mapToGlobal(at));
}

}  // namespace kerbilo
