// The window wired to the real scanning and editing operations over in-memory files: the
// close question with a save that succeeds, is cancelled or fails, and a close that
// arrives during a scan.

#include <png.h>

#include <gtest/gtest.h>

#include <QtCore/QDir>
#include <QtCore/QMimeData>
#include <QtCore/QTemporaryDir>
#include <QtGui/QAction>
#include <QtGui/QClipboard>
#include <QtWidgets/QLabel>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QTableView>
#include <QtWidgets/QTreeView>
#include <algorithm>
#include <atomic>
#include <fstream>
#include <thread>

#include "../picture/test_images.h"
#include "app/commands.h"
#include "fake_ui.h"
#include "gui_helpers.h"
#include "memory_files.h"
#include "picture/picture_pane.h"
#include "runtime/gbk.h"
#include "ui/services/qt/preorder_tree_model.h"
#include "ui/services/qt/qt_text.h"
#include "ui/shell/about_window.h"
#include "ui/shell/assets.h"
#include "ui/shell/main_window.h"
#include "ui/shell/program.h"

namespace kerbilo::testing {
namespace {

// The default PNG kind's head and tail.
const std::string kPngHead("\x89PNG\r\n\x1a\n\0\0\0\x0d", 12);
const std::string kPngTail("\0\0\0\0IEND\xae\x42\x60\x82", 12);

// `count` tiny PNG-shaped runs: head, a byte, tail.
ByteBuffer pngRuns(int count) {
    std::string bytes = "lead";
    for (int i = 0; i < count; ++i) bytes.append(kPngHead).append("x").append(kPngTail);
    return ByteBuffer::fromText(bytes);
}

class Wired : public ::testing::Test {
  protected:
    void SetUp() override {
        files.directories.insert(fromQt(dir.path()));
        files.files["/prog/app.exe"] = pngRuns(3);
        program = std::make_unique<Program>(files);
        window = std::make_unique<MainWindow>(program->commands(), Program::renderers());
        program->attach(*window);
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        window->created();
    }
    void TearDown() override {
        window.reset();
        // Ending the program asked the application to quit; clear that for the next test.
        QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
        QCoreApplication::exec();
    }
    void dropAndWait(const Text& path) { window->openDropped({path}); }
    ProgramState& state() { return program->state(); }

    QTemporaryDir dir;
    MemoryFileServices files{"/prog"};
    std::unique_ptr<Program> program;
    std::unique_ptr<MainWindow> window;
};

TEST_F(Wired, CreationWritesTheKindsFileAndOpensAFile) {
    EXPECT_TRUE(files.files.count("/prog/resource.config"));
    EXPECT_TRUE(window->acceptDrops());
    EXPECT_EQ(state().saveDialog.initialFolder, "/prog");
    dropAndWait("/prog/app.exe");
    EXPECT_EQ(window->windowTitle(), "Kerbilo - /prog/app.exe");
    EXPECT_EQ(state().catalogue.size(), 3);
    EXPECT_EQ(window->ui().treeItemCount(), 4);
}

// A file read in steps: the window's events run between them, the bar shows the reading
// quarter moving, and the title changes only once the whole file is in.
TEST_F(Wired, EventsRunAndTheBarMovesWhileAFileIsRead) {
    files.readStep = std::size_t{1} << 20;
    files.files["/prog/big.bin"] =
        ByteBuffer(std::string(std::size_t{16} << 20, '\0').data(), std::size_t{16} << 20);
    window->ui().minDispatchIntervalMs = 0;
    std::vector<int> reading;  // bar values seen while the title was still the old one
    QTimer tick;
    tick.setInterval(0);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (window->progressBar()->isVisible() && window->windowTitle() == "Kerbilo")
            reading.push_back(window->progressBar()->value());
    });
    tick.start();
    dropAndWait("/prog/big.bin");
    tick.stop();
    EXPECT_EQ(window->windowTitle(), "Kerbilo - /prog/big.bin");
    const auto during =
        std::count_if(reading.begin(), reading.end(), [](int v) { return v > 0 && v < 250; });
    EXPECT_GE(during, 10) << "of " << reading.size() << " ticks";
    EXPECT_TRUE(std::is_sorted(reading.begin(), reading.end()));
    EXPECT_FALSE(window->progressBar()->isVisible());
}

