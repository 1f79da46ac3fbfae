// What only the Qt binding can get wrong: filters, drops, dialog options, the pop-up's
// timing, throttled event dispatch, the pane and a tree of a million items.

#include <gtest/gtest.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <sys/stat.h>
#include <QtCore/QBuffer>
#include <QtCore/QDir>
#include <QtCore/QElapsedTimer>
#include <QtCore/QFile>
#include <QtCore/QMimeData>
#include <QtCore/QTemporaryDir>
#include <QtCore/QUrl>
#include <QtGui/QAction>
#include <QtGui/QCursor>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QLabel>
#include <QtWidgets/QListView>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QTreeView>

#include <fstream>

#include "gui_helpers.h"
#include "names_of_any_bytes.h"
#include "runtime/gbk.h"
#include "ui/services/qt/file_dialog.h"
#include "ui/services/qt/picture_widget.h"
#include "ui/services/qt/preorder_tree_model.h"
#include "ui/services/qt/qt_text.h"
#include "ui/services/qt/qt_ui_services.h"

namespace kerbilo::testing {
namespace {

struct FilterCase {
    const char* filter;
    QStringList want;
};

TEST(QtFilters, PairsBecomeNameFilters) {
    const FilterCase cases[] = {
        {"可执行文件|*.exe|动态链接库文件|*.dll|所有类型文件|*.*",
         {"可执行文件 (*.exe)", "动态链接库文件 (*.dll)", "所有类型文件 (*.*)"}},
        {"图片|*.png;*.jpg; *.gif", {"图片 (*.png *.jpg *.gif)"}},
        {"a|*.a||b|*.b", {"a (*.a)"}},
        {"a|*.a|dangling", {"a (*.a)"}},
        {"", {}},
    };
    for (const FilterCase& c : cases) {
        SCOPED_TRACE(c.filter);
        EXPECT_EQ(nameFiltersOf(utf8ToGbk(c.filter)), c.want);
    }
}

TEST(QtDrops, LocalFilesOnlyEachPathWhole) {
    using Paths = std::vector<Text>;
    QMimeData two;
    two.setUrls({QUrl::fromLocalFile("/tmp/a.exe"), QUrl::fromLocalFile("/tmp/文件 b.dll")});
    EXPECT_EQ(droppedFilesOf(two), (Paths{"/tmp/a.exe", utf8ToGbk("/tmp/文件 b.dll")}));

    // A line break inside a name stays in it: the paths travel as a list, not as lines.
    QMimeData broken;
    broken.setUrls({QUrl::fromLocalFile("/tmp/a\r\nb.exe")});
    EXPECT_EQ(droppedFilesOf(broken), Paths{"/tmp/a\r\nb.exe"});

    QMimeData mixed;
    mixed.setUrls({QUrl("https://example.invalid/x"), QUrl::fromLocalFile("/tmp/c")});
    EXPECT_EQ(droppedFilesOf(mixed), Paths{"/tmp/c"});

    QMimeData text;
    text.setText("/tmp/a.exe");
    EXPECT_TRUE(droppedFilesOf(text).empty());
    QMimeData link;
    link.setUrls({QUrl("https://example.invalid/x")});
    EXPECT_TRUE(droppedFilesOf(link).empty());
}

class QtBinding : public ::testing::Test {
  protected:
    QtBinding() {
        QtUiWidgets w;
        w.window = &window;
        w.model = model = new PreorderTreeModel(&window);
        w.tree = tree = new QTreeView(&window);
        tree->setModel(model);
        tree->setUniformRowHeights(true);
        w.statusPart = new QLabel(&window);
        pane = new PictureWidget(makeQtImageRenderer(PictureFit::CentreShrink), &window);
        pane->resize(100, 80);
        w.panes[Pane::Main] = pane;
        edit = new QMenu(&window);
        replace = edit->addAction("replace");
        edit->addSeparator();
        exportOne = edit->addAction("export");
        w.items[MenuItem::ReplaceResource] = replace;
        w.items[MenuItem::ExportResource] = exportOne;
        w.menus[Menu::Edit] = edit;
        ui = std::make_unique<QtUiServices>(std::move(w));
        window.resize(300, 300);
        window.show();
    }
    std::string file(const char* name) {
        const std::string path = dir.filePath(name).toStdString();
        std::ofstream(path) << "x";
        return path;
    }

