// The thumbnail grid on screen over 10,000 small pictures: only what is near the screen is
// decoded, the cache keeps to its budget however far one scrolls, clicks and keys choose
// items, the grid follows the thumbnail size, icons grow in sharp blocks, and data that
// does not decode shows its mark once and is left alone.

#include <gtest/gtest.h>
#include <png.h>

#include <QtGui/QContextMenuEvent>
#include <QtTest/QTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QScrollBar>
#include <vector>

#include "../picture/test_images.h"
#include "gui_helpers.h"
#include "ui/services/qt/thumbnail_view.h"

namespace kerbilo::testing {
namespace {

constexpr int kItems = 10000;

// A few dozen distinct small PNGs and BMPs; item i shows picture i % their number.
std::vector<ByteBuffer> smallPictures() {
    std::vector<ByteBuffer> pictures;
    for (int k = 0; k < 48; ++k) {
        Image image = patternImage(20 + k % 7, 14 + k % 5);
        if (k % 2 == 0) {
            pictures.push_back(toBuffer(makePng(image, PNG_FORMAT_RGB)));
        } else {
            BmpPlan plan;
            plan.width = image.width;
            plan.height = image.height;
            for (Pixel p : image.pixels) plan.values.push_back(p & 0xFFFFFF);
            pictures.push_back(toBuffer(makeBmp(plan)));
        }
    }
    return pictures;
}

// A 16x16 icon whose every pixel differs from its neighbours.
Image iconPicture() {
    return patternImage(16, 16);
}
ByteBuffer iconFile() {
    return toBuffer(makeIcon({{16, 0, makeIconDib(iconPicture(), std::vector<bool>(256))}}));
}

class ThumbnailViewTest : public ::testing::Test {
  protected:
    void SetUp() override {
        view.resize(800, 600);
        view.setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        view.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&view));
    }

    void showPictures(int count = kItems) {
        view.setItems(
            count,
            [this](int i) { return pictures[static_cast<std::size_t>(i) % pictures.size()]; },
            [](int i) { return QString::number(i); });
    }
    void showBytes(int count, ByteBuffer bytes) {
        view.setItems(
            count, [bytes](int) { return bytes; }, [](int i) { return QString::number(i); });
    }

    bool settle() {
        return waitUntil([this] { return view.idle(); }, 10000);
    }

    // Items with any part in the viewport.
    std::vector<int> onScreen() const {
        std::vector<int> items;
        const QRect area = view.viewport()->rect();
        for (int i = 0; i < view.count(); ++i)
            if (view.itemRect(i).intersects(area)) items.push_back(i);
        return items;
    }
    void expectAllShown() {
        for (int i : onScreen())
            EXPECT_EQ(view.stateOf(i), ThumbnailView::State::Ready) << "item " << i;
    }

    void scrollTo(int value) { view.verticalScrollBar()->setValue(value); }
    int scrollMax() const { return view.verticalScrollBar()->maximum(); }
    int page() const { return view.verticalScrollBar()->pageStep(); }

    std::vector<ByteBuffer> pictures = smallPictures();
    ThumbnailView view;
};

// ---- making a thumbnail ---------------------------------------------------------------------

