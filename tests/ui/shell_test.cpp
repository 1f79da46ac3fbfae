// The main window and the About window, driven offscreen with stand-in commands that log
// what reaches them.

#include <gtest/gtest.h>

#include <QtCore/QMimeData>
#include <QtCore/QUrl>
#include <QtGui/QAction>
#include <QtGui/QHelpEvent>
#include <QtGui/QScreen>
#include <QtGui/QTextDocumentFragment>
#include <QtWidgets/QGroupBox>
#include <QtWidgets/QLabel>
#include <QtWidgets/QMenu>
#include <QtWidgets/QMenuBar>
#include <QtWidgets/QProgressBar>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QScrollBar>
#include <QtWidgets/QStatusBar>
#include <QtWidgets/QStyle>
#include <QtWidgets/QToolTip>
#include <QtWidgets/QTreeView>
#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "gui_helpers.h"
#include "runtime/gbk.h"
#include "ui/services/qt/preorder_tree_model.h"
#include "ui/services/qt/qt_text.h"
#include "ui/shell/about_window.h"
#include "ui/shell/assets.h"
#include "ui/shell/main_window.h"

namespace kerbilo::testing {
namespace {

QString u(const char* utf8) {
    return QString::fromUtf8(utf8);
}

std::string itemName(MenuItem item) {
    switch (item) {
        case MenuItem::Open:
            return "open";
        case MenuItem::SetOutputFolder:
            return "output folder";
        case MenuItem::Save:
            return "save";
        case MenuItem::ReplaceResource:
            return "replace";
        case MenuItem::ExportResource:
            return "export";
        case MenuItem::ExportAllResources:
            return "export all";
        default:
            return "other";
    }
}

class Shell : public ::testing::Test {
  protected:
    void SetUp() override {
        ShellCommands c;
        c.menuCommand = [this](MenuItem item) {
            if (onCommand) return onCommand(item);
            log.push_back(itemName(item));
        };
        c.filesDropped = [this](const std::vector<Text>& paths) {
            std::string said = "drop";
            for (const Text& p : paths) said += " " + p;
            log.push_back(said);
        };
        c.windowCreated = [this] { log.push_back("created"); };
        c.requestClose = [this] {
            log.push_back("close?");
            return closeAnswer;
        };
        c.cancellable = [this] { return cancellable; };
        c.cancel = [this] { log.push_back("cancel"); };
        c.busy = [this] { return busy; };
        c.progress = [this] { return progress; };
        c.recentFiles = [this] { return recent; };
        c.openPath = [this](const Text& path) { log.push_back("open " + path); };
        c.storedLayout = [this] { return stored; };
        c.storeLayout = [this](const WindowLayout& l) {
            log.push_back("store " + std::to_string(l.width) + "x" + std::to_string(l.height) +
                          " tree " + std::to_string(l.treeWidth));
        };
        if (beforeWindow) beforeWindow();
        window = std::make_unique<MainWindow>(std::move(c));
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    }
    void TearDown() override {
        window.reset();
        QCoreApplication::processEvents();
    }
    UiServices& ui() { return window->ui(); }
    Text selected() { return std::to_string(ui().selectedTreeItem()); }