struct CloseCase {
    const char* name;
    QMessageBox::StandardButton answer;  // NoButton: Escape
    enum { None, Saves, Cancels, Fails } save;
    bool closes;
};

TEST_F(Wired, CloseQuestionOnEveryPath) {
    const CloseCase cases[] = {
        {"yes, saved", QMessageBox::Yes, CloseCase::Saves, true},
        {"yes, save cancelled", QMessageBox::Yes, CloseCase::Cancels, false},
        {"yes, save failed", QMessageBox::Yes, CloseCase::Fails, false},
        {"no", QMessageBox::No, CloseCase::None, true},
        {"cancel", QMessageBox::Cancel, CloseCase::None, false},
        {"escape", QMessageBox::NoButton, CloseCase::None, false},
    };
    for (const CloseCase& c : cases) {
        SCOPED_TRACE(c.name);
        TearDown();
        SetUp();
        dropAndWait("/prog/app.exe");
        state().file.modified = true;
        window->ui().setMenuItemDisabled(MenuItem::Save, false);
        const Text target = fromQt(dir.filePath("saved.exe"));
        if (c.save == CloseCase::Fails) files.unwritable.insert(target);
        files.files.erase(target);
        QString question;
        whenModal<QMessageBox>([&](QMessageBox* box) {
            question = box->text();
            if (c.answer == QMessageBox::NoButton) return QTest::keyClick(box, Qt::Key_Escape);
            if (c.save != CloseCase::None)
                whenModal<QFileDialog>([&](QFileDialog* d) {
                    if (c.save == CloseCase::Cancels) return d->reject();
                    if (c.save == CloseCase::Fails)
                        whenModal<QMessageBox>([](QMessageBox* error) { error->accept(); });
                    fileNameEdit(d)->setText(toQt(target));
                    static_cast<QDialog*>(d)->accept();
                });
            pressButton(box, c.answer);
        });
        EXPECT_EQ(window->close(), c.closes);
        EXPECT_EQ(question, QString::fromUtf8("文件修改还没有保存,是否保存修改?"));
        EXPECT_EQ(files.files.count(target), c.save == CloseCase::Saves ? 1u : 0u);
        EXPECT_EQ(state().file.modified, c.save != CloseCase::Saves);
        if (!c.closes) {
            EXPECT_TRUE(window->action(MenuItem::Save)->isEnabled());
        }
        files.unwritable.clear();
    }
}

TEST_F(Wired, ExitAsksTheCloseQuestionWhenModified) {
    dropAndWait("/prog/app.exe");
    state().file.modified = true;
    QString question;
    whenModal<QMessageBox>([&](QMessageBox* box) {
        question = box->text();
        pressButton(box, QMessageBox::Cancel);
    });
    window->action(MenuItem::Exit)->trigger();
    EXPECT_EQ(question, QString::fromUtf8("文件修改还没有保存,是否保存修改?"));
    EXPECT_TRUE(window->isVisible());
    whenModal<QMessageBox>([&](QMessageBox* box) { pressButton(box, QMessageBox::No); });
    window->action(MenuItem::Exit)->trigger();
    EXPECT_FALSE(window->isVisible());
}

// The close button during an open cancels it, then closes: the scan does not run on.
TEST_F(Wired, CloseDuringAScanCancelsItThenCloses) {
    files.files["/prog/big.bin"] = pngRuns(5000);
    window->ui().minDispatchIntervalMs = 0;
    bool visibleInside = false, greyedInside = false, cancelShown = false;
    QTimer::singleShot(0, window.get(), [&] {
        greyedInside = !window->action(MenuItem::Open)->isEnabled();
        cancelShown = window->cancelButton()->isVisible();
        window->close();
        visibleInside = window->isVisible();
    });
    dropAndWait("/prog/big.bin");
    EXPECT_TRUE(greyedInside);
    EXPECT_TRUE(cancelShown);
    EXPECT_TRUE(visibleInside);
    EXPECT_EQ(window->ui().treeItemCount(), 1) << "the window as it started";
    EXPECT_EQ(state().catalogue.size(), 0);
    EXPECT_FALSE(window->isVisible()) << "then the deferred close was carried out";
}

