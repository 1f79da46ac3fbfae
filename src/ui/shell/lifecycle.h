#pragma once
// Start-up and closing, without any toolkit: the window calls these with its services.

#include <functional>
#include <string_view>

#include "app/ui_services.h"
#include "runtime/byte_buffer.h"
#include "runtime/file_services.h"

namespace kerbilo {

// The user's desktop folder with a trailing "/", or empty: the XDG desktop directory from
// user-dirs.dirs, else $HOME/Desktop; only a folder that exists counts. Never creates one.
Text desktopFolder(std::string_view home, std::string_view xdgConfigHome);
Text desktopFolder();  // from the process environment

// The state the creation steps set, wherever it lives.
struct CreationTargets {
    std::function<void()> clearModified;
    FileDialogSettings* openDialog = nullptr;
    FileDialogSettings* saveDialog = nullptr;
    Text* outputFolder = nullptr;
    FileServices* files = nullptr;
    std::function<void()> registerDropTarget;
};

// The steps run once the main window exists, in their order.
void runCreationSteps(CreationTargets& targets, const Text& desktop);

// The dialogs as the window creates them: both with the initial filter.
FileDialogSettings initialDialog(FileDialogMode mode);

}  // namespace kerbilo