    std::unique_ptr<MainWindow> window;
    std::vector<std::string> log;
    std::function<void(MenuItem)> onCommand;
    CloseDecision closeAnswer = CloseDecision::Close;
    bool cancellable = false;
    bool busy = false;
    double progress = -1;
    std::vector<Text> recent;
    std::optional<WindowLayout> stored;
    std::function<void()> beforeWindow;
};

TEST_F(Shell, StartsWithItsInitialContent) {
    EXPECT_EQ(window->windowTitle(), "Kerbilo");
    ASSERT_EQ(ui().treeItemCount(), 1);
    EXPECT_EQ(ui().treeItemText(0), utf8ToGbk("文件资源列表"));
    EXPECT_EQ(window->group()->title(), u("资源浏览"));
    EXPECT_EQ(window->statusBar()->findChild<QLabel*>()->text(), u("欢迎使用Kerbilo 1.2版"));
    EXPECT_FALSE(window->action(MenuItem::Save)->isEnabled());
    for (MenuItem item :
         {MenuItem::Open, MenuItem::SetOutputFolder, MenuItem::Exit, MenuItem::ReplaceResource,
          MenuItem::ExportResource, MenuItem::ExportAllResources, MenuItem::About})
        EXPECT_TRUE(window->action(item)->isEnabled()) << static_cast<int>(item);
    // Nothing to update: the item is there, greyed out.
    EXPECT_FALSE(window->action(MenuItem::UpdateLibraries)->isEnabled());
    EXPECT_EQ(window->pane()->data(), logoPicture());
    EXPECT_FALSE(window->progressBar()->isVisible());
}

TEST_F(Shell, LogoAndAboutPictureHaveTheirFormats) {
    const ByteBuffer logo = logoPicture();
    ASSERT_EQ(logo.size(), 109454u);
    EXPECT_EQ(logo.view().substr(1, 3), "PNG");
    EXPECT_EQ(logo.view().substr(12, 4), "IHDR");
    EXPECT_EQ((logo[16] << 24 | logo[17] << 16 | logo[18] << 8 | logo[19]), 300);
    EXPECT_EQ((logo[20] << 24 | logo[21] << 16 | logo[22] << 8 | logo[23]), 300);
    EXPECT_EQ(logo[24], 8) << "bit depth";
    EXPECT_EQ(logo[25], 6) << "colour type: RGB with alpha";

    const ByteBuffer about = aboutPicture();
    ASSERT_EQ(about.size(), 9727u);
    EXPECT_EQ(about.view().substr(6, 5), std::string_view("JFIF\0", 5));
    const QImage image = QImage::fromData(about.data(), static_cast<int>(about.size()));
    EXPECT_EQ(image.size(), QSize(238, 238));
    EXPECT_FALSE(QImage::fromData(logo.data(), static_cast<int>(logo.size())).isNull());
}

TEST_F(Shell, FirstLayoutIsTheClassicOne) {
    const QWidget* client = window->centralWidget();
    EXPECT_EQ(client->size(), QSize(583, 379));
    EXPECT_EQ(client->geometry().top(), window->menuBar()->geometry().bottom() + 1);
    EXPECT_EQ(window->tree()->geometry(), QRect(1, 3, 103, 337));
    EXPECT_EQ(window->group()->geometry(), QRect(112, 4, 470, 336));
    EXPECT_EQ(window->pane()->geometry(), QRect(3, 20, 464, 312));
    EXPECT_EQ(window->statusBar()->geometry(), QRect(0, 359, 583, 20));
    EXPECT_LT(window->minimumSize().width(), window->maximumSize().width()) << "resizable";
    EXPECT_TRUE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(window->windowFlags() & Qt::WindowMinimizeButtonHint);
    // Centred up to the frame, whose size only the window manager knows.
    const QPoint screenCentre = window->screen()->availableGeometry().center();
    EXPECT_LE((window->geometry().center() - screenCentre).manhattanLength(), 10);
}

TEST_F(Shell, MenusHoldTheirItemsInOrder) {
    QStringList got;
    for (QAction* menu : window->menuBar()->actions()) {
        got << "[" + menu->text() + "]";
        for (QAction* a : menu->menu()->actions())
            got << (a->isSeparator() ? QString("-") : a->text() + " " + a->shortcut().toString());
    }
    const QStringList want = {u("[文件]"),
                              u("打开 Ctrl+O"),
                              u("最近打开的文件 "),
                              "-",
                              u("设置输出文件夹 F7"),
                              u("结构扫描(程序中的图标、光标和位图) "),
                              u("保存文件 Ctrl+S"),
                              "-",
                              u("退出 "),
                              u("[编辑]"),
                              u("替换资源 Ctrl+R"),
                              u("导出资源 Ctrl+E"),
                              u("导出全部资源 Ctrl+Shift+E"),
                              u("[查看]"),
                              u("资源树 Ctrl+1"),
                              u("详细列表 Ctrl+2"),
                              u("缩略图 Ctrl+3"),
                              u("缩略图大小 "),
                              "-",
                              u("显示字节 Ctrl+B"),
                              u("筛选 Ctrl+F"),
                              u("只显示完整的图片 Ctrl+Shift+F"),
                              "-",
                              u("原样显示 Ctrl+0"),
                              u("适合窗格 Ctrl+9"),
                              u("实际大小 Ctrl+8"),
                              u("缩放 "),
                              u("放大 Ctrl+="),
                              u("缩小 Ctrl+-"),
                              u("透明处显示棋盘格 "),
                              u("[帮助]"),
                              u("关于 F1"),
                              u("更新支持库 F5")};
    EXPECT_EQ(got, want);
}

// Resizing moves the status bar down and gives the pane the room; the splitter's handle
// moves the pane's edge; the tree keeps its width as the window grows.
TEST_F(Shell, TreeAndPaneFollowTheWindowAndTheSplitter) {
    const int menu = window->menuBar()->height();
    window->resize(1200, 780 + menu);
    QCoreApplication::processEvents();
    const QWidget* client = window->centralWidget();
    ASSERT_EQ(client->size(), QSize(1200, 780));
    EXPECT_EQ(window->tree()->geometry(), QRect(1, 3, 103, 738));
    EXPECT_EQ(window->group()->geometry(), QRect(112, 4, 1087, 737));
    EXPECT_EQ(window->pane()->geometry(), QRect(3, 20, 1081, 713));
    EXPECT_EQ(window->statusBar()->geometry(), QRect(0, 760, 1200, 20));

    // Drag the handle in the gap between the tree and the frame 100 pixels right.
    QWidget* handle = client->childAt(107, 100);
    ASSERT_NE(handle, nullptr);
    ASSERT_NE(handle, window->tree());
    QTest::mousePress(handle, Qt::LeftButton, {}, QPoint(4, 10));
    QMouseEvent move(QEvent::MouseMove, QPointF(104, 10), handle->mapToGlobal(QPointF(104, 10)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(handle, &move);
    QTest::mouseRelease(handle, Qt::LeftButton, {}, QPoint(104, 10));
    EXPECT_EQ(window->tree()->width(), 203);
    EXPECT_EQ(window->group()->x(), 212);
    EXPECT_EQ(window->group()->geometry().right(), 1198);

    // Shrunk, the pane keeps room of its own: the tree gives way.
    window->resize(window->minimumSize());
    QCoreApplication::processEvents();
    EXPECT_GE(window->group()->width(), 150);
    EXPECT_GE(window->tree()->width(), 40);
}

// What was changed is stored when the window closes, and only then.
TEST_F(Shell, LayoutIsStoredWhenChanged) {
    window->close();
    EXPECT_EQ(std::count_if(log.begin(), log.end(),
                            [](const std::string& s) { return s.rfind("store", 0) == 0; }),
              0)
        << "closing as it came up stores nothing";
}

TEST_F(Shell, ResizedLayoutIsStoredOnClose) {
    const int menu = window->menuBar()->height();
    window->resize(900, 600 + menu);
    QCoreApplication::processEvents();
    window->close();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "store 900x" + std::to_string(600 + menu) + " tree 103");
}

class StoredLayout : public Shell {
  protected:
    void SetUp() override {
        beforeWindow = [this] { stored = WindowLayout{800, 500, 250, false}; };
        Shell::SetUp();
    }
};

TEST_F(StoredLayout, WindowComesUpAsItWasLeft) {
    EXPECT_EQ(window->size(), QSize(800, 500));
    EXPECT_EQ(window->tree()->width(), 250);
    window->close();
    EXPECT_TRUE(std::none_of(log.begin(), log.end(),
                             [](const std::string& s) { return s.rfind("store", 0) == 0; }));
}

// The recent files are read when the File menu opens; one of them opens as File > Open does.
TEST_F(Shell, RecentFilesMenuOpensTheChosenFile) {
    QMenu* file = window->menu(Menu::File);
    QMenu* recentMenu = nullptr;
    for (QAction* a : file->actions())
        if (a->menu()) recentMenu = a->menu();
    ASSERT_NE(recentMenu, nullptr);
    QMetaObject::invokeMethod(file, "aboutToShow");
    EXPECT_FALSE(recentMenu->isEnabled()) << "none yet";

    recent = {utf8ToGbk("/data/游戏.pak"), "/tmp/a&b.exe"};
    QMetaObject::invokeMethod(file, "aboutToShow");
    ASSERT_TRUE(recentMenu->isEnabled());
    ASSERT_EQ(recentMenu->actions().size(), 2);
    EXPECT_EQ(recentMenu->actions()[0]->text(), u("&1 /data/游戏.pak"));
    EXPECT_EQ(recentMenu->actions()[1]->text(), u("&2 /tmp/a&&b.exe"));
    recentMenu->actions()[1]->trigger();
    EXPECT_EQ(log.back(), "open /tmp/a&b.exe");

    busy = true;  // refused while a loop runs
    recentMenu->actions()[0]->trigger();
    EXPECT_EQ(log.back(), "open /tmp/a&b.exe");
}

struct Route {
    MenuItem item;
    QKeySequence key;  // empty: menu only
    const char* logged;
};

TEST_F(Shell, ItemsAndShortcutsReachTheirOperations) {
    window->action(MenuItem::Save)->setEnabled(true);
    const Route routes[] = {
        {MenuItem::Open, QKeySequence(Qt::CTRL | Qt::Key_O), "open"},
        {MenuItem::SetOutputFolder, QKeySequence(Qt::Key_F7), "output folder"},
        {MenuItem::Save, QKeySequence(Qt::CTRL | Qt::Key_S), "save"},
        {MenuItem::ReplaceResource, {}, "replace"},
        {MenuItem::ExportResource, {}, "export"},
        {MenuItem::ExportAllResources, {}, "export all"},
    };
    for (const Route& r : routes) {
        SCOPED_TRACE(r.logged);
        log.clear();
        window->action(r.item)->trigger();
        EXPECT_EQ(log, std::vector<std::string>{r.logged});
        if (r.key.isEmpty()) continue;
        log.clear();
        QTest::keySequence(window.get(), r.key);
        EXPECT_EQ(log, std::vector<std::string>{r.logged});
    }
}

TEST_F(Shell, UpdateLibrariesDoesNothing) {
    QTest::keyClick(window.get(), Qt::Key_F5);
    window->action(MenuItem::UpdateLibraries)->trigger();
    QCoreApplication::processEvents();
    EXPECT_TRUE(log.empty());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_TRUE(window->isVisible());
}

TEST_F(Shell, CreatedRunsTheCreationStepsOnce) {
    window->created();
    EXPECT_EQ(log, std::vector<std::string>{"created"});
}

// Beside the vertical scroll bar of a long list, a group's text and eight hex digits one
// level down show whole, nothing scrolls sideways, and the tooltip tells the whole text.
TEST_F(Shell, TreeLabelsShowWholeAndTooltipsTellThem) {
    ui().clearTree();
    const int group = ui().addTreeItem(-1, utf8ToGbk("PNG格式资源"));
    const char* labels[] = {"12BF8D0F", "88888888", "ABCDEF12", "0000C0DE", "7FFFFFFF"};
    for (int i = 0; i < 200; ++i) ui().addTreeItem(group, labels[i % 5], i + 1);
    ui().expandTreeItem(group);
    QTreeView* tree = window->tree();
    ASSERT_TRUE(waitUntil([&] { return tree->verticalScrollBar()->isVisible(); }));
    QTest::qWait(20);  // the column's width follows the content
    EXPECT_FALSE(tree->horizontalScrollBar()->isVisible());
    const int margin = tree->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, tree) + 1;
    for (int item : {0, 1, 2, 3, 4, 5}) {
        const QModelIndex index = window->ui().widgets().model->modelIndex(item);
        const QString text = index.data().toString();
        const QRect rect = tree->visualRect(index);
        EXPECT_LE(rect.left() + margin + tree->fontMetrics().horizontalAdvance(text) + margin,
                  tree->viewport()->width())
            << text.toStdString() << " is cut off";
        QHelpEvent help(QEvent::ToolTip, rect.center(),
                        tree->viewport()->mapToGlobal(rect.center()));
        QApplication::sendEvent(tree->viewport(), &help);
        EXPECT_EQ(QToolTip::text(), text);
    }
    QToolTip::hideText();
}

TEST_F(Shell, AboutIsModalAndEscapeClosesIt) {
    QString title, notice, blog, microBlog;
    QSize size, pictureSize;
    ByteBuffer picture;
    Qt::WindowModality modality{};
    bool stretched = false;
    whenModal<AboutWindow>([&](AboutWindow* about) {
        title = about->windowTitle();
        size = about->size();
        modality = about->windowModality();
        pictureSize = about->picture()->size();
        picture = about->picture()->data();
        notice = about->findChild<QLabel*>("notice")->text();
        blog = about->findChild<QLabel*>("blog")->text();
        microBlog = about->findChild<QLabel*>("microBlog")->text();
        // Stretched: the corner pixels are the picture's, not the background.
        (void)QTest::qWaitFor([&] { return about->picture()->pictureReady(); });
        const QImage shown = about->picture()->composed();
        stretched = shown.pixelColor(0, 0) != about->picture()->palette().window().color();
        QTest::keyClick(about, Qt::Key_Escape);
    });
    QTest::keyClick(window.get(), Qt::Key_F1);  // returns when the About window is closed
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    EXPECT_EQ(title, u("关于Kerbilo"));
    EXPECT_EQ(size, QSize(371, 155));
    EXPECT_EQ(modality, Qt::ApplicationModal);
    EXPECT_EQ(pictureSize, QSize(128, 128));
    EXPECT_EQ(picture, aboutPicture());
    EXPECT_TRUE(stretched);
    EXPECT_EQ(notice, u("本程序可用于修改文件内资源文件\n但不建议修改第三方文件版权信息\n"
                        "使用本软件的一切修改行为都属个人行为\n作者不承担任何法律责任\n\n"
                        "请勿用本软件于非法用途"));
    EXPECT_TRUE(blog.contains(u("作者博客")));
    EXPECT_TRUE(microBlog.contains(u("作者微博")));
    EXPECT_FALSE(blog.contains("http")) << "no addresses of others";
    EXPECT_TRUE(log.empty());
}

// The two captions are drawn as links are: the palette's link colour, underlined across
// the caption; they point nowhere and nothing opens them.
TEST_F(Shell, AboutCaptionsLookLikeLinksThatOpenNothing) {
    AboutWindow about(window.get(), window->renderers());
    about.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&about));
    for (const char* name : {"blog", "microBlog"}) {
        SCOPED_TRACE(name);
        auto* label = about.findChild<QLabel*>(name);
        ASSERT_NE(label, nullptr);
        EXPECT_FALSE(label->openExternalLinks());
        EXPECT_FALSE(label->text().contains("http"));
        const QImage shot = label->grab().toImage();
        const QColor link = label->palette().color(QPalette::Link);
        const auto isLink = [&](int x, int y) {
            const QColor c = shot.pixelColor(x, y);
            return std::abs(c.red() - link.red()) + std::abs(c.green() - link.green()) +
                       std::abs(c.blue() - link.blue()) <
                   60;
        };
        // The longest run of link colour in any row: the underline spans the caption.
        int longest = 0, inks = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0, run = 0; x < shot.width(); ++x) {
                run = isLink(x, y) ? run + 1 : 0;
                inks += run > 0;
                longest = std::max(longest, run);
            }
        const int caption = label->fontMetrics().horizontalAdvance(
            QTextDocumentFragment::fromHtml(label->text()).toPlainText());
        EXPECT_GT(inks, 20) << "not in the link colour";
        EXPECT_GE(longest, caption * 8 / 10) << "not underlined";
    }
}