// Esc during an open cancels it and nothing more: the previous file is shown as it was.
TEST_F(Wired, EscapeDuringAScanCancelsItAndKeepsTheWindow) {
    dropAndWait("/prog/app.exe");
    window->tree()->setCurrentIndex(
        window->tree()->model()->index(1, 0, window->tree()->model()->index(0, 0)));
    const ByteBuffer shown = window->pane()->data();
    files.files["/prog/big.bin"] = pngRuns(5000);
    window->ui().minDispatchIntervalMs = 0;
    QTimer::singleShot(0, window.get(), [&] { QTest::keyClick(window.get(), Qt::Key_Escape); });
    dropAndWait("/prog/big.bin");
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), "Kerbilo - /prog/app.exe");
    EXPECT_EQ(window->ui().treeItemCount(), 4);
    EXPECT_EQ(window->ui().selectedTreeItem(), 2);
    EXPECT_EQ(window->pane()->data(), shown);
    EXPECT_FALSE(window->cancelButton()->isVisible());
    EXPECT_EQ(state().catalogue.size(), 3);
}

TEST_F(Wired, RightClickOnAResourceExportsThatResource) {
    dropAndWait("/prog/app.exe");
    auto* tree = window->tree();
    tree->expandAll();
    const QModelIndex second = tree->model()->index(1, 0, tree->model()->index(0, 0));
    const Text target = fromQt(dir.filePath("one.png"));
    whenPopUp([&](QMenu* m) {
        whenModal<QFileDialog>([&](QFileDialog* d) {
            fileNameEdit(d)->setText(toQt(target));
            static_cast<QDialog*>(d)->accept();
        });
        choose(m, QString::fromUtf8("导出资源"));
    });
    QTest::mousePress(tree->viewport(), Qt::RightButton, {}, tree->visualRect(second).center());
    ASSERT_TRUE(files.files.count(target));
    EXPECT_EQ(files.files[target], state().catalogue.data(2));
    EXPECT_EQ(window->pane()->data(), state().catalogue.data(2));
}

}  // namespace
}  // namespace kerbilo::testing

namespace kerbilo::testing {
namespace {

// Both panes through the picture library: the logo centred, the About picture stretched.
TEST(WiredPanes, LogoAndAboutPictureAreDrawn) {
    PictureWidget logo(Program::renderers()(PictureFit::CentreShrink));
    logo.resize(464, 312);
    logo.setData(logoPicture());
    ASSERT_TRUE(waitUntil([&] { return logo.pictureReady(); }));
    const QImage shown = logo.composed();
    EXPECT_EQ(shown.pixelColor(0, 0), logo.palette().window().color()) << "centred, not stretched";
    EXPECT_NE(shown.pixelColor(232, 156), logo.palette().window().color());

    AboutWindow about(nullptr, Program::renderers());
    ASSERT_TRUE(waitUntil([&] { return about.picture()->pictureReady(); }));
    const QImage picture = about.picture()->composed();
    ASSERT_EQ(picture.size(), QSize(128, 128));
    EXPECT_NE(picture.pixelColor(1, 1), about.palette().window().color()) << "stretched";
}

// What the pane showed at each of its paints, read at its centre.
class PaintLog final : public QObject {
  public:
    explicit PaintLog(PictureWidget& pane) : pane_(pane) { pane.installEventFilter(this); }
    std::vector<QColor> centres;

  protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            centres.push_back(pane_.composed().pixelColor(pane_.width() / 2, pane_.height() / 2));
        return false;
    }