TEST(MakeThumbnail, FitsTheSquareEnlargingByWholeBlocksAndShrinkingSmoothly) {
    struct Case {
        int width, height, size;
        int wantWidth, wantHeight;
        int block;  // 0: shrunk, so only the size and colour are checked
        ImageKind kind;
    } const cases[] = {
        // An icon: blocks of 8.
        {16, 16, 128, 128, 128, 8, ImageKind::Colour},
        {16, 16, 128, 128, 128, 8, ImageKind::Icon},
        // The largest whole factor that fits.
        {20, 10, 128, 120, 60, 6, ImageKind::Colour},
        // More than half the square: kept as it is.
        {100, 50, 128, 100, 50, 1, ImageKind::Colour},
        {100, 50, 128, 100, 50, 1, ImageKind::Alpha},
        {48, 48, 48, 48, 48, 1, ImageKind::Icon},
        {400, 200, 128, 128, 64, 0, ImageKind::Colour},
        {400, 200, 128, 128, 64, 0, ImageKind::Alpha},
        {200, 400, 48, 24, 48, 0, ImageKind::Colour},
        // A thin line still has a row.
        {3000, 1, 64, 64, 1, 0, ImageKind::Colour},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " at " +
                     std::to_string(c.size) + " kind " + std::to_string(int(c.kind)));
        Image source = patternImage(c.width, c.height, c.kind);
        if (c.block == 0)
            for (Pixel& p : source.pixels) p = makePixel(40, 160, 220);
        const QImage thumb = makeThumbnail(source, c.size);
        ASSERT_EQ(thumb.size(), QSize(c.wantWidth, c.wantHeight));
        ASSERT_EQ(thumb.format(), QImage::Format_ARGB32_Premultiplied);
        for (int y = 0; y < thumb.height(); ++y)
            for (int x = 0; x < thumb.width(); ++x) {
                const Pixel want = c.block ? source.at(x / c.block, y / c.block) | 0xFF000000u
                                           : makePixel(40, 160, 220);
                ASSERT_EQ(thumb.pixel(x, y), want) << x << "," << y;
            }
    }
}

TEST(MakeThumbnail, PremultipliesTransparentPicturesAndIgnoresAlphaOfOpaqueOnes) {
    Image picture = patternImage(2, 1, ImageKind::Alpha);
    picture.pixels = {makePixel(200, 100, 50, 128), makePixel(10, 20, 30, 0)};
    QImage thumb = makeThumbnail(picture, 48);
    // Drawn enlarged 24 times; read back as straight ARGB the colour survives.
    EXPECT_EQ(thumb.size(), QSize(48, 24));
    const QImage straight = thumb.convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(qAlpha(straight.pixel(0, 0)), 128);
    EXPECT_NEAR(qRed(straight.pixel(0, 0)), 200, 2);
    EXPECT_EQ(qAlpha(straight.pixel(47, 23)), 0);

    picture.kind = ImageKind::Colour;  // the alpha byte means nothing here
    thumb = makeThumbnail(picture, 48);
    EXPECT_EQ(qAlpha(thumb.pixel(47, 23)), 255);
    EXPECT_EQ(thumb.pixel(0, 0), makePixel(200, 100, 50));

    EXPECT_TRUE(makeThumbnail(Image{}, 128).isNull());
}

// ---- decoding what is near the screen ---------------------------------------------------

TEST_F(ThumbnailViewTest, DecodesOnlyWhatIsNearTheScreen) {
    view.hide();  // behind another view: nothing to decode yet
    showPictures();
    EXPECT_TRUE(view.idle());
    view.show();
    ASSERT_TRUE(settle());
    const int screen = static_cast<int>(onScreen().size());
    expectAllShown();
    // The screen and a row either side of it.
    EXPECT_GE(view.decodedCount(), screen);
    EXPECT_LE(view.decodedCount(), screen + 2 * view.columns());

    scrollTo(scrollMax() / 2);
    ASSERT_TRUE(settle());
    expectAllShown();
    const int afterMiddle = view.decodedCount();
    EXPECT_GT(afterMiddle, screen);
    EXPECT_LE(afterMiddle, 2 * (screen + 2 * view.columns()));

    scrollTo(scrollMax());
    ASSERT_TRUE(settle());
    expectAllShown();
    EXPECT_EQ(view.stateOf(kItems - 1), ThumbnailView::State::Ready);
    EXPECT_LT(view.decodedCount(), kItems / 20);
}

TEST_F(ThumbnailViewTest, DropsWhatScrollsPastBeforeItIsDecoded) {
    showPictures();
    // A drag of the bar through the whole grid, faster than anything can be decoded.
    const int screen = static_cast<int>(onScreen().size());
    int passed = 0;
    for (int v = 0; v <= scrollMax(); v += page()) {
        scrollTo(v);
        passed += screen;
    }
    scrollTo(scrollMax());
    ASSERT_TRUE(settle());
    expectAllShown();
    EXPECT_LT(view.decodedCount(), passed / 4) << "of " << passed << " items passed";
}

