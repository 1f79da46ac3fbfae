#include "config/config_files.h"
#include "edit/edit.h"
#include "runtime/ini.h"

namespace kerbilo {

Text findExtension(const Text& name) {
    const std::size_t dot = name.rfind('.');
    return dot == Text::npos ? Text() : name.substr(dot);
}

WriteResult saveCopy(FileServices& files, const LoadedFile& file, const Text& path) {
    if (files.writeWholeFile(path, file.bytes)) return {true, {}};
    return {false, files.lastFailure()};
}

StoreResult storeOutputFolder(FileServices& files, Text& outputFolder, const Text& folder) {
    outputFolder = folder;
    StoreResult result;
    if (hasLineBreak(folder)) {
        result.unstorable = true;
        result.error = FileError{kLineBreakInName, 0, {}};
        return result;
    }
    result.written = writeOutputFolder(files, folder);
    if (!result.written) result.error = files.lastFailure();
    return result;
}

}  // namespace kerbilo