  private:
    PictureWidget& pane_;
};

ByteBuffer solidJpeg(int width, int height, Pixel colour) {
    Image image{width, height, ImageKind::Colour,
                std::vector<Pixel>(static_cast<std::size_t>(width) * height, colour)};
    return toBuffer(makeJpeg(image, JpegKind::Colour));
}

bool near(QColor a, QColor b) {
    return std::abs(a.red() - b.red()) <= 3 && std::abs(a.green() - b.green()) <= 3 &&
           std::abs(a.blue() - b.blue()) <= 3;
}

// A big picture is chosen, then a small one before the big one is decoded: choosing returns
// at once, the pane shows its background meanwhile, then the small one, never the big one.
TEST(WiredPanes, ANewerSelectionSupersedesADecodeInProgress) {
    PictureWidget pane(Program::renderers()(PictureFit::CentreShrink));
    pane.resize(464, 312);
    pane.show();
    PaintLog log(pane);
    const QColor background = pane.palette().window().color();
    const ByteBuffer big = solidJpeg(3000, 3000, makePixel(0, 200, 0));
    const ByteBuffer red = toBuffer(
        makePng(Image{2, 2, ImageKind::Colour, std::vector<Pixel>(4, makePixel(255, 0, 0))},
                PNG_FORMAT_RGBA));

    pane.setData(big);
    EXPECT_FALSE(pane.pictureReady()) << "decoded before setData returned";
    EXPECT_EQ(pane.composed().pixelColor(232, 156), background);
    pane.setData(red);
    ASSERT_TRUE(waitUntil([&] { return pane.pictureReady(); }));
    QTest::qWait(300);  // what the big decode would have taken, and its paint
    EXPECT_EQ(pane.composed().pixelColor(232, 156), QColor(255, 0, 0));
    ASSERT_FALSE(log.centres.empty());
    EXPECT_EQ(log.centres.back(), QColor(255, 0, 0));
    for (const QColor& c : log.centres) EXPECT_FALSE(near(c, QColor(0, 200, 0))) << "big shown";
}

// Painting a shown picture again paints the buffer composed for it, not a new scale of it.
TEST(WiredPanes, RepaintUsesThePaneComposedOnce) {
    PictureWidget pane(Program::renderers()(PictureFit::CentreShrink));
    pane.resize(464, 312);
    const ByteBuffer photo = toBuffer(makeJpeg(patternImage(1200, 900), JpegKind::Colour));
    pane.setData(photo);
    ASSERT_TRUE(waitUntil([&] { return pane.pictureReady(); }));
    const QImage first = pane.composed();
    const QImage again = pane.composed();
    EXPECT_EQ(again.constBits(), first.constBits()) << "composed again";
    // The library's background, the one kerbilo-cli render draws by default.
    EXPECT_EQ(pane.palette().window().color(), QColor(0xF0, 0xF0, 0xF0));
    const Image want = renderPane(photo, PaneSettings{}, 464, 312);
    for (int y = 0; y < 312; y += 13)
        for (int x = 0; x < 464; x += 11)
            ASSERT_EQ(first.pixel(x, y), want.at(x, y)) << x << "," << y;
}

}  // namespace
}  // namespace kerbilo::testing

