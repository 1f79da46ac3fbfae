// The hex view on screen, over resources of 2 GiB (more rows than fit a window, fewer than
// an int) and 64 GiB (more rows than an int bar can count), mapped from sparse files: it
// shows at once, the last page ends with the last row, and keys, the wheel and the bar's
// arrows move by exact rows whatever the bar's scale.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <QtGui/QImage>
#include <QtGui/QWheelEvent>
#include <QtTest/QTest>
#include <QtWidgets/QScrollBar>
#include <climits>
#include <limits>
#include <string>

#include "runtime/file_services.h"
#include "temp_folder.h"
#include "ui/services/qt/hex_view.h"

namespace kerbilo::testing {
namespace {

constexpr std::int64_t kGiB = std::int64_t{1} << 30;
constexpr std::int64_t kEnd = std::numeric_limits<std::int64_t>::max();
// Where the resource starts in its file, so offsets are the file's, not the resource's.
constexpr std::int64_t kStart = 0x1000;

class HexViewTest : public TempFolderTest {
  protected:
    // A resource of `size` bytes at kStart of a sparse file, zeros but for text at its start
    // and end; mapped, so only the rows shown are ever read.
    ByteBuffer resource(std::int64_t size) {
        const std::string path = home + "/big" + std::to_string(files_++) + ".bin";
        const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(::ftruncate(fd, kStart + size), 0);
        const std::string head = "first bytes", tail = "the very last bytes of it";
        EXPECT_EQ(::pwrite(fd, head.data(), head.size(), kStart), ssize_t(head.size()));
        EXPECT_EQ(::pwrite(fd, tail.data(), tail.size(), kStart + size - std::int64_t(tail.size())),
                  ssize_t(tail.size()));
        ::close(fd);
        PosixFileServices files(home);
        const std::optional<ByteBuffer> file = files.tryMapWholeFile(path);
        EXPECT_TRUE(file && static_cast<std::int64_t>(file->size()) == kStart + size);
        return file ? file->slice(kStart, static_cast<std::size_t>(size)) : ByteBuffer{};
    }

    // A view as the window would hold it, with bars that do not come and go, so two views
    // of one size have viewports of one size.
    static void prepare(HexView& view) {
        view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        view.setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view.resize(760, 420);
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    }

    int files_ = 0;  // each resource its own file: truncating a mapped one would pull its pages

    static QImage shot(HexView& view) { return view.viewport()->grab().toImage(); }

