// One behaviour, every implementation: each case runs against the test double the logic's
// tests rely on and the Qt binding the program ships, so they cannot drift.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QtCore/QDir>
#include <QtCore/QTemporaryDir>
#include <QtGui/QAction>
#include <QtWidgets/QLabel>
#include <QtWidgets/QMenu>
#include <QtWidgets/QTreeView>
#include <QtWidgets/QWidget>
#include <fstream>
#include <functional>
#include <memory>

#include "fake_ui.h"
#include "gui_helpers.h"
#include "runtime/gbk.h"
#include "ui/services/qt/picture_widget.h"
#include "ui/services/qt/preorder_tree_model.h"
#include "ui/services/qt/qt_text.h"
#include "ui/services/qt/qt_ui_services.h"

namespace kerbilo::testing {
namespace {

// How a case answers the windows and reads back what they show.
class Driver {
  public:
    virtual ~Driver() = default;
    virtual UiServices& ui() = 0;
    virtual void pressNext(int result) = 0;  // the button of that result code
    virtual void escapeNext() = 0;
    virtual void answerNextDialog(std::optional<Text> path) = 0;  // nullopt: cancel
    virtual Text lastPrefill() = 0;  // the file name field as the last showing opened
    virtual Text status() = 0;
    virtual Text title() = 0;
    virtual bool disabled(MenuItem item) = 0;
};

class FakeDriver final : public Driver {
  public:
    UiServices& ui() override { return fake_; }
    void pressNext(int result) override { fake_.messageAnswers.push_back(result); }
    // The double is told what a box with Cancel gives for Escape.
    void escapeNext() override { fake_.messageAnswers.push_back(kResultCancel); }
    void answerNextDialog(std::optional<Text> path) override {
        fake_.fileDialogAnswers.push_back(std::move(path));
    }
    Text lastPrefill() override {
        return fake_.dialogsShown.empty() ? Text() : fake_.dialogsShown.back().fileName;
    }
    Text status() override { return fake_.statusText; }
    Text title() override { return fake_.title(); }
    bool disabled(MenuItem item) override { return fake_.isDisabled(item); }

  private:
    FakeUi fake_;
};

class QtDriver final : public Driver {
  public:
    QtDriver() {
        window_ = std::make_unique<QWidget>();
        QtUiWidgets w;
        w.window = window_.get();
        w.model = new PreorderTreeModel(window_.get());
        w.tree = new QTreeView(window_.get());
        w.tree->setModel(w.model);
        w.statusPart = status_ = new QLabel(window_.get());
        auto* menu = new QMenu(window_.get());
        for (MenuItem item : {MenuItem::Save, MenuItem::Open}) w.items[item] = menu->addAction("x");
        w.menus[Menu::File] = menu;
        ui_ = std::make_unique<QtUiServices>(std::move(w));
    }
    UiServices& ui() override { return *ui_; }
    void pressNext(int result) override {
        const QMessageBox::StandardButton b = result == kResultYes  ? QMessageBox::Yes
                                              : result == kResultNo ? QMessageBox::No
                                              : result == kResultOk ? QMessageBox::Ok
                                                                    : QMessageBox::Cancel;
        whenModal<QMessageBox>([b](QMessageBox* box) { pressButton(box, b); });
    }
    void escapeNext() override {
        whenModal<QMessageBox>([](QMessageBox* box) { box->reject(); });
    }
    void answerNextDialog(std::optional<Text> path) override {
        whenModal<QFileDialog>([this, path](QFileDialog* d) {
            QLineEdit* edit = fileNameEdit(d);
            // Qt opens the chosen file's folder and puts its bare name in the field.
            prefill_ = edit && !edit->text().isEmpty()
                           ? fromQt(QDir(d->directory()).filePath(edit->text()))
                           : Text();
            if (!path) return d->reject();
            edit->setText(toQt(*path));
            static_cast<QDialog*>(d)->accept();
        });
    }
    Text lastPrefill() override { return prefill_; }
    Text status() override { return fromQt(status_->text()); }
    Text title() override { return fromQt(window_->windowTitle()); }
    bool disabled(MenuItem item) override { return !ui_->widgets().items.at(item)->isEnabled(); }