TEST_F(ThumbnailViewTest, KeepsToTheBudgetWhereverItScrolls) {
    view.setThumbnailSize(64);
    const std::size_t thumb = 64 * 64 * 4;  // the widest pictures fill the square's width
    view.setCacheBudget(150 * thumb);
    showPictures();
    ASSERT_TRUE(settle());
    std::size_t peak = 0;
    for (int v = 0; v <= scrollMax() + page(); v += page()) {
        scrollTo(v);
        ASSERT_TRUE(settle()) << "at " << v;
        peak = std::max(peak, view.cachedBytes());
        ASSERT_LE(view.cachedBytes(), view.cacheBudget()) << "at " << v;
    }
    expectAllShown();  // the far ones went, not those on screen
    EXPECT_GT(peak, view.cacheBudget() / 2);
    EXPECT_EQ(view.thumbnailOf(0), QImage());

    // Back at the top, the first page is decoded again.
    scrollTo(0);
    ASSERT_TRUE(settle());
    expectAllShown();
    EXPECT_LE(view.cachedBytes(), view.cacheBudget());

    // A budget smaller than one screen: it keeps what fits and stops asking.
    view.setCacheBudget(5 * thumb);
    EXPECT_LE(view.cachedBytes(), view.cacheBudget());
    scrollTo(page() * 3);
    ASSERT_TRUE(settle());
    EXPECT_LE(view.cachedBytes(), view.cacheBudget());
    const int decoded = view.decodedCount();
    view.viewport()->repaint();
    QTest::qWait(50);  // a wait for a busy worker that must not start
    EXPECT_TRUE(view.idle());
    EXPECT_EQ(view.decodedCount(), decoded);
}

TEST_F(ThumbnailViewTest, UndecodableDataShowsItsMarkOnce) {
    showBytes(kItems, ByteBuffer::fromText("not a picture at all"));
    const int row = view.itemRect(0).height();
    scrollTo(row);
    ASSERT_TRUE(settle());
    for (int i : onScreen()) EXPECT_EQ(view.stateOf(i), ThumbnailView::State::NoPicture);
    const int decoded = view.decodedCount();
    EXPECT_GT(decoded, 0);
    // A row up and back, among the items that failed: none is tried again.
    scrollTo(0);
    EXPECT_TRUE(view.idle());
    scrollTo(row);
    EXPECT_TRUE(view.idle());
    view.viewport()->repaint();
    EXPECT_TRUE(view.idle());
    EXPECT_EQ(view.decodedCount(), decoded);

    // A PNG cut short fails the same way.
    const ByteBuffer png = pictures[0];
    showBytes(3, png.slice(0, png.size() / 2));
    ASSERT_TRUE(settle());
    EXPECT_EQ(view.stateOf(2), ThumbnailView::State::NoPicture);
    EXPECT_TRUE(view.thumbnailOf(2).isNull());
}

TEST_F(ThumbnailViewTest, NewItemsNeverShowTheOldOnesThumbnails) {
    showPictures();
    showBytes(kItems, ByteBuffer::fromText("nothing"));  // while the first are decoding
    ASSERT_TRUE(settle());
    for (int i : onScreen()) EXPECT_EQ(view.stateOf(i), ThumbnailView::State::NoPicture);
    EXPECT_EQ(view.cachedBytes(), 0u);

    view.clear();
    EXPECT_EQ(view.count(), 0);
    EXPECT_EQ(view.current(), -1);
    EXPECT_TRUE(settle());
}

