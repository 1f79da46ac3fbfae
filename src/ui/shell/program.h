#pragma once
// The program-wide state and the binding of the window's commands to the operations of
// the scanning and editing libraries.

#include <memory>

#include "app/program_state.h"
#include "runtime/file_services.h"
#include "ui/shell/main_window.h"
#include "ui/shell/shell_commands.h"

namespace kerbilo {

class Program {
  public:
    explicit Program(FileServices& files);
    ~Program();

    // The window is created with these, then attached.
    ShellCommands commands();
    static RendererFactory renderers();
    void attach(MainWindow& window);

    ProgramState& state() { return *state_; }

  private:
    FileServices& files_;
    MainWindow* window_ = nullptr;
    std::unique_ptr<ProgramState> state_;
};

}  // namespace kerbilo