class ShellTree : public Shell {
  protected:
    void SetUp() override {
        Shell::SetUp();
        ui().clearTree();
        ui().addTreeItem(-1, "PNG");
        ui().addTreeItem(0, "1", 1);
        ui().addTreeItem(0, "2", 2);
        ui().expandTreeItem(0);
        ShellCommands& c = const_cast<ShellCommands&>(window->commands());
        c.showSelected = [this] { log.push_back("show " + selected()); };
        // As the logic does: park what the pop-up delivers, let the press through, run it.
        c.treeRightButtonPressed = [this](const std::function<void()>& letPressReachTree) {
            log.push_back("pop-up " + selected());
            parking = true;
            ui().popUpMenu(Menu::Edit);
            parking = false;
            letPressReachTree();
            if (parked) std::exchange(parked, nullptr)();
        };
        onCommand = [this](MenuItem item) {
            auto run = [this, item] { log.push_back(itemName(item) + " " + selected()); };
            if (parking)
                parked = run;
            else
                run();
        };
        window->tree()->setCurrentIndex(
            static_cast<PreorderTreeModel*>(window->tree()->model())->modelIndex(1));
        log.clear();
    }
    bool parking = false;
    std::function<void()> parked;
    QPoint centreOf(int index) {
        auto* model = static_cast<PreorderTreeModel*>(window->tree()->model());
        return window->tree()->visualRect(model->modelIndex(index)).center();
    }
};