  private:
    std::unique_ptr<QWidget> window_;
    QLabel* status_ = nullptr;
    std::unique_ptr<QtUiServices> ui_;
    Text prefill_;
};

struct Implementation {
    const char* name;
    std::function<std::unique_ptr<Driver>()> make;
};

void PrintTo(const Implementation& i, std::ostream* os) {
    *os << i.name;
}

class Contract : public ::testing::TestWithParam<Implementation> {
  protected:
    std::unique_ptr<Driver> made = GetParam().make();
    Driver& driver = *made;
    UiServices& ui = driver.ui();
};

INSTANTIATE_TEST_SUITE_P(
    , Contract,
    ::testing::Values(Implementation{"Fake", [] { return std::make_unique<FakeDriver>(); }},
                      Implementation{"Qt", [] { return std::make_unique<QtDriver>(); }}),
    [](const ::testing::TestParamInfo<Implementation>& info) { return info.param.name; });

struct Expected {
    const char* text;
    std::int64_t data;
    int parent;
};

// A, B, b1, b2 then a child of A: it lands inside A's subtree and shifts B's items.
TEST_P(Contract, TreeKeepsPreorderIndexesWhenAChildGoesBeforeLaterItems) {
    EXPECT_EQ(ui.addTreeItem(-1, "A"), 0);
    EXPECT_EQ(ui.addTreeItem(-1, "B"), 1);
    EXPECT_EQ(ui.addTreeItem(1, "b1", 1), 2);
    EXPECT_EQ(ui.addTreeItem(1, "b2", 2), 3);
    EXPECT_EQ(ui.addTreeItem(0, "a1", 7), 1);
    EXPECT_EQ(ui.addTreeItem(1, "a1x", 8), 2);  // a grandchild of A
    EXPECT_EQ(ui.addTreeItem(99, "C"), 6);      // no such parent: a new top-level item

    const Expected want[] = {{"A", 0, -1}, {"a1", 7, 0}, {"a1x", 8, 1}, {"B", 0, -1},
                             {"b1", 1, 3}, {"b2", 2, 3}, {"C", 0, -1}};
    ASSERT_EQ(ui.treeItemCount(), 7);
    for (int i = 0; i < 7; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(ui.treeItemText(i), want[i].text);
        EXPECT_EQ(ui.treeItemData(i), want[i].data);
        EXPECT_EQ(ui.treeItemParent(i), want[i].parent);
    }
}

TEST_P(Contract, SelectionIsSetByIndexAndClearedByNone) {
    ui.addTreeItem(-1, "g");
    ui.addTreeItem(0, "r1", 1);
    ui.addTreeItem(0, "r2", 2);
    ui.selectTreeItem(2);
    EXPECT_EQ(ui.selectedTreeItem(), 2);
    ui.selectTreeItem(1);
    EXPECT_EQ(ui.selectedTreeItem(), 1);
    for (int none : {-1, 3, 1000}) {
        ui.selectTreeItem(2);
        ui.selectTreeItem(none);
        EXPECT_EQ(ui.selectedTreeItem(), -1) << none;
    }
}

TEST_P(Contract, IndexesThatAddressNoItemGiveNeutralResults) {
    EXPECT_EQ(ui.selectedTreeItem(), -1);
    ui.addTreeItem(-1, "g");
    ui.addTreeItem(0, "r", 5);
    for (int bad : {-1, 2, 1000}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(ui.treeItemText(bad), "");
        EXPECT_EQ(ui.treeItemData(bad), 0);
        EXPECT_EQ(ui.treeItemParent(bad), -1);
        ui.expandTreeItem(bad);
    }
    ui.clearTree();
    EXPECT_EQ(ui.treeItemCount(), 0);
    EXPECT_EQ(ui.selectedTreeItem(), -1);
    EXPECT_EQ(ui.addTreeItem(0, "again"), 0);
}

TEST_P(Contract, GbkTextsComeBackByteForByte) {
    const Text name = utf8ToGbk("PNG格式资源");
    ui.addTreeItem(-1, name);
    EXPECT_EQ(ui.treeItemText(0), name);
    ui.setWindowTitle(utf8ToGbk("Kerbilo - /tmp/测试.exe"));
    EXPECT_EQ(driver.title(), utf8ToGbk("Kerbilo - /tmp/测试.exe"));
}

TEST_P(Contract, StatusBarShowsItsText) {
    ui.setStatusText(utf8ToGbk("正在解析:12"));
    EXPECT_EQ(driver.status(), utf8ToGbk("正在解析:12"));
}

TEST_P(Contract, MenuItemsGreyAndComeBack) {
    ui.setMenuItemDisabled(MenuItem::Save, true);
    EXPECT_TRUE(driver.disabled(MenuItem::Save));
    EXPECT_FALSE(driver.disabled(MenuItem::Open));
    ui.setMenuItemDisabled(MenuItem::Save, false);
    EXPECT_FALSE(driver.disabled(MenuItem::Save));
}

struct MessageCase {
    MessageStyle style;
    int press;  // -1: Escape
    int result;
};

TEST_P(Contract, MessageBoxesGiveTheCodeOfTheButtonPressed) {
    const MessageCase cases[] = {
        {MessageStyle::OkCancelInformation, kResultOk, kResultOk},
        {MessageStyle::OkCancelInformation, -1, kResultCancel},
        {MessageStyle::OkCancel, kResultCancel, kResultCancel},
        {MessageStyle::OkCancel, -1, kResultCancel},
        {MessageStyle::YesNoCancel, kResultYes, kResultYes},
        {MessageStyle::YesNoCancel, kResultNo, kResultNo},
        {MessageStyle::YesNoCancel, -1, kResultCancel},
        {MessageStyle::OkInformation, kResultOk, kResultOk},
    };
    for (const MessageCase& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.style) * 10 + c.press);
        if (c.press < 0)
            driver.escapeNext();
        else
            driver.pressNext(c.press);
        EXPECT_EQ(ui.showMessage("text", c.style, "title"), c.result);
    }
}

TEST_P(Contract, FileDialogKeepsTheChosenPathForTheNextShowing) {
    QTemporaryDir dir;
    const Text path = fromQt(dir.filePath("chosen.exe"));
    std::ofstream(gbkToUtf8(path)) << "x";
    FileDialogSettings open;
    open.filter = utf8ToGbk("可执行文件|*.exe|所有类型文件|*.*");

    driver.answerNextDialog(std::nullopt);
    EXPECT_FALSE(ui.showFileDialog(open));
    EXPECT_EQ(open.fileName, "");

    driver.answerNextDialog(path);
    ASSERT_TRUE(ui.showFileDialog(open));
    EXPECT_EQ(open.fileName, path);

    driver.answerNextDialog(std::nullopt);
    EXPECT_FALSE(ui.showFileDialog(open));
    EXPECT_EQ(driver.lastPrefill(), path) << "pre-filled with the last choice";
    EXPECT_EQ(open.fileName, path) << "a cancelled showing keeps it";
}

}  // namespace
}  // namespace kerbilo::testing