    static void wheel(HexView& view, int delta) {
        const QPointF at(view.viewport()->rect().center());
        QWheelEvent event(at, view.viewport()->mapToGlobal(at), QPoint(), QPoint(0, delta),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(view.viewport(), &event);
    }
};

// Scrolled to the end, the big view shows exactly what a view of its last page's bytes
// alone shows from the top: the same rows, offsets and all, in the same places.
TEST_F(HexViewTest, TheEndOfAHugeResourceShowsItsLastRows) {
    for (const std::int64_t size : {2 * kGiB, 64 * kGiB + 7}) {
        SCOPED_TRACE(size);
        const ByteBuffer bytes = resource(size);
        ASSERT_EQ(static_cast<std::int64_t>(bytes.size()), size);
        HexView view;
        prepare(view);
        view.setData(bytes, kStart);
        EXPECT_EQ(view.rowCount(), (size + 15) / 16);
        EXPECT_EQ(view.topRow(), 0);
        const QImage top = shot(view);

        const int page = view.pageRows();
        ASSERT_GT(page, 5);
        view.scrollToRow(kEnd);
        EXPECT_EQ(view.topRow(), view.rowCount() - page);
        EXPECT_EQ(view.verticalScrollBar()->value(), view.verticalScrollBar()->maximum());
        const QImage end = shot(view);

        HexView lastPage;
        prepare(lastPage);
        const std::int64_t from = view.topRow() * 16;
        lastPage.setData(bytes.slice(static_cast<std::size_t>(from), bytes.size()), kStart + from);
        ASSERT_EQ(lastPage.rowCount(), page);
        EXPECT_EQ(shot(lastPage), end);
        EXPECT_NE(end, top);

        // A taller window at the end still ends with the last row.
        view.resize(760, 600);
        QApplication::processEvents();
        EXPECT_GT(view.pageRows(), page);
        EXPECT_EQ(view.topRow(), view.rowCount() - view.pageRows());
        shot(view);

        // Anywhere between paints just as well.
        view.scrollToRow(view.rowCount() / 3);
        EXPECT_EQ(view.topRow(), view.rowCount() / 3);
        EXPECT_FALSE(shot(view).isNull());
    }
}

// Keys, the wheel and the bar's arrows and trough, from a row in the middle and at both
// ends, on a bar that counts rows and on one that does not.
TEST_F(HexViewTest, KeysWheelAndArrowsMoveByRows) {
    enum class Act { Key, Wheel, Bar };
    struct Case {
        const char* what;
        Act act;
        int code;  // a key, a wheel delta or a bar action
        Qt::KeyboardModifiers modifiers;
        std::int64_t start;  // kEnd: the last top row
        // Expected top row: start + by·rows, where rows is 1 or a page, or an end.
        std::int64_t by;
        bool byPage;
        int end;  // −1: the first row, 1: the last top row, 0: neither
    };
    const std::int64_t mid = 1000003;
    const Case cases[] = {
        {"Down", Act::Key, Qt::Key_Down, Qt::NoModifier, mid, 1, false, 0},
        {"Up", Act::Key, Qt::Key_Up, Qt::NoModifier, mid, -1, false, 0},
        {"PageDown", Act::Key, Qt::Key_PageDown, Qt::NoModifier, mid, 1, true, 0},
        {"PageUp", Act::Key, Qt::Key_PageUp, Qt::NoModifier, mid, -1, true, 0},
        {"Home", Act::Key, Qt::Key_Home, Qt::NoModifier, mid, 0, false, -1},
        {"End", Act::Key, Qt::Key_End, Qt::NoModifier, mid, 0, false, 1},
        {"Ctrl+Home", Act::Key, Qt::Key_Home, Qt::ControlModifier, mid, 0, false, -1},
        {"Ctrl+End", Act::Key, Qt::Key_End, Qt::ControlModifier, mid, 0, false, 1},
        {"Up at the top", Act::Key, Qt::Key_Up, Qt::NoModifier, 0, 0, false, -1},
        {"PageUp near the top", Act::Key, Qt::Key_PageUp, Qt::NoModifier, 2, 0, false, -1},
        {"Down at the end", Act::Key, Qt::Key_Down, Qt::NoModifier, kEnd, 0, false, 1},
        {"PageDown at the end", Act::Key, Qt::Key_PageDown, Qt::NoModifier, kEnd, 0, false, 1},
        {"Up from the end", Act::Key, Qt::Key_Up, Qt::NoModifier, kEnd, -1, false, 1},
        {"a notch towards the user", Act::Wheel, -120, {}, mid, 3, false, 0},
        {"a notch away", Act::Wheel, 120, {}, mid, -3, false, 0},
        {"two notches away", Act::Wheel, 240, {}, mid, -6, false, 0},
        {"a notch away at the top", Act::Wheel, 120, {}, 1, 0, false, -1},
        {"a touchpad's third of a notch", Act::Wheel, -40, {}, mid, 1, false, 0},
        {"the arrow down", Act::Bar, QAbstractSlider::SliderSingleStepAdd, {}, mid, 1, false, 0},
        {"the arrow up", Act::Bar, QAbstractSlider::SliderSingleStepSub, {}, mid, -1, false, 0},
        {"the trough below", Act::Bar, QAbstractSlider::SliderPageStepAdd, {}, mid, 1, true, 0},
        {"the trough above", Act::Bar, QAbstractSlider::SliderPageStepSub, {}, mid, -1, true, 0},
        {"the arrow down at the end",
         Act::Bar,
         QAbstractSlider::SliderSingleStepAdd,
         {},
         kEnd,
         0,
         false,
         1},
        {"the bar to its end", Act::Bar, QAbstractSlider::SliderToMaximum, {}, mid, 0, false, 1},
        {"the bar to its start", Act::Bar, QAbstractSlider::SliderToMinimum, {}, mid, 0, false, -1},
    };
    for (const std::int64_t size : {2 * kGiB, 64 * kGiB}) {
        const ByteBuffer bytes = resource(size);
        HexView view;
        prepare(view);
        view.setData(bytes, kStart);
        const std::int64_t lastTop = view.rowCount() - view.pageRows();
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + " in " + std::to_string(size));
            view.scrollToRow(c.start);
            const std::int64_t start = view.topRow();
            ASSERT_EQ(start, c.start == kEnd ? lastTop : c.start);
            switch (c.act) {
                case Act::Key:
                    QTest::keyClick(&view, Qt::Key(c.code), c.modifiers);
                    break;
                case Act::Wheel:
                    wheel(view, c.code);
                    break;
                case Act::Bar:
                    view.verticalScrollBar()->triggerAction(QAbstractSlider::SliderAction(c.code));
                    break;
            }
            const std::int64_t want = c.end < 0   ? 0
                                      : c.end > 0 ? lastTop + c.by
                                                  : start + c.by * (c.byPage ? view.pageRows() : 1);
            EXPECT_EQ(view.topRow(), want);
            // The bar shows where the rows are.
            EXPECT_EQ(view.verticalScrollBar()->value(),
                      RowScale(lastTop).valueOfTop(view.topRow()));
        }
    }
}

// Dragging the bar of a resource with more rows than an int spreads its values over all
// rows; a bar that counts rows gives the row itself.
TEST_F(HexViewTest, DraggingTheBarReachesRowsInProportion) {
    for (const std::int64_t size : {2 * kGiB, 64 * kGiB}) {
        SCOPED_TRACE(size);
        HexView view;
        prepare(view);
        view.setData(resource(size), kStart);
        const std::int64_t lastTop = view.rowCount() - view.pageRows();
        QScrollBar* bar = view.verticalScrollBar();
        const bool spread = lastTop > INT_MAX;
        EXPECT_EQ(bar->maximum(), spread ? INT_MAX : lastTop);
        bar->setSliderPosition(bar->maximum() / 2);  // as a drag does, with tracking on
        const double share = static_cast<double>(lastTop) / bar->maximum();
        EXPECT_NEAR(static_cast<double>(view.topRow()), (bar->maximum() / 2) * share, share);
        bar->setSliderPosition(bar->maximum());
        EXPECT_EQ(view.topRow(), lastTop);
        bar->setSliderPosition(1);
        EXPECT_EQ(view.topRow(), spread ? std::int64_t(share + 0.5) : 1);
    }
}

// Few bytes, none, and none at all: rows that fit leave nothing to scroll; clearing leaves
// the pane as a new one is.
TEST_F(HexViewTest, SmallEmptyAndClearedResources) {
    HexView fresh;
    prepare(fresh);
    const QImage blank = shot(fresh);

    HexView view;
    prepare(view);
    view.setData(ByteBuffer::fromText("hello, hex"), 0x20);
    EXPECT_EQ(view.rowCount(), 1);
    EXPECT_EQ(view.verticalScrollBar()->maximum(), 0);
    QTest::keyClick(&view, Qt::Key_PageDown);
    EXPECT_EQ(view.topRow(), 0);
    const QImage one = shot(view);
    EXPECT_NE(one, blank);

    view.setData(ByteBuffer{}, 0x20);
    EXPECT_EQ(view.rowCount(), 0);
    QTest::keyClick(&view, Qt::Key_End);
    wheel(view, -120);
    EXPECT_EQ(view.topRow(), 0);
    const QImage headingOnly = shot(view);
    EXPECT_NE(headingOnly, one);
    EXPECT_NE(headingOnly, blank);

    view.setData(resource(2 * kGiB), kStart);
    view.scrollToRow(12345);
    view.clear();
    EXPECT_EQ(view.rowCount(), 0);
    EXPECT_EQ(view.topRow(), 0);
    EXPECT_EQ(view.verticalScrollBar()->maximum(), 0);
    EXPECT_EQ(shot(view), blank);
}

}  // namespace
}  // namespace kerbilo::testing