TEST_F(ShellTree, RightPressShowsTheMenuThenSelectsThenRunsTheCommand) {
    whenPopUp([](QMenu* m) { choose(m, u("导出资源")); });
    QTest::mousePress(window->tree()->viewport(), Qt::RightButton, {}, centreOf(2));
    ASSERT_TRUE(waitUntil([&] { return log.size() >= 3; })) << ::testing::PrintToString(log);
    EXPECT_EQ(log, (std::vector<std::string>{"pop-up 1", "show 2", "export 2"}));
}

TEST_F(ShellTree, RightPressOnBlankSpaceKeepsTheSelection) {
    whenPopUp([](QMenu* m) { choose(m, u("导出资源")); });
    QTest::mousePress(window->tree()->viewport(), Qt::RightButton, {}, QPoint(50, 300));
    ASSERT_TRUE(waitUntil([&] { return log.size() >= 2; }));
    EXPECT_EQ(log, (std::vector<std::string>{"pop-up 1", "export 1"}));
}

TEST_F(ShellTree, DismissedPopUpRunsNothing) {
    whenPopUp([](QMenu* m) { m->close(); });
    QTest::mousePress(window->tree()->viewport(), Qt::RightButton, {}, centreOf(2));
    QTest::qWait(50);
    EXPECT_EQ(log, (std::vector<std::string>{"pop-up 1", "show 2"}));
}

