#pragma once
// What the window routes its menu items and events to. The window knows nothing of the
// operations behind them, so tests can drive it with stand-ins. An empty function is a
// command that does nothing.

#include <functional>

#include "runtime/byte_buffer.h"

namespace kerbilo {

struct ShellCommands {
    std::function<void()> open;
    std::function<void(const Text& dropped)> filesDropped;
    std::function<void()> setOutputFolder;
    std::function<bool()> save;  // true only when the file was written
    std::function<void()> replace;
    std::function<void()> exportOne;
    std::function<void()> exportAll;
    std::function<void()> showSelected;            // current tree item changed, double click
    std::function<void()> treeRightButtonPressed;  // shows the Edit pop-up

    // Window-created steps: they need the window's services, so the window calls them.
    std::function<void()> windowCreated;

    std::function<bool()> modified;
    // A scan or export of all resources is letting events through.
    std::function<bool()> busy;
    // Share of the long loop done, 0 … 1; negative when it tells none.
    std::function<double()> progress;
};

}  // namespace kerbilo