namespace kerbilo::testing {
namespace {

TEST(QtTexts, DialogsReadChinese) {
    ASSERT_TRUE(installChineseQtTexts()) << "qtbase_zh_CN.qm missing (qt6-translations-l10n)";
    QFileDialog open(nullptr);
    open.setOption(QFileDialog::DontUseNativeDialog);
    open.setAcceptMode(QFileDialog::AcceptOpen);
    EXPECT_EQ(open.windowTitle(), QString::fromUtf8("打开"));
    QMessageBox box;
    box.setStandardButtons(QMessageBox::Save);
    EXPECT_EQ(box.button(QMessageBox::Save)->text(), QString::fromUtf8("保存"));
}

// Whatever the system's locale, the dialogs' sizes and dates are written as Chinese writes
// them (an English "277 bytes" was cut short where "277 字节" fits).
TEST(QtTexts, SizesAndDatesFollowTheChineseTexts) {
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    installChineseQtTexts();
    EXPECT_EQ(QLocale().language(), QLocale::Chinese);
    EXPECT_EQ(QLocale().formattedDataSize(277), QString::fromUtf8("277 字节"));
    QFileDialog open(nullptr);
    EXPECT_EQ(open.locale().language(), QLocale::Chinese);
    QLocale::setDefault(before);
}

// Every message the file dialogs can show reads Chinese: a missing file, a path in a missing
// folder, a file that would be overwritten.
TEST(QtTexts, FileDialogMessagesReadChinese) {
    ASSERT_TRUE(installChineseQtTexts());
    QTemporaryDir dir;
    std::ofstream(dir.filePath("there.bin").toStdString()) << "x";
    MainWindow window{ShellCommands{}};
    struct Case {
        FileDialogMode mode;
        QString typed;
        const char* says;
    } cases[] = {
        {FileDialogMode::Open, dir.filePath("missing.bin"), "文件未找到"},
        {FileDialogMode::Open, dir.filePath("no/such/x.bin"), "目录未找到"},
        {FileDialogMode::Save, dir.filePath("no/such/x.bin"), "目录未找到"},
        {FileDialogMode::Save, dir.filePath("there.bin"), "已存在"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed.toStdString());
        FileDialogSettings s;
        s.mode = c.mode;
        s.initialFolder = fromQt(dir.path());
        QString message;
        whenModal<QFileDialog>([&](QFileDialog* d) {
            whenModal<QMessageBox>([&, d](QMessageBox* box) {
                message = box->text();
                box->reject();
                QTimer::singleShot(0, d, &QDialog::reject);
            });
            fileNameEdit(d)->setText(c.typed);
            static_cast<QDialog*>(d)->accept();
        });
        EXPECT_FALSE(window.ui().showFileDialog(s));
        EXPECT_TRUE(message.contains(QString::fromUtf8(c.says))) << message.toStdString();
    }
}

// A renderer whose worker announces frames from its own thread, as a GIF's does.
class ThreadedRenderer final : public PictureRenderer {
  public:
    explicit ThreadedRenderer(std::atomic<int>& composes) : composes_(composes) {}
    ~ThreadedRenderer() override {
        if (worker_.joinable()) worker_.join();
    }
    void setData(const ByteBuffer&) override {
        worker_ = std::thread([this] {
            for (int i = 0; i < 3; ++i) frameReady();
        });
    }
    QImage compose(QSize size, QColor) override {
        ++composes_;
        return QImage(size, QImage::Format_ARGB32);
    }

  private:
    std::atomic<int>& composes_;
    std::thread worker_;
};

TEST(WiredPanes, FramesFromAWorkerArePaintedOnTheGuiThread) {
    std::atomic<int> composes{0};
    PictureWidget pane(std::make_unique<ThreadedRenderer>(composes));
    pane.resize(50, 50);
    pane.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&pane));
    QCoreApplication::processEvents();
    const int before = composes;
    pane.setData(ByteBuffer::fromText("GIF89a"));
    EXPECT_TRUE(waitUntil([&] { return composes > before; }));
}

}  // namespace
}  // namespace kerbilo::testing