TEST_F(ThumbnailViewTest, EnlargesAnIconInSharpBlocks) {
    showBytes(1, iconFile());
    ASSERT_TRUE(settle());
    const QImage thumb = view.thumbnailOf(0);
    ASSERT_EQ(thumb.size(), QSize(128, 128));
    const Image icon = iconPicture();
    for (int y = 0; y < 128; ++y)
        for (int x = 0; x < 128; ++x)
            ASSERT_EQ(thumb.pixel(x, y), icon.at(x / 8, y / 8) | 0xFF000000u) << x << "," << y;

    // Another size makes it again at that size.
    view.setThumbnailSize(48);
    ASSERT_TRUE(settle());
    EXPECT_EQ(view.thumbnailOf(0).size(), QSize(48, 48));
    EXPECT_EQ(view.cachedBytes(), 48u * 48 * 4);
}

// ---- painting -------------------------------------------------------------------------------

TEST_F(ThumbnailViewTest, PaintsThumbnailsMarksAndFrames) {
    const QColor base = view.viewport()->palette().color(QPalette::Base);
    auto square = [this](int item) {
        const QRect cell = view.itemRect(item);
        const int pad = (cell.width() - view.thumbnailSize()) / 2;
        return QRect(cell.x() + pad, cell.y() + pad, view.thumbnailSize(), view.thumbnailSize());
    };
    auto marked = [&](const QImage& shot, const QRect& area) {
        int n = 0;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x) n += shot.pixelColor(x, y) != base;
        return n;
    };

    // With no room for any thumbnail, each stays a light frame, and is not made again.
    view.setCacheBudget(0);
    const ByteBuffer icon = iconFile();
    showBytes(1, icon);
    ASSERT_TRUE(settle());
    QImage shot = view.viewport()->grab().toImage();
    const QRect first = square(0);
    EXPECT_EQ(view.stateOf(0), ThumbnailView::State::Waiting);
    EXPECT_EQ(shot.pixelColor(first.topLeft()), QColor(0xD8, 0xD8, 0xD8));
    EXPECT_EQ(shot.pixelColor(first.bottomRight()), QColor(0xD8, 0xD8, 0xD8));
    EXPECT_EQ(marked(shot, first.adjusted(1, 1, -1, -1)), 0);

    view.setCacheBudget(ThumbnailView::kDefaultBudget);
    const ByteBuffer junk = ByteBuffer::fromText("junk");
    view.setItems(
        2, [&](int i) { return i == 0 ? icon : junk; }, [](int) { return QString("a"); });
    ASSERT_TRUE(settle());
    shot = view.viewport()->grab().toImage();
    const Image pixels = iconPicture();
    for (int y = 0; y < 128; y += 5)
        for (int x = 0; x < 128; x += 5)
            ASSERT_EQ(shot.pixel(first.x() + x, first.y() + y) & 0xFFFFFFu,
                      pixels.at(x / 8, y / 8) & 0xFFFFFFu)
                << x << "," << y;
    // The mark: something drawn in the middle, no frame round the edge.
    const QRect second = square(1);
    EXPECT_EQ(shot.pixelColor(second.topLeft()), base);
    EXPECT_GT(marked(shot, second), 100);
    EXPECT_EQ(marked(shot, second.adjusted(0, 0, 0, -second.height() * 3 / 4)), 0);
}

// ---- layout, mouse and keys -------------------------------------------------------------

TEST_F(ThumbnailViewTest, LaysOutAgainForEachThumbnailSize) {
    showPictures();
    view.setCurrent(5000);
    int lastColumns = 1000;
    for (int size : {10, 48, 128, 256, 999}) {
        view.setThumbnailSize(size);
        SCOPED_TRACE(size);
        EXPECT_EQ(view.thumbnailSize(), std::clamp(size, 48, 256));
        EXPECT_LE(view.columns(), lastColumns);
        lastColumns = view.columns();
        EXPECT_EQ(view.itemRect(1).left() - view.itemRect(0).left(), view.itemRect(0).width());
        EXPECT_TRUE(view.viewport()->rect().contains(view.itemRect(5000)));
    }
    view.setThumbnailSize(48);
    const int small = view.columns();
    view.setThumbnailSize(256);
    EXPECT_GT(small, view.columns());
    EXPECT_GE(view.columns(), 1);
    EXPECT_EQ(view.itemRect(view.columns()).top(), view.itemRect(0).bottom() + 1);
}