    QWidget window;
    PreorderTreeModel* model;
    QTreeView* tree;
    PictureWidget* pane;
    QMenu* edit;
    QAction* replace;
    QAction* exportOne;
    std::unique_ptr<QtUiServices> ui;
    QTemporaryDir dir;
};

TEST_F(QtBinding, OpenDialogStartsOnTheFirstFilterAndInTheInitialFolder) {
    FileDialogSettings s;
    s.filter = utf8ToGbk("可执行文件|*.exe|所有类型文件|*.*");
    s.initialFolder = fromQt(dir.path());
    QString shownFilter, shownDir;
    bool nativeOff = false, existingOnly = false;
    whenModal<QFileDialog>([&](QFileDialog* d) {
        shownFilter = d->selectedNameFilter();
        shownDir = d->directory().absolutePath();
        nativeOff = d->testOption(QFileDialog::DontUseNativeDialog);
        existingOnly = d->fileMode() == QFileDialog::ExistingFile;
        d->reject();
    });
    EXPECT_FALSE(ui->showFileDialog(s));
    EXPECT_EQ(shownFilter, QString::fromUtf8("可执行文件 (*.exe)"));
    EXPECT_EQ(shownDir, QDir(dir.path()).absolutePath());
    EXPECT_TRUE(nativeOff);
    EXPECT_TRUE(existingOnly);
}

TEST_F(QtBinding, OpenDialogRefusesAFileThatDoesNotExist) {
    FileDialogSettings s;
    s.initialFolder = fromQt(dir.path());
    bool warned = false, stayedOpen = false;
    whenModal<QFileDialog>([&](QFileDialog* d) {
        whenModal<QMessageBox>([&, d](QMessageBox* box) {
            warned = true;
            box->accept();
            QTimer::singleShot(0, d, [&, d] {
                stayedOpen = d->isVisible();
                d->reject();
            });
        });
        fileNameEdit(d)->setText(dir.filePath("missing.exe"));
        static_cast<QDialog*>(d)->accept();
    });
    EXPECT_FALSE(ui->showFileDialog(s));
    EXPECT_TRUE(warned);
    EXPECT_TRUE(stayedOpen);
}

struct ListingCase {
    const char* masks;
    const char* name;
    bool executable;
    bool listed;
};

// What each filter of the program lists on Linux.
TEST(QtFilters, MasksListFilesAsOnTheirOwnSystem) {
    const ListingCase cases[] = {
        {"*.exe", "a.exe", false, true},       {"*.exe", "A.EXE", false, true},
        {"*.exe", "tool", true, true},         {"*.exe", "script.sh", true, true},
        {"*.exe", "noext", false, false},      {"*.exe", "b.txt", false, false},
        {"*.*", "noext", false, true},         {"*.*", "b.txt", false, true},
        {"*.dll", "tool", true, false},        {"*.dll", "c.dll", false, true},
        {"*.png *.jpg", "x.jpg", false, true},
    };
    for (const ListingCase& c : cases) {
        SCOPED_TRACE(std::string(c.masks) + " " + c.name);
        const QFile::Permissions perms =
            c.executable ? QFile::ReadOwner | QFile::ExeOwner : QFile::ReadOwner;
        EXPECT_EQ(filterListsFile(QString::fromUtf8(c.masks).split(' '), QString::fromUtf8(c.name),
                                  perms),
                  c.listed);
    }
    EXPECT_EQ(masksOfNameFilter(QString::fromUtf8("图片 (*.png *.jpg)")),
              (QStringList{"*.png", "*.jpg"}));
}

// The names a file dialog lists in its current folder, once they stop changing.
QStringList listedNames(QFileDialog* d, int atLeast) {
    auto* view = d->findChild<QListView*>(QStringLiteral("listView"));
    const auto names = [view] {
        QStringList out;
        QAbstractItemModel* m = view->model();
        for (int r = 0; r < m->rowCount(view->rootIndex()); ++r)
            out << m->index(r, 0, view->rootIndex()).data().toString();
        out.sort();
        return out;
    };
    (void)QTest::qWaitFor([&] { return names().size() >= atLeast; }, 3000);
    QTest::qWait(100);
    return names();
}

// The open dialog under each filter: executables are *.exe and files with an execute bit,
// and "*.*" lists every file, names without a dot included. Listing, icons and types never
// open a file (a content sniffer would open "noext"; /proc/kmsg would never answer).
TEST_F(QtBinding, OpenDialogListsByFilterWithoutOpeningAFile) {
    file("a.exe");
    file("b.txt");
    file("noext");
    file("tool");
    QFile::setPermissions(dir.filePath("tool"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ExeUser);
    QDir(dir.path()).mkdir("sub");
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    inotify_add_watch(watch, dir.path().toLocal8Bit().constData(), IN_OPEN);

    FileDialogSettings s;
    s.filter = utf8ToGbk("可执行文件|*.exe|动态链接库文件|*.dll|所有类型文件|*.*");
    s.initialFolder = fromQt(dir.path());
    QStringList executables, everything, types;
    bool toolChoosable = false;
    whenModal<QFileDialog>([&](QFileDialog* d) {
        d->setViewMode(QFileDialog::Detail);  // the type column asks the icon provider too
        executables = listedNames(d, 3);
        auto* view = d->findChild<QListView*>(QStringLiteral("listView"));
        for (int r = 0; r < view->model()->rowCount(view->rootIndex()); ++r) {
            const QModelIndex i = view->model()->index(r, 0, view->rootIndex());
            if (i.data().toString() == "tool")
                toolChoosable = view->model()->flags(i) & Qt::ItemIsEnabled;
            types << view->model()->index(r, 2, view->rootIndex()).data().toString();
        }
        auto* combo = d->findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
        combo->setCurrentIndex(2);
        emit combo->activated(2);
        everything = listedNames(d, 5);
        d->reject();
    });
    EXPECT_FALSE(ui->showFileDialog(s));
    EXPECT_EQ(executables, (QStringList{"a.exe", "sub", "tool"}));
    EXPECT_TRUE(toolChoosable);
    EXPECT_EQ(everything, (QStringList{"a.exe", "b.txt", "noext", "sub", "tool"}));
    types.sort();
    EXPECT_EQ(types, (QStringList{"EXE 文件", "文件", "文件夹"})) << types.join(", ").toStdString();

    char events[4096];
    const ssize_t n = read(watch, events, sizeof events);
    for (ssize_t at = 0; at < n;) {
        const auto* e = reinterpret_cast<const inotify_event*>(events + at);
        EXPECT_TRUE(e->mask & IN_ISDIR) << "opened " << (e->len ? e->name : "?");
        at += static_cast<ssize_t>(sizeof(inotify_event) + e->len);
    }
    close(watch);
}

TEST_F(QtBinding, SaveDialogAddsTheDefaultSuffixAndAsksBeforeOverwriting) {
    FileDialogSettings s;
    s.mode = FileDialogMode::Save;
    s.defaultExtension = ".exe";
    s.initialFolder = fromQt(dir.path());
    whenModal<QFileDialog>([&](QFileDialog* d) {
        fileNameEdit(d)->setText("typed");
        static_cast<QDialog*>(d)->accept();
    });
    ASSERT_TRUE(ui->showFileDialog(s));
    EXPECT_EQ(s.fileName, fromQt(dir.filePath("typed.exe")));

    file("typed.exe");
    QString question;
    whenModal<QFileDialog>([&](QFileDialog* d) {
        whenModal<QMessageBox>([&](QMessageBox* box) {
            question = box->text();
            pressButton(box, QMessageBox::No);
            // Declining the overwrite leaves the dialog open; cancel it then.
            QTimer::singleShot(0, d, &QDialog::reject);
        });
        static_cast<QDialog*>(d)->accept();
    });
    EXPECT_FALSE(ui->showFileDialog(s));
    EXPECT_TRUE(question.contains("typed.exe")) << question.toStdString();
}

TEST_F(QtBinding, SaveDialogRefusesAMissingFolder) {
    FileDialogSettings s;
    s.mode = FileDialogMode::Save;
    bool warned = false;
    QString message;
    whenModal<QFileDialog>([&](QFileDialog* d) {
        whenModal<QMessageBox>([&](QMessageBox* box) {
            warned = true;
            message = box->text();
            box->accept();
            QTimer::singleShot(0, d, &QDialog::reject);
        });
        fileNameEdit(d)->setText(dir.filePath("no/such/folder/x.bin"));
        static_cast<QDialog*>(d)->accept();
    });
    EXPECT_FALSE(ui->showFileDialog(s));
    EXPECT_TRUE(warned);
    EXPECT_TRUE(message.contains(QString::fromUtf8("目录未找到"))) << message.toStdString();
}

TEST_F(QtBinding, FolderChooserGivesAPathWithoutTrailingSeparator) {
    const QString sub = dir.filePath("out");
    QDir().mkpath(sub);
    QString title;
    whenModal<QFileDialog>([&](QFileDialog* d) {
        title = d->windowTitle();
        d->setDirectory(sub);
        fileNameEdit(d)->setText(sub + "/");
        static_cast<QDialog*>(d)->accept();
    });
    EXPECT_EQ(ui->chooseFolder(utf8ToGbk("请选择一个文件夹输出资源"), ui->mainWindowHandle()),
              fromQt(sub));
    EXPECT_EQ(title, QString::fromUtf8("请选择一个文件夹输出资源"));
    whenModal<QFileDialog>([](QFileDialog* d) { d->reject(); });
    EXPECT_EQ(ui->chooseFolder("x", 0), std::nullopt);
}

TEST_F(QtBinding, MessageBoxButtonsReadChineseWithTheRightIcon) {
    struct Case {
        MessageStyle style;
        QStringList buttons;
        QMessageBox::Icon icon;
        const char* byDefault;  // what Enter presses
        int enter;              // and so gives
    };
    // The size warning's 确定 changes the file: Enter must not mean it.
    const Case cases[] = {
        {MessageStyle::OkCancelInformation,
         {"确定", "取消"},
         QMessageBox::Information,
         "取消",
         kResultCancel},
        {MessageStyle::OkCancel, {"确定", "取消"}, QMessageBox::NoIcon, "确定", kResultOk},
        {MessageStyle::YesNoCancel,
         {"是(&Y)", "否(&N)", "取消"},
         QMessageBox::NoIcon,
         "是(&Y)",
         kResultYes},
        {MessageStyle::OkInformation, {"确定"}, QMessageBox::Information, "确定", kResultOk},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.byDefault);
        QStringList texts;
        QString byDefault;
        QMessageBox::Icon icon{};
        Qt::WindowModality modality{};
        whenModal<QMessageBox>([&](QMessageBox* box) {
            for (QAbstractButton* b : box->buttons()) texts << b->text();
            if (box->defaultButton()) byDefault = box->defaultButton()->text();
            icon = box->icon();
            modality = box->windowModality();
            QTest::keyClick(box, Qt::Key_Return);
        });
        EXPECT_EQ(ui->showMessage("t", c.style, "title"), c.enter);
        texts.sort();
        QStringList want = c.buttons;
        want.sort();
        EXPECT_EQ(texts, want);
        EXPECT_EQ(byDefault, QString::fromUtf8(c.byDefault));
        EXPECT_EQ(icon, c.icon);
        EXPECT_EQ(modality, Qt::ApplicationModal);
    }
}

TEST_F(QtBinding, PopUpOpensBesideTheCursorAndDeliversOnceClosed) {
    QCursor::setPos(window.mapToGlobal(QPoint(40, 50)));
    const QPoint cursor = QCursor::pos();
    replace->setEnabled(false);
    std::vector<std::string> log;
    QObject::connect(exportOne, &QAction::triggered, [&] {
        log.push_back(QApplication::activePopupWidget() ? "export, menu open" : "export");
    });
    QPoint shownAt;
    QStringList items;
    std::vector<bool> enabled;
    whenPopUp([&](QMenu* m) {
        shownAt = m->pos();
        for (QAction* a : m->actions()) {
            items << (a->isSeparator() ? "-" : a->text());
            enabled.push_back(a->isEnabled());
        }
        choose(m, m->actions().last());
    });
    ui->popUpMenu(Menu::Edit);
    log.push_back("returned");
    EXPECT_EQ(log, (std::vector<std::string>{"export", "returned"}))
        << "delivered once the menu has closed, before popUpMenu returns";
    EXPECT_EQ(items, (QStringList{"replace", "-", "export"}));
    EXPECT_EQ(enabled, (std::vector<bool>{false, true, true}));
    EXPECT_EQ(shownAt, cursor + QPoint(3, 3));
}

TEST_F(QtBinding, GreyingOverlaysTheLogicsMenuStates) {
    ui->setMenuItemDisabled(MenuItem::ReplaceResource, true);
    ui->setMenusGreyed(true);
    EXPECT_FALSE(exportOne->isEnabled());
    EXPECT_FALSE(edit->menuAction()->isEnabled());
    ui->setMenuItemDisabled(MenuItem::ReplaceResource, false);  // arrives during the loop
    EXPECT_FALSE(replace->isEnabled());
    ui->setMenusGreyed(false);
    EXPECT_TRUE(replace->isEnabled());
    EXPECT_TRUE(exportOne->isEnabled());
}

TEST_F(QtBinding, EventDispatchIsSkippedRightAfterTheLastOne) {
    int dispatched = 0;
    ui->beforeDispatch = [&] { ++dispatched; };
    int ran = 0;
    ui->minDispatchIntervalMs = 1000;
    ui->processPendingEvents();
    QMetaObject::invokeMethod(
        &window, [&] { ++ran; }, Qt::QueuedConnection);
    ui->processPendingEvents();
    EXPECT_EQ(dispatched, 1);
    EXPECT_EQ(ran, 0);
    ui->minDispatchIntervalMs = 0;
    ui->processPendingEvents();
    EXPECT_EQ(ran, 1);
}

TEST_F(QtBinding, SelectionIsTheTreesCurrentItemAndExpandShowsChildren) {
    ui->addTreeItem(-1, "g");
    ui->addTreeItem(0, "1", 1);
    ui->addTreeItem(-1, "h");
    ui->addTreeItem(2, "2", 2);
    ui->expandTreeItem(2);
    EXPECT_TRUE(tree->isExpanded(model->modelIndex(2)));
    EXPECT_FALSE(tree->isExpanded(model->modelIndex(0)));
    tree->setCurrentIndex(model->modelIndex(3));
    EXPECT_EQ(ui->selectedTreeItem(), 3);
    EXPECT_EQ(model->data(model->modelIndex(3), Qt::DisplayRole).toString(), "2");
}

TEST_F(QtBinding, PaneDrawsThePictureOnTheWindowColour) {
    QImage red(10, 10, QImage::Format_RGB32);
    red.fill(Qt::red);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    red.save(&buffer, "PNG");
    ui->setPictureData(Pane::Main, ByteBuffer(png.data(), static_cast<std::size_t>(png.size())));
    const QImage shown = pane->composed();
    EXPECT_EQ(shown.pixelColor(50, 40), QColor(Qt::red)) << "centred at its own size";
    EXPECT_EQ(shown.pixelColor(2, 2), pane->palette().window().color());
    ui->setPictureData(Pane::Main, ByteBuffer::fromText("not a picture"));
    EXPECT_EQ(pane->composed().pixelColor(50, 40), pane->palette().window().color());
}

// A name whose bytes are no UTF-8 reaches Qt as U+FFFD and is not even listed in the
// dialog's folder. Dropped, or typed as a user sees it elsewhere (with replacement
// characters), it still names the file of its bytes: open, save over it, choose it as a
// folder.
TEST_F(QtBinding, NamesOfAnyBytesReachTheirFiles) {
    int i = 0;
    for (const std::string& name : namesOfAnyBytes()) {
        SCOPED_TRACE(printable(name));
        const std::string c = dir.filePath(QString("c%1").arg(i++)).toStdString();
        ASSERT_EQ(::mkdir(c.c_str(), 0755), 0);
        ASSERT_EQ(::mkdir((c + "/f").c_str(), 0755), 0);
        ASSERT_EQ(::mkdir((c + "/f/" + name).c_str(), 0755), 0);
        const std::string file = c + "/" + name;
        rawWrite(file, "x");
        const QString shown = QFile::decodeName(QByteArray::fromStdString(name));

        QMimeData drop;
        drop.setData("text/uri-list",
                     "file://" + QByteArray::fromStdString(file).toPercentEncoding("/") + "\r\n");
        const std::vector<Text> dropped = droppedFilesOf(drop);
        ASSERT_EQ(dropped.size(), 1u);
        EXPECT_EQ(gbkToUtf8(dropped[0]), file);

        for (const FileDialogMode mode : {FileDialogMode::Open, FileDialogMode::Save}) {
            FileDialogSettings s;
            s.mode = mode;
            s.initialFolder = utf8ToGbk(c);
            bool asked = false;
            whenModal<QFileDialog>([&, mode](QFileDialog* d) {
                // Only saving asks; a watcher left waiting would answer a later question.
                if (mode == FileDialogMode::Save)
                    whenModal<QMessageBox>([&](QMessageBox* box) {
                        asked = true;
                        pressButton(box, QMessageBox::Yes);
                    });
                fileNameEdit(d)->setText(shown);
                static_cast<QDialog*>(d)->accept();
            });
            ASSERT_TRUE(ui->showFileDialog(s)) << (mode == FileDialogMode::Open ? "open" : "save");
            EXPECT_EQ(gbkToUtf8(s.fileName), file);
            EXPECT_EQ(asked, mode == FileDialogMode::Save) << "asks before saving over it";
            if (mode == FileDialogMode::Save && !asked) return;  // its watcher is still waiting
        }

        whenModal<QFileDialog>([&](QFileDialog* d) {
            d->setDirectory(QString::fromStdString(c + "/f"));
            fileNameEdit(d)->setText(shown);
            static_cast<QDialog*>(d)->accept();
        });
        EXPECT_EQ(gbkToUtf8(ui->chooseFolder("x", 0).value_or("")), c + "/f/" + name);
    }
    EXPECT_EQ(replacementCharactersBelow(dir.path().toStdString()), std::vector<std::string>{});
}

// The bytes behind a path Qt shows with replacement characters: each such component is the
// one name of its folder that Qt shows alike; with none or several it stays as shown.
TEST_F(QtBinding, ShownPathsResolveToTheOneNameOnDisk) {
    const std::string root = dir.path().toStdString();
    for (const char* folder : {"/one", "/one/\xD7\xCA", "/two", "/two/\x80", "/two/\x81"})
        ASSERT_EQ(::mkdir((root + folder).c_str(), 0755), 0);
    rawWrite(root + "/one/\xD7\xCA/\xE9.bin", "x");
    rawWrite(root + "/one/\xEF\xBF\xBD", "a real U+FFFD");
    const QString fffd(QChar::ReplacementCharacter);
    const std::pair<QString, std::string> cases[] = {
        {"/one/" + fffd + fffd + "/" + fffd + ".bin", "/one/\xD7\xCA/\xE9.bin"},
        {"/one/" + fffd, "/one/\xEF\xBF\xBD"},  // the encoded name exists: it is meant
        {"/two/" + fffd, "/two/\xEF\xBF\xBD"},  // \x80 or \x81: no way to tell
        {"/one/new " + fffd, "/one/new \xEF\xBF\xBD"},
        {"/one/plain", "/one/plain"},
    };
    for (const auto& [shown, bytes] : cases) {
        SCOPED_TRACE(printable(bytes));
        EXPECT_EQ(nativePathOf(dir.path() + shown), root + bytes);
    }
}

// The scan's shape: a few groups, each filled to the end before the next begins.
TEST_F(QtBinding, AMillionItemsListQuickly) {
    QElapsedTimer clock;
    clock.start();
    ui->addTreeItem(-1, "first");
    for (int g = 0; g < 4; ++g) {
        const int group = ui->addTreeItem(-1, "group");
        for (int i = 0; i < 250000; ++i) ui->addTreeItem(group, "1F2E3D", i + 1);
    }
    ui->expandTreeItem(1);
    QCoreApplication::processEvents();
    const qint64 ms = clock.elapsed();
    EXPECT_EQ(ui->treeItemCount(), 1000005);
    EXPECT_EQ(ui->treeItemParent(1000004), 750004);
    EXPECT_EQ(ui->treeItemData(1000004), 250000);
    EXPECT_EQ(ui->treeItemText(250002), "group");
    RecordProperty("milliseconds", static_cast<int>(ms));
    EXPECT_LT(ms, 10000) << "a million items took " << ms << " ms";
}

}  // namespace
}  // namespace kerbilo::testing
