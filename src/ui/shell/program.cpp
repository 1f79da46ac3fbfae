#include "ui/shell/program.h"

#include "ui/shell/lifecycle.h"

namespace kerbilo {

Program::Program(FileServices& files)
    : files_(files),
      openDialog_(initialDialog(FileDialogMode::Open)),
      saveDialog_(initialDialog(FileDialogMode::Save)) {}

Program::~Program() = default;

ShellCommands Program::commands() {
    ShellCommands c;
    c.windowCreated = [this] {
        CreationTargets t;
        t.clearModified = [this] { modified_ = false; };
        t.openDialog = &openDialog_;
        t.saveDialog = &saveDialog_;
        t.outputFolder = &outputFolder_;
        t.files = &files_;
        t.registerDropTarget = [this] { window_->registerDropTarget(); };
        runCreationSteps(t, desktopFolder());
    };
    c.modified = [this] { return modified_; };
    return c;
}

RendererFactory Program::renderers() {
    return makeQtImageRenderer;
}

}  // namespace kerbilo
