#include "config/config_files.h"
#include "edit/edit.h"

namespace kerbilo {

Text findExtension(const Text& name) {
    const std::size_t dot = name.rfind('.');
    return dot == Text::npos ? Text() : name.substr(dot);
}

WriteResult saveCopy(FileServices& files, const LoadedFile& file, const Text& path) {
    if (files.writeWholeFile(path, file.bytes)) return {true, {}};
    return {false, files.lastError()};
}

WriteResult storeOutputFolder(FileServices& files, Text& outputFolder, const Text& folder) {
    outputFolder = folder;
    if (writeOutputFolder(files, folder)) return {true, {}};
    return {false, files.lastError()};
}

}  // namespace kerbilo
