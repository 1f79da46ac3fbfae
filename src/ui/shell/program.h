#pragma once
// The program-wide state and the operations behind the window's commands.

#include <memory>

#include "runtime/file_services.h"
#include "ui/services/ui_services.h"
#include "ui/shell/main_window.h"
#include "ui/shell/shell_commands.h"

namespace kerbilo {

class Program {
public:
    explicit Program(FileServices& files);
    ~Program();

    ShellCommands commands();
    RendererFactory renderers();
    // The window's services, known once the window exists.
    void attach(UiServices& ui) { ui_ = &ui; }

private:
    FileServices& files_;
    UiServices* ui_ = nullptr;
    bool modified_ = false;
    FileDialogSettings openDialog_;
    FileDialogSettings saveDialog_;
    Text outputFolder_;
};

}  // namespace kerbilo
