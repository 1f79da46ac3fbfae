#include "ui/shell/program.h"

#include <QtGui/QImage>

#include "app/commands.h"
#include "picture/picture_pane.h"
#include "ui/shell/lifecycle.h"

namespace kerbilo {

namespace {

// The picture library's pane behind the window's picture widget.
class PaneRenderer final : public PictureRenderer {
  public:
    explicit PaneRenderer(PictureFit fit) {
        pane_.setDisplayMode(fit == PictureFit::Stretch ? DisplayMode::Stretched
                                                        : DisplayMode::Centred);
        // Runs on the pane's worker; frameReady only posts to the GUI thread.
        pane_.setFrameReadyCallback([this] {
            if (frameReady) frameReady();
        });
    }
    void setData(const ByteBuffer& data) override { pane_.setData(data); }
    QImage compose(QSize size, QColor background) override {
        pane_.setBackground(static_cast<Pixel>(background.rgb()));
        const Image image = pane_.compose(size.width(), size.height());
        if (image.empty()) return {};
        QImage out(image.width, image.height, QImage::Format_ARGB32);
        for (int y = 0; y < image.height; ++y)
            std::copy_n(&image.pixels[static_cast<std::size_t>(y) * image.width], image.width,
                        reinterpret_cast<Pixel*>(out.scanLine(y)));
        return out;
    }

  private:
    PicturePane pane_;
};

}  // namespace

Program::Program(FileServices& files) : files_(files) {}

Program::~Program() = default;

RendererFactory Program::renderers() {
    return [](PictureFit fit) { return std::make_unique<PaneRenderer>(fit); };
}

void Program::attach(MainWindow& window) {
    window_ = &window;
    state_ = std::make_unique<ProgramState>(files_, window.ui());
    state_->openDialog = initialDialog(FileDialogMode::Open);
    state_->saveDialog = initialDialog(FileDialogMode::Save);
    // Runs inside the operation that ran a loop: stop the event loop, keep the state.
    state_->endProgram = [this] { window_->endProgram(); };
}

ShellCommands Program::commands() {
    ShellCommands c;
    c.menuCommand = [this](MenuItem item) { runMenuCommand(*state_, item); };
    c.filesDropped = [this](const Text& dropped) { filesDroppedCommand(*state_, dropped); };
    // The tree's current item can change before the window is attached.
    c.showSelected = [this] {
        if (state_) showSelectedResource(*state_);
    };
    c.describeItem = [this](int item) { return describeTreeItem(*state_, item); };
    c.treeRightButtonPressed = [this](const std::function<void()>& letPressReachTree) {
        treeRightButtonPressed(*state_, letPressReachTree);
    };
    c.windowCreated = [this] {
        ProgramState& s = *state_;
        s.desktopFolder = desktopFolder();
        CreationTargets t;
        t.clearModified = [&s] { s.file.modified = false; };
        t.openDialog = &s.openDialog;
        t.saveDialog = &s.saveDialog;
        t.outputFolder = &s.outputFolder;
        t.files = &files_;
        t.registerDropTarget = [this] { window_->registerDropTarget(); };
        runCreationSteps(t, s.desktopFolder);
    };
    c.requestClose = [this] { return requestClose(*state_); };
    c.requestExit = [this] { return requestExit(*state_); };
    c.busy = [this] { return !commandsAllowed(*state_); };
    c.progress = [this] { return state_->progress.share(); };
    return c;
}

}  // namespace kerbilo
