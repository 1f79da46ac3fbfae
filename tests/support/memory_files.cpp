#include "memory_files.h"

#include <algorithm>
#include <cerrno>

#include "runtime/byte_ops.h"

namespace kerbilo::testing {

MemoryFileServices::MemoryFileServices(Text programDir) : programDir_(std::move(programDir)) {
    directories.insert("/");
    directories.insert(programDir_);
}

bool MemoryFileServices::parentExists(std::string_view path) const {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string_view::npos) return true;  // relative to the current directory
    std::string_view parent = path.substr(0, slash);
    while (parent.size() > 1 && parent.back() == '/') parent.remove_suffix(1);
    return directories.count(parent.empty() ? Text("/") : Text(parent)) > 0;
}

std::optional<ByteBuffer> MemoryFileServices::tryReadWholeFile(std::string_view path) {
    const Text p(path);
    ++reads[p];
    if (unreadable.count(p)) {
        lastFailure_ = FileError{EACCES, 0, {}};
        return std::nullopt;
    }
    if (directories.count(p)) {
        lastFailure_ = FileError{EISDIR, 0, {}};
        return std::nullopt;
    }
    auto it = files.find(p);
    if (it == files.end()) {
        lastFailure_ = FileError{ENOENT, 0, {}};
        return std::nullopt;
    }
    return it->second;
}

std::optional<ByteBuffer> MemoryFileServices::readWholeFileInSteps(std::string_view path,
                                                                   Progress& progress) {
    std::optional<ByteBuffer> whole = tryReadWholeFile(path);
    if (!whole) return whole;
    const auto size = static_cast<std::int64_t>(whole->size());
    progress.setStageTotal(size);
    const auto step = static_cast<std::int64_t>(std::max<std::size_t>(readStep, 1));
    for (std::int64_t at = 0; at < size;) {
        at = std::min(at + step, size);
        progress.reached(at);
        if (at < size) progress.step();
        if (progress.cancelled()) {
            lastFailure_ = FileError{ECANCELED, 0, {}};
            return std::nullopt;
        }
    }
    return whole;
}

bool MemoryFileServices::writeWholeFile(std::string_view path, std::span<const ByteBuffer> parts) {
    const Text p(path);
    if (p.empty() || !parentExists(p)) {
        lastFailure_ = FileError{ENOENT, 0, {}};
        return false;
    }
    if (directories.count(p)) {
        lastFailure_ = FileError{EISDIR, 0, {}};
        return false;
    }
    if (unwritable.count(p)) {
        lastFailure_ = FileError{ENOSPC, 0, {}};
        return false;
    }
    ByteBuffer all;
    for (const ByteBuffer& b : parts) all = concatBytes({all, b});
    files[p] = all;
    ++writes;
    return true;
}

bool MemoryFileServices::createDirectory(std::string_view path) {
    Text p(path);
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    if (p.empty() || pathExists(p)) {
        lastFailure_ = FileError{EEXIST, 0, {}};
        return false;
    }
    if (uncreatable.count(p)) {
        lastFailure_ = FileError{EROFS, 0, {}};
        return false;
    }
    if (!parentExists(p)) {
        lastFailure_ = FileError{ENOENT, 0, {}};
        return false;
    }
    directories.insert(p);
    return true;
}

bool MemoryFileServices::pathExists(std::string_view path) {
    const Text p(path);
    return files.count(p) || directories.count(p);
}

Text MemoryFileServices::content(const Text& path) const {
    auto it = files.find(path);
    return it == files.end() ? Text() : Text(it->second.view());
}

}  // namespace kerbilo::testing