namespace kerbilo::testing {
namespace {

QString cell(MainWindow& w, int row, TableColumn column) {
    return w.tableModel()
        ->data(w.tableModel()->index(row, static_cast<int>(column)), Qt::DisplayRole)
        .toString();
}

// Real pictures of different sizes between filler bytes, found by the default kinds.
ByteBuffer picturesFile() {
    std::string bytes = "lead";
    for (const int side : {40, 8, 20}) {
        const ByteVector png = makePng(
            Image{
                side, side, ImageKind::Colour,
                std::vector<Pixel>(static_cast<std::size_t>(side * side), makePixel(51, 102, 153))},
            PNG_FORMAT_RGBA);
        bytes.append(reinterpret_cast<const char*>(png.data()), png.size()).append("filler");
    }
    return ByteBuffer::fromText(bytes);
}

class Details : public Wired {};

// The table shows every resource at once, fills in what inspection tells as the rows are
// looked at, sorts by any column, and selects in the tree what is selected in it, so that
// the commands act on it.
TEST_F(Details, RowsFillInSortAndFollowTheSelection) {
    files.files["/prog/pictures.bin"] = picturesFile();
    dropAndWait("/prog/pictures.bin");
    ASSERT_EQ(state().catalogue.size(), 3);
    window->resize(1000, 600);
    window->showView(MainWindow::View::Details);
    ASSERT_TRUE(window->table()->isVisible());
    EXPECT_FALSE(window->tree()->isVisible());
    MainWindow& w = *window;
    ASSERT_EQ(w.tableModel()->rowCount(), 3);
    EXPECT_EQ(cell(w, 0, TableColumn::Number), "1");
    EXPECT_EQ(cell(w, 0, TableColumn::Kind), "PNG");
    EXPECT_EQ(cell(w, 0, TableColumn::Offset), "00000004");
    // Inspection is asked for by the view's asking for the cells.
    QTRY_COMPARE_WITH_TIMEOUT(cell(w, 0, TableColumn::Format), QString("PNG"), 5000);
    EXPECT_EQ(cell(w, 0, TableColumn::Dimensions), QString::fromUtf8("40×40"));
    QTRY_COMPARE_WITH_TIMEOUT(cell(w, 1, TableColumn::Dimensions), QString::fromUtf8("8×8"), 5000);
    EXPECT_EQ(cell(w, 0, TableColumn::Verdict), QString::fromUtf8("完整"));

    // Sorted by size, smallest first: the 8-pixel picture, then 20, then 40.
    w.table()->sortByColumn(static_cast<int>(TableColumn::Dimensions), Qt::AscendingOrder);
    QTRY_VERIFY_WITH_TIMEOUT(w.tableModel()->idle(), 5000);
    EXPECT_EQ(cell(w, 0, TableColumn::Number), "2");
    EXPECT_EQ(cell(w, 1, TableColumn::Number), "3");
    EXPECT_EQ(cell(w, 2, TableColumn::Number), "1");
    w.table()->sortByColumn(static_cast<int>(TableColumn::Size), Qt::DescendingOrder);
    EXPECT_EQ(cell(w, 0, TableColumn::Number), "1");

    // A row chosen in the table is the tree's selection and the pane's picture.
    w.table()->setCurrentIndex(w.tableModel()->index(2, 0));
    const int n = w.tableModel()->resourceAt(2);
    EXPECT_EQ(resourceOfItem(state(), w.ui().selectedTreeItem()), n);
    EXPECT_EQ(w.pane()->data(), state().catalogue.data(n));
    QTRY_VERIFY_WITH_TIMEOUT(!w.selectionInfo()->text().isEmpty(), 5000);
    EXPECT_TRUE(w.selectionInfo()->text().startsWith(QString::fromUtf8("PNG 图片 8×8")))
        << w.selectionInfo()->text().toStdString();

    // Back in the tree, the same resource is selected; another file starts the table over.
    w.showView(MainWindow::View::Tree);
    EXPECT_TRUE(w.tree()->isVisible());
    EXPECT_EQ(resourceOfItem(state(), w.ui().selectedTreeItem()), n);
    dropAndWait("/prog/app.exe");
    EXPECT_EQ(w.tableModel()->rowCount(), 3);
    EXPECT_EQ(cell(w, 0, TableColumn::Dimensions), "");
}

}  // namespace
}  // namespace kerbilo::testing

namespace kerbilo::testing {
namespace {

class Bytes : public Wired {};

std::string realPng() {
    const ByteVector png =
        makePng(Image{2, 2, ImageKind::Colour, std::vector<Pixel>(4, makePixel(255, 0, 0))},
                PNG_FORMAT_RGBA);
    return std::string(reinterpret_cast<const char*>(png.data()), png.size());
}

int itemOf(UiServices& ui, int n) {
    for (int item = 0; item < ui.treeItemCount(); ++item)
        if (ui.treeItemParent(item) >= 0 && ui.treeItemData(item) == n) return item;
    return -1;
}

// A resource that is no picture shows its bytes; 查看 > 显示字节 shows any resource's.
TEST_F(Bytes, PaneShowsBytesOfWhatIsNoPictureAndOfAnyOnRequest) {
    // The default kinds: a real PNG (resource 1), and after it GIF-shaped bytes that are no
    // picture (resource 2).
    files.files["/prog/mixed.bin"] =
        ByteBuffer::fromText(std::string(40, '.') + realPng() + std::string("GIF8 bytes!\0;", 13));
    dropAndWait("/prog/mixed.bin");
    ASSERT_EQ(state().catalogue.size(), 2);
    MainWindow& w = *window;
    EXPECT_TRUE(w.pane()->isVisible()) << "the logo, before anything is selected";
    EXPECT_FALSE(w.hexView()->isVisible());

    w.ui().selectTreeItem(itemOf(w.ui(), 2));
    ASSERT_TRUE(w.hexView()->isVisible());
    EXPECT_FALSE(w.pane()->isVisible());
    EXPECT_EQ(w.hexView()->rowCount(), 1);  // 13 bytes
    EXPECT_EQ(w.hexView()->geometry(), w.pane()->geometry());

    w.ui().selectTreeItem(itemOf(w.ui(), 1));
    EXPECT_TRUE(w.pane()->isVisible()) << "a picture shows as a picture";
    w.showBytes(true);
    EXPECT_TRUE(w.hexView()->isVisible());
    EXPECT_EQ(w.hexView()->rowCount(), (state().catalogue.dataLength(1) + 15) / 16);
    w.showBytes(false);
    EXPECT_TRUE(w.pane()->isVisible());
}

}  // namespace
}  // namespace kerbilo::testing

