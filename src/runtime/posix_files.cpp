#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>
#include <vector>

#include "runtime/file_services.h"
#include "runtime/gbk.h"
#include "runtime/posix_detail.h"

namespace kerbilo {

using namespace posix_detail;

Text executableDirectory() {
    std::vector<char> buf(PATH_MAX + 1);
    const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    if (n <= 0) return {};
    std::string path(buf.data(), static_cast<std::size_t>(n));
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return {};
    path.resize(slash == 0 ? 1 : slash);  // "/" stays the root
    return utf8ToGbk(path);
}

bool enterDirectory(std::string_view gbkPath) {
    return !gbkPath.empty() && ::chdir(native(gbkPath).c_str()) == 0;
}

PosixFileServices::PosixFileServices(Text programDir) : programDir_(std::move(programDir)) {}

void PosixFileServices::fail(int err) {
    lastFailure_ = FileError{err, 0, {}};
}

bool PosixFileServices::createDirectory(std::string_view path) {
    if (path.empty()) {
        fail(ENOENT);
        return false;
    }
    if (::mkdir(native(path).c_str(), 0777) != 0) {
        fail(errno);
        return false;
    }
    return true;
}

bool PosixFileServices::pathExists(std::string_view path) {
    struct stat st {};
    return !path.empty() && ::lstat(native(path).c_str(), &st) == 0;
}

bool PosixFileServices::isDirectory(std::string_view path) {
    struct stat st {};
    return !path.empty() && ::stat(native(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace kerbilo
