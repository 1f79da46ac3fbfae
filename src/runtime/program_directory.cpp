#include "runtime/program_directory.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "runtime/file_services.h"
#include "runtime/gbk.h"

namespace kerbilo {

namespace {

std::string environment(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

}  // namespace

Text programDirectoryFor(const Text& executableDir, std::string_view home,
                         std::string_view xdgConfigHome) {
    if (!executableDir.empty() && ::access(gbkToUtf8(executableDir).c_str(), W_OK) == 0)
        return executableDir;
    if (home.empty() && xdgConfigHome.empty()) return executableDir;
    const std::string base = !xdgConfigHome.empty() && xdgConfigHome.front() == '/'
                                 ? std::string(xdgConfigHome)
                                 : std::string(home) + "/.config";
    const std::string dir = base + "/kerbilo";
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    return utf8ToGbk(dir);
}

Text programDirectory() {
    return programDirectoryFor(executableDirectory(), environment("HOME"),
                               environment("XDG_CONFIG_HOME"));
}

}  // namespace kerbilo