TEST_F(ShellTree, DoubleClickShowsLikeSelection) {
    QTest::mouseDClick(window->tree()->viewport(), Qt::LeftButton, {}, centreOf(2));
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.front(), "show 2");
    EXPECT_EQ(log.back(), "show 2");
}

TEST_F(Shell, CloseFollowsTheLogicsAnswer) {
    const std::pair<CloseDecision, bool> cases[] = {{CloseDecision::Stay, false},
                                                    {CloseDecision::Deferred, false},
                                                    {CloseDecision::Close, true}};
    for (auto [answer, closes] : cases) {
        closeAnswer = answer;
        log.clear();
        EXPECT_EQ(window->close(), closes);
        EXPECT_EQ(log, std::vector<std::string>{"close?"});
        EXPECT_EQ(window->isVisible(), !closes);
    }
}

TEST_F(Shell, EscapeRequestsClosing) {
    closeAnswer = CloseDecision::Stay;
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_EQ(log, std::vector<std::string>{"close?"});
    EXPECT_TRUE(window->isVisible());
    closeAnswer = CloseDecision::Close;
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_FALSE(window->isVisible());
}

// Exit is a close: the logic's answer decides, with the same question behind it.
TEST_F(Shell, ExitAsksLikeClosing) {
    for (const CloseDecision answer : {CloseDecision::Deferred, CloseDecision::Stay}) {
        closeAnswer = answer;
        window->action(MenuItem::Exit)->trigger();
        EXPECT_TRUE(window->isVisible());
    }
    closeAnswer = CloseDecision::Close;
    window->action(MenuItem::Exit)->trigger();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(log, (std::vector<std::string>{"close?", "close?", "close?"}));
}