TEST_F(ThumbnailViewTest, MouseChoosesActivatesAndAsksForMenus) {
    showPictures();
    std::vector<int> changed, activated, menus;
    view.currentChanged = [&](int i) { changed.push_back(i); };
    view.activated = [&](int i) { activated.push_back(i); };
    view.contextMenuRequested = [&](int i, QPoint) { menus.push_back(i); };

    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, view.itemRect(7).center());
    EXPECT_EQ(view.current(), 7);
    EXPECT_EQ(changed, std::vector<int>{7});
    QTest::mouseClick(view.viewport(), Qt::LeftButton, {}, view.itemRect(7).center());
    EXPECT_EQ(changed, std::vector<int>{7}) << "no change, no call";

    QTest::mouseDClick(view.viewport(), Qt::LeftButton, {}, view.itemRect(3).center());
    EXPECT_EQ(view.current(), 3);
    EXPECT_EQ(activated, std::vector<int>{3});

    // A right click chooses the item and asks for its menu there.
    const QPoint at = view.itemRect(12).center();
    QTest::mouseClick(view.viewport(), Qt::RightButton, {}, at);
    QContextMenuEvent click(QContextMenuEvent::Mouse, at, view.viewport()->mapToGlobal(at));
    QApplication::sendEvent(view.viewport(), &click);
    EXPECT_EQ(view.current(), 12);
    EXPECT_EQ(menus, std::vector<int>{12});

    QTest::keyClick(&view, Qt::Key_F10, Qt::ShiftModifier);
    QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, {}, {});
    QApplication::sendEvent(&view, &menuKey);
    EXPECT_EQ(menus, (std::vector<int>{12, 12, 12}));
    QTest::keyClick(&view, Qt::Key_Return);
    EXPECT_EQ(activated, (std::vector<int>{3, 12}));

    view.setCurrent(40);  // told by the window: no call back
    EXPECT_EQ(view.current(), 40);
    EXPECT_EQ(changed.back(), 12);
    view.setCurrent(kItems);
    EXPECT_EQ(view.current(), -1);
}

TEST_F(ThumbnailViewTest, KeysMoveTheCurrentItemAndKeepItInView) {
    showPictures();
    const int c = view.columns();
    const int rows = view.viewport()->height() / view.itemRect(0).height();
    struct Case {
        int from;
        Qt::Key key;
        int want;
    } const cases[] = {
        {-1, Qt::Key_Down, 0},  // nothing chosen: the first
        {10, Qt::Key_Right, 11},
        {10, Qt::Key_Left, 9},
        {0, Qt::Key_Left, 0},
        {10 + c, Qt::Key_Up, 10},
        {2, Qt::Key_Up, 2},
        {10, Qt::Key_Down, 10 + c},
        {kItems - 1, Qt::Key_Down, kItems - 1},
        {kItems - 1, Qt::Key_Right, kItems - 1},
        {10, Qt::Key_PageDown, 10 + c * rows},
        {10 + c * rows, Qt::Key_PageUp, 10},
        {1, Qt::Key_PageUp, 1},
        {kItems - 3, Qt::Key_PageDown, kItems - 1},
        {5000, Qt::Key_Home, 0},
        {5, Qt::Key_End, kItems - 1},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(std::to_string(k.from) + " key " + std::to_string(k.key));
        view.setCurrent(k.from);
        int told = -2;
        view.currentChanged = [&](int i) { told = i; };
        QTest::keyClick(&view, k.key);
        EXPECT_EQ(view.current(), k.want);
        EXPECT_EQ(told, k.want == k.from ? -2 : k.want);
        EXPECT_TRUE(view.viewport()->rect().contains(view.itemRect(k.want)));
    }
    // The thumbnails of where the keys went are made.
    ASSERT_TRUE(settle());
    expectAllShown();
}

}  // namespace
}  // namespace kerbilo::testing
