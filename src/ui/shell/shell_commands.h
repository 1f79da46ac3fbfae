#pragma once
// What the window routes its menu items and events to. The window knows nothing of the
// operations behind them, so tests can drive it with stand-ins. An empty function is a
// command that does nothing.

#include <functional>
#include <vector>

#include <optional>

#include "app/close_decision.h"
#include "app/ui_services.h"
#include "config/config_files.h"
#include "runtime/byte_buffer.h"
#include "scan/document.h"

namespace kerbilo {

struct ShellCommands {
    // Open, SetOutputFolder, StructureScan, Save, ReplaceResource, ExportResource,
    // ExportAllResources.
    std::function<void(MenuItem)> menuCommand;
    std::function<void(const std::vector<Text>& paths)> filesDropped;
    std::function<void()> showSelected;  // current tree item changed, double click
    // Whether the checkable "结构扫描" item is checked, asked each time the menu opens: the
    // kinds file may have been edited meanwhile.
    std::function<bool()> structureScanOn;
    // What the tooltip of a tree item says (GBK, lines split by CR LF); unset: its text.
    std::function<Text(int item)> describeItem;
    // Shows the Edit pop-up, then calls letPressReachTree, then runs the chosen command.
    std::function<void(const std::function<void()>& letPressReachTree)> treeRightButtonPressed;

    // The files opened last, the latest first (GBK paths), read each time the menu opens;
    // opening one of them as File > Open opens a file.
    std::function<std::vector<Text>()> recentFiles;
    std::function<void(const Text& path)> openPath;
    // The window's size and its tree's width as the user left them last time, and keeping
    // them when the window closes having changed them.
    std::function<std::optional<WindowLayout>()> storedLayout;
    std::function<void(const WindowLayout&)> storeLayout;

    // What was found in the open file, for the views that show it besides the tree; read
    // again after each command that may change it. Null before the window is attached.
    std::function<const Document*()> document;
    // Writes resource n into a folder under the name export all gives it, for a drag out
    // of the window: the path (GBK), or nothing when it could not be written.
    std::function<std::optional<Text>(int n, const Text& folder)> exportInto;

    // Window-created steps: they need the window's services, so the window calls them.
    std::function<void()> windowCreated;
    // Closing the window and Exit. Deferred: a long loop is running; the logic ends the
    // program itself afterwards if the close is then allowed.
    std::function<CloseDecision()> requestClose;

    // A scan or export of all resources is letting events through.
    std::function<bool()> busy;
    // The running loop can be cancelled (an open), and cancelling it.
    std::function<bool()> cancellable;
    std::function<void()> cancel;
    // Share of the long loop done, 0 … 1; negative when it tells none.
    std::function<double()> progress;
};

}  // namespace kerbilo
