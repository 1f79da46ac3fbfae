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
    // The window, known once it exists.
    void attach(MainWindow& window) {
        window_ = &window;
        ui_ = &window.ui();
    }

  private:
    FileServices& files_;
    MainWindow* window_ = nullptr;
    UiServices* ui_ = nullptr;
    bool modified_ = false;
    FileDialogSettings openDialog_;
    FileDialogSettings saveDialog_;
    Text outputFolder_;
};

}  // namespace kerbilo