namespace kerbilo::testing {
namespace {

class Filter : public Wired {};

bool rowShown(MainWindow& w, int item) {
    auto* model = static_cast<PreorderTreeModel*>(w.tree()->model());
    const QModelIndex at = model->modelIndex(item);
    return !w.tree()->isRowHidden(at.row(), at.parent());
}

// Ctrl+F opens the box; its words narrow the table and the tree alike; Esc empties and
// hides it without closing the window.
TEST_F(Filter, BoxNarrowsTheTableAndTheTree) {
    // Three PNG-shaped runs (resources 1-3) and a GIF-shaped one (4).
    files.files["/prog/mixed.bin"] =
        ByteBuffer::fromText(std::string(pngRuns(3).view()) + std::string("GIF8xyz\0;", 9));
    dropAndWait("/prog/mixed.bin");
    ASSERT_EQ(state().catalogue.size(), 4);
    MainWindow& w = *window;
    QTest::keyClick(&w, Qt::Key_F, Qt::ControlModifier);
    ASSERT_TRUE(w.filterBox()->isVisible());
    EXPECT_TRUE(w.filterBox()->hasFocus());
    EXPECT_EQ(w.tree()->geometry().top(), w.filterBox()->geometry().bottom() + 3);

    QTest::keyClicks(w.filterBox(), "gif");
    EXPECT_EQ(w.tableModel()->rowCount(), 1);
    EXPECT_EQ(w.tableModel()->resourceAt(0), 4);
    int shownResources = 0;
    for (int item = 0; item < w.ui().treeItemCount(); ++item)
        if (w.ui().treeItemParent(item) >= 0 && rowShown(w, item)) ++shownResources;
    EXPECT_EQ(shownResources, 1);

    w.filterBox()->setText(">1000000");
    EXPECT_EQ(w.tableModel()->rowCount(), 0);

    QTest::keyClick(w.filterBox(), Qt::Key_Escape);
    EXPECT_TRUE(w.isVisible()) << "Esc in the box does not close the window";
    EXPECT_FALSE(w.filterBox()->isVisible());
    EXPECT_EQ(w.tableModel()->rowCount(), 4);
    for (int item = 0; item < w.ui().treeItemCount(); ++item) EXPECT_TRUE(rowShown(w, item));
    EXPECT_EQ(w.tree()->geometry().top(), 3);
}

}  // namespace
}  // namespace kerbilo::testing

