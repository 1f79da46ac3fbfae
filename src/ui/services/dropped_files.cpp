#include "ui/services/dropped_files.h"

namespace kerbilo {

Text filesDroppedText(std::span<const Text> paths) {
    if (paths.size() == 1) return paths[0];
    Text out;
    for (const Text& p : paths) out.append(p).append("\r\n");
    return out;
}

Text firstDroppedPath(const Text& dropped) {
    const std::size_t end = dropped.find("\r\n");
    return end == Text::npos ? dropped : dropped.substr(0, end);
}

}  // namespace kerbilo