// While an open runs, Esc and the 取消 button cancel it and close nothing; the button is
// shown only then.
TEST_F(Shell, EscapeAndTheCancelButtonCancelAnOpen) {
    busy = cancellable = true;
    window->ui().minDispatchIntervalMs = 0;
    window->ui().processPendingEvents();
    ASSERT_TRUE(window->cancelButton()->isVisible());
    EXPECT_EQ(window->cancelButton()->text(), QString::fromUtf8("取消"));
    QTest::keyClick(window.get(), Qt::Key_Escape);
    QTest::mouseClick(window->cancelButton(), Qt::LeftButton);
    EXPECT_EQ(log, (std::vector<std::string>{"cancel", "cancel"}));
    EXPECT_TRUE(window->isVisible());
    cancellable = false;  // export all: Esc asks to close, which the logic defers
    closeAnswer = CloseDecision::Deferred;
    window->ui().processPendingEvents();
    EXPECT_FALSE(window->cancelButton()->isVisible());
    QTest::keyClick(window.get(), Qt::Key_Escape);
    EXPECT_EQ(log.back(), "close?");
    busy = false;
}

void sendDrop(QWidget* target, QMimeData* mime, bool* accepted) {
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, mime, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    *accepted = enter.isAccepted();
    QDropEvent drop(QPointF(5, 5), Qt::CopyAction, mime, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
}

TEST_F(Shell, DroppedFilesOpenAndOtherDataIsIgnored) {
    window->registerDropTarget();
    EXPECT_TRUE(window->acceptDrops());
    bool accepted = false;
    QMimeData files;
    files.setUrls({QUrl::fromLocalFile("/tmp/a.exe"), QUrl::fromLocalFile("/tmp/b.exe")});
    sendDrop(window.get(), &files, &accepted);
    EXPECT_TRUE(accepted);
    ASSERT_TRUE(waitUntil([&] { return !log.empty(); }));
    EXPECT_EQ(log, std::vector<std::string>{"drop /tmp/a.exe /tmp/b.exe"});

    log.clear();
    QMimeData text;
    text.setText("/tmp/a.exe");
    sendDrop(window.get(), &text, &accepted);
    EXPECT_FALSE(accepted);
    QTest::qWait(20);
    EXPECT_TRUE(log.empty());
}

// A long loop letting events through: what arrives meanwhile must not act on the window.
TEST_F(Shell, BusyLoopGreysMenusAndRefusesCommandsAndDrops) {
    window->registerDropTarget();
    bool greyed = false, progressShown = false, visibleAfterClose = false, dropAccepted = true;
    int opensInside = 0;
    onCommand = [&](MenuItem item) {
        log.push_back(itemName(item));
        if (item != MenuItem::Open) return;
        busy = true;
        progress = 0.25;
        QElapsedTimer clock;
        clock.start();
        bool closeSent = false;
        while (clock.elapsed() < 300) {
            ui().processPendingEvents();
            greyed = greyed || (!window->action(MenuItem::Open)->isEnabled() &&
                                !window->menu(Menu::Edit)->menuAction()->isEnabled());
            progressShown = progressShown || (window->progressBar()->isVisible() &&
                                              window->progressBar()->value() == 250);
            if (greyed && !closeSent) {
                closeSent = true;
                closeAnswer = CloseDecision::Deferred;
                window->close();
                visibleAfterClose = window->isVisible();
                const std::size_t before = log.size();
                window->action(MenuItem::Open)->trigger();
                QTest::keySequence(window.get(), QKeySequence(Qt::CTRL | Qt::Key_O));
                opensInside = static_cast<int>(log.size() - before);
                QMimeData files;
                files.setUrls({QUrl::fromLocalFile("/tmp/a.exe")});
                sendDrop(window.get(), &files, &dropAccepted);
            }
        }
        busy = false;
        progress = -1;
    };
    ui().setMenuItemDisabled(MenuItem::Save, true);
    window->action(MenuItem::Open)->trigger();

    EXPECT_TRUE(greyed);
    EXPECT_TRUE(progressShown);
    EXPECT_TRUE(visibleAfterClose) << "the close waits for the loop";
    EXPECT_EQ(opensInside, 0);
    EXPECT_FALSE(dropAccepted);
    EXPECT_FALSE(window->progressBar()->isVisible());
    EXPECT_TRUE(window->action(MenuItem::Open)->isEnabled());
    EXPECT_FALSE(window->action(MenuItem::Save)->isEnabled()) << "the logic's state comes back";
    EXPECT_EQ(log, (std::vector<std::string>{"open", "close?"}));
}

}  // namespace
}  // namespace kerbilo::testing