namespace kerbilo::testing {
namespace {

class DragAndCopy : public Wired {};

// A row dragged out carries the file export all would write (same bytes, same name), and
// Ctrl+C puts the selected picture on the clipboard.
TEST_F(DragAndCopy, DragCarriesTheExportedFileAndCopyThePicture) {
    const ByteVector png =
        makePng(Image{3, 2, ImageKind::Colour, std::vector<Pixel>(6, makePixel(10, 200, 30))},
                PNG_FORMAT_RGBA);
    files.files["/prog/one.bin"] = ByteBuffer::fromText(
        "lead" + std::string(reinterpret_cast<const char*>(png.data()), png.size()));
    dropAndWait("/prog/one.bin");
    ASSERT_EQ(state().catalogue.size(), 1);
    MainWindow& w = *window;

    files.directories.insert(fromQt(w.dragFolder()));
    w.showView(MainWindow::View::Details);
    const QModelIndex row = w.tableModel()->index(0, 0);
    ASSERT_TRUE(w.tableModel()->flags(row) & Qt::ItemIsDragEnabled);
    std::unique_ptr<QMimeData> dragged(w.tableModel()->mimeData({row}));
    ASSERT_NE(dragged, nullptr);
    ASSERT_EQ(dragged->urls().size(), 1);
    const Text path = fromQt(dragged->urls().front().toLocalFile());
    // Named as export all names it: the tree's label and the kind's suffix.
    EXPECT_TRUE(path.ends_with("/" + resourceLabel(state().catalogue, 1) + ".png")) << path;
    ASSERT_TRUE(files.files.count(path));
    EXPECT_EQ(files.files.at(path), state().catalogue.data(1));

    // The tree's group is not dragged; its resource is, to a folder of its own.
    auto* tree = static_cast<PreorderTreeModel*>(w.tree()->model());
    EXPECT_FALSE(tree->flags(tree->modelIndex(0)) & Qt::ItemIsDragEnabled);
    std::unique_ptr<QMimeData> fromTree(tree->mimeData({tree->modelIndex(1)}));
    ASSERT_NE(fromTree, nullptr);
    EXPECT_NE(fromTree->urls().front(), dragged->urls().front());

    w.table()->setCurrentIndex(row);
    ASSERT_TRUE(w.copySelectedPicture());
    const QImage copied = QGuiApplication::clipboard()->image();
    ASSERT_EQ(copied.size(), QSize(3, 2));
    EXPECT_EQ(copied.pixel(2, 1), qRgba(10, 200, 30, 255));
}

}  // namespace
}  // namespace kerbilo::testing

namespace kerbilo::testing {
namespace {

class Thumbnails : public Wired {};

// The thumbnails are the table's rows that hold pictures, filtered alike; a click selects
// the resource in every view.
TEST_F(Thumbnails, PicturesOnlyFollowTheFilterAndSelectEverywhere) {
    files.files["/prog/pictures.bin"] = ByteBuffer::fromText(
        std::string(picturesFile().view()) + std::string("GIF8 not a picture\0;", 20));
    dropAndWait("/prog/pictures.bin");
    ASSERT_EQ(state().catalogue.size(), 4);
    MainWindow& w = *window;
    w.resize(900, 600);
    w.showView(MainWindow::View::Thumbnails);
    ASSERT_TRUE(w.thumbnails()->isVisible());
    EXPECT_FALSE(w.tree()->isVisible());
    EXPECT_EQ(w.thumbnailResources(), (std::vector<int>{1, 2, 3}))
        << "the GIF-shaped junk is left out";
    QTRY_VERIFY_WITH_TIMEOUT(w.thumbnails()->idle(), 5000);
    EXPECT_EQ(w.thumbnails()->stateOf(0), ThumbnailView::State::Ready);

    QTest::mouseClick(w.thumbnails()->viewport(), Qt::LeftButton, {},
                      w.thumbnails()->itemRect(2).center());
    EXPECT_EQ(resourceOfItem(state(), w.ui().selectedTreeItem()), 3);
    EXPECT_EQ(w.pane()->data(), state().catalogue.data(3));
    w.showView(MainWindow::View::Details);
    EXPECT_EQ(w.tableModel()->resourceAt(w.table()->currentIndex().row()), 3);

    w.showView(MainWindow::View::Thumbnails);
    // A thumbnail dragged out carries its resource's file, as a row of the table does.
    files.directories.insert(fromQt(w.dragFolder()));
    std::unique_ptr<QMimeData> dragged(w.thumbnails()->dragData(1));
    ASSERT_NE(dragged, nullptr);
    EXPECT_EQ(files.files.at(fromQt(dragged->urls().front().toLocalFile())),
              state().catalogue.data(2));

    w.showFilter();
    w.filterBox()->setText(">1000000");
    EXPECT_TRUE(w.thumbnailResources().empty());
}

}  // namespace
}  // namespace kerbilo::testing
