#include "ui/shell/program.h"

#include <QtGui/QImage>

#include "app/commands.h"
#include "picture/picture_pane.h"
#include "ui/shell/assets.h"
#include "ui/shell/lifecycle.h"

namespace kerbilo {

namespace {

// The picture library's pane behind the window's picture widget: it decodes and composes
// on its worker, and the widget paints the buffer it hands over without copying it.
class PaneRenderer final : public PictureRenderer {
  public:
    explicit PaneRenderer(PictureFit fit)
        : mode_(fit == PictureFit::Stretch ? DisplayMode::Stretched : DisplayMode::Centred) {
        pane_.setDisplayMode(mode_);
        // Both run on the pane's worker; frameReady only posts to the GUI thread.
        pane_.setFrameReadyCallback([this] {
            if (frameReady) frameReady();
        });
        pane_.setPictureReadyCallback([this] {
            if (frameReady) frameReady();
        });
    }
    void setData(const ByteBuffer& data) override { pane_.setData(data); }
    void setView(QSize size, QColor background) override {
        pane_.setBackground(static_cast<Pixel>(background.rgb()));
        pane_.setViewSize(size.width(), size.height());
    }
    bool ready() const override { return pane_.ready(); }
    DisplayMode defaultMode() const override { return mode_; }
    void setLayout(DisplayMode mode, const ViewOptions& options) override {
        pane_.setDisplayMode(mode);
        pane_.setViewOptions(options);
    }
    QSize pictureSize() const override {
        const auto [width, height] = pane_.pictureSize();
        return {width, height};
    }
    QColor background() const override { return QColor::fromRgb(kDefaultPaneBackground); }
    QImage compose(QSize size, QColor background) override {
        pane_.setBackground(static_cast<Pixel>(background.rgb()));
        auto image = pane_.composed(size.width(), size.height());
        if (!image || image->empty()) return {};
        // Opaque 0xFFRRGGBB pixels are Qt's RGB32; the image keeps the buffer alive.
        const auto* pixels = reinterpret_cast<const uchar*>(image->pixels.data());
        const int width = image->width, height = image->height;
        return QImage(
            pixels, width, height, static_cast<qsizetype>(width) * 4, QImage::Format_RGB32,
            [](void* kept) { delete static_cast<std::shared_ptr<const Image>*>(kept); },
            new std::shared_ptr<const Image>(std::move(image)));
    }

  private:
    DisplayMode mode_;
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
    state_->replaceDialog = initialDialog(FileDialogMode::Open);
    state_->shownPicture = logoPicture();  // what the window shows first
    // Runs inside the operation that ran a loop: stop the event loop, keep the state.
    state_->endProgram = [this] { window_->endProgram(); };
}

ShellCommands Program::commands() {
    ShellCommands c;
    c.menuCommand = [this](MenuItem item) { runMenuCommand(*state_, item); };
    c.filesDropped = [this](const std::vector<Text>& paths) {
        filesDroppedCommand(*state_, paths);
    };
    // The tree's current item can change before the window is attached.
    c.showSelected = [this] {
        if (state_) showSelectedResource(*state_);
    };
    c.describeItem = [this](int item) { return describeTreeItem(*state_, item); };
    c.structureScanOn = [this] { return state_ && structureScanOn(*state_); };
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
    c.recentFiles = [this] { return readRecentFiles(files_); };
    c.openPath = [this](const Text& path) {
        if (state_) openAndScan(*state_, path);
    };
    c.document = [this]() -> const Document* { return state_.get(); };
    c.exportInto = [this](int n, const Text& folder) -> std::optional<Text> {
        if (!state_ || !commandsAllowed(*state_)) return std::nullopt;
        return exportIntoFolder(*state_, n, folder);
    };
    c.storedLayout = [this] { return readWindowLayout(files_); };
    c.storeLayout = [this](const WindowLayout& layout) { writeWindowLayout(files_, layout); };
    c.requestClose = [this] { return requestClose(*state_); };
    c.busy = [this] { return !commandsAllowed(*state_); };
    c.cancellable = [this] { return state_->busy && state_->progress.cancellable(); };
    c.cancel = [this] { cancelBusyLoop(*state_); };
    c.progress = [this] { return state_->progress.share(); };
    return c;
}

}  // namespace kerbilo
