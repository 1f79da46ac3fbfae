#include "ui/shell/lifecycle.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/texts.h"
#include "config/config_files.h"
#include "runtime/gbk.h"

namespace kerbilo {

namespace {

namespace fs = std::filesystem;

bool isDirectory(const std::string& path) {
    std::error_code ec;
    return !path.empty() && fs::is_directory(path, ec);
}

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

std::string configHome(std::string_view home, std::string_view xdgConfigHome) {
    // A relative XDG_CONFIG_HOME is invalid and must be ignored.
    if (!xdgConfigHome.empty() && xdgConfigHome.front() == '/') return std::string(xdgConfigHome);
    return std::string(home) + "/.config";
}

// XDG_DESKTOP_DIR from user-dirs.dirs: "$HOME/…" or an absolute path, in double quotes.
std::string xdgDesktop(std::string_view home, const std::string& dirsFile) {
    std::ifstream in(dirsFile);
    std::string line, found;
    while (std::getline(in, line)) {
        const std::size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line.compare(start, 16, "XDG_DESKTOP_DIR=") != 0)
            continue;
        std::string value = line.substr(start + 16);
        if (value.size() < 2 || value.front() != '"') continue;
        const std::size_t close = value.find('"', 1);
        if (close == std::string::npos) continue;
        value = value.substr(1, close - 1);
        if (value.rfind("$HOME", 0) == 0)
            value = std::string(home) + value.substr(5);
        else if (value.empty() || value.front() != '/')
            continue;
        found = value;  // the last assignment wins, as in a shell
    }
    return found;
}

}  // namespace

Text desktopFolder(std::string_view home, std::string_view xdgConfigHome) {
    std::string path;
    if (!home.empty()) {
        path = xdgDesktop(home, configHome(home, xdgConfigHome) + "/user-dirs.dirs");
        if (!isDirectory(path)) path = std::string(home) + "/Desktop";
    }
    if (!isDirectory(path)) return {};
    if (path.back() != '/') path += '/';
    return utf8ToGbk(path);
}

Text desktopFolder() {
    return desktopFolder(env("HOME"), env("XDG_CONFIG_HOME"));
}

void runCreationSteps(CreationTargets& t, const Text& desktop) {
    if (t.clearModified) t.clearModified();
    if (t.openDialog) t.openDialog->initialFolder = desktop;
    if (t.files) ensureKindsFile(*t.files);
    if (t.registerDropTarget) t.registerDropTarget();
    if (t.files && t.outputFolder) {
        *t.outputFolder = readOutputFolder(*t.files);
        if (t.saveDialog) t.saveDialog->initialFolder = *t.outputFolder;
    }
}

FileDialogSettings initialDialog(FileDialogMode mode) {
    FileDialogSettings d;
    d.mode = mode;
    d.filter = app_text::openFilter();
    return d;
}

}  // namespace kerbilo
