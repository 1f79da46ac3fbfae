#include "app_helpers.h"

#include "app/commands.h"
#include "config/config_files.h"

namespace kerbilo::testing {

ScanWorld::ScanWorld() {
    files.directories.insert("/data");
    ensureKindsFile(files);
}

bool ScanWorld::open(const ByteBuffer& data, const Text& path) {
    files.files[path] = data;
    return openAndScan(state, path);
}

}  // namespace kerbilo::testing