namespace kerbilo::testing {
namespace {

// The view's own work for a huge group: expanding lays out every row, scrolling must not.
TEST_F(Shell, AMillionResourcesExpandAndScrollQuickly) {
    ui().clearTree();
    const int group = ui().addTreeItem(-1, "PNG");
    for (int i = 1; i <= 1000000; ++i) ui().addTreeItem(group, "1A2B3C", i);
    QElapsedTimer clock;
    clock.start();
    ui().expandTreeItem(group);
    QCoreApplication::processEvents();
    const qint64 expandMs = clock.restart();
    QTreeView* tree = window->tree();
    for (int step = 0; step < 20; ++step) {
        tree->verticalScrollBar()->setValue(tree->verticalScrollBar()->maximum() * step / 19);
        tree->viewport()->repaint();
    }
    const qint64 scrollMs = clock.elapsed();
    EXPECT_LT(expandMs, 8000) << expandMs << " ms to expand";
    EXPECT_LT(scrollMs, 2000) << scrollMs << " ms for 20 scrolled repaints";
    EXPECT_EQ(ui().treeItemData(1000000), 1000000);
}

}  // namespace
}  // namespace kerbilo::testing

namespace kerbilo::testing {
namespace {

// The pane's views from the 查看 menu: the checked item follows the wheel, and the status
// bar tells the scale once the picture is not drawn the classic way.
TEST_F(Shell, PaneViewItemsFollowTheWheel) {
    ui().setPictureData(Pane::Main, logoPicture());
    QTRY_VERIFY_WITH_TIMEOUT(window->pane()->pictureReady(), 5000);
    EXPECT_EQ(window->pane()->viewMode(), PaneView::Default);
    EXPECT_TRUE(window->zoomInfo()->text().isEmpty());
    QAction* actual = nullptr;
    QAction* zoom = nullptr;
    for (QAction* a : window->menuBar()->actions()[2]->menu()->actions()) {
        if (a->text() == QString::fromUtf8("实际大小")) actual = a;
        if (a->text() == QString::fromUtf8("缩放")) zoom = a;
    }
    ASSERT_NE(actual, nullptr);
    ASSERT_NE(zoom, nullptr);
    actual->trigger();
    EXPECT_EQ(window->pane()->viewMode(), PaneView::Actual);
    EXPECT_EQ(window->zoomInfo()->text(), QString::fromUtf8("缩放 100%"));
    QTest::keyClick(window.get(), Qt::Key_Equal, Qt::ControlModifier);
    EXPECT_EQ(window->pane()->viewMode(), PaneView::Zoom);
    EXPECT_TRUE(zoom->isChecked());
    EXPECT_EQ(window->zoomInfo()->text(), QString::fromUtf8("缩放 150%"));
}

}  // namespace
}  // namespace kerbilo::testing
