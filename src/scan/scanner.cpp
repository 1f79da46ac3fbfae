#include "scan/scanner.h"

#include <algorithm>

#include "config/config_files.h"
#include "config/hex_codec.h"
#include "runtime/byte_ops.h"
#include "scan/texts.h"
#include "scan/tree.h"

namespace kerbilo {

namespace {

// A search through a large file that finds nothing would keep the window from answering
// for as long as it takes; it goes in stretches of a few MiB with a progress step between
// them. Stretches overlap by the needle's length less one, so no match is missed.
std::int64_t findInSteps(const std::uint8_t* data, std::size_t n, const ByteBuffer& needle,
                         Progress& progress) {
    constexpr std::size_t kStretch = std::size_t{16} << 20;
    if (needle.empty() || n < needle.size()) return -1;
    for (std::size_t from = 0;;) {
        const std::size_t end = n - from > kStretch ? from + kStretch : n;
        const std::size_t length = std::min(n, end + needle.size() - 1) - from;
        const std::int64_t at = findBytesIn(data + from, length, needle.data(), needle.size());
        if (at >= 0) return static_cast<std::int64_t>(from) + at;
        if (end >= n) return -1;
        from = end;
        progress.step();
    }
}

}  // namespace

void findKindMatches(const std::uint8_t* data, std::size_t n, const ByteBuffer& head,
                     const ByteBuffer& tail, Progress& progress,
                     const std::function<void(std::int64_t)>& onHead,
                     const std::function<void(const KindMatch&)>& onMatch) {
    std::size_t from = 0;      // next head search start
    std::int64_t tailAt = -1;  // first tail at or after the last tail search start
    for (;;) {
        progress.step();
        if (from >= n) return;
        const std::int64_t h = findInSteps(data + from, n - from, head, progress);
        if (h < 0) return;
        const std::size_t headAt = from + static_cast<std::size_t>(h);
        onHead(static_cast<std::int64_t>(headAt));
        // The tail may begin inside the head, from its second byte on.
        const std::size_t tailFrom = headAt + 1;
        if (tailAt < static_cast<std::int64_t>(tailFrom)) {
            const std::int64_t t =
                tailFrom >= n ? -1 : findInSteps(data + tailFrom, n - tailFrom, tail, progress);
            if (t < 0) return;  // no later head can have a tail either
            tailAt = static_cast<std::int64_t>(tailFrom) + t;
        }
        onMatch(
            {static_cast<std::int64_t>(headAt),
             tailAt + static_cast<std::int64_t>(tail.size()) - static_cast<std::int64_t>(headAt)});
        from = headAt + 1;
    }
}

bool scanKind(Services& services, Document& doc, int k) {
    FileServices& files = services.files;
    UiServices& ui = services.ui;
    Progress& progress = services.progress;
    const Text name = readKindName(files, k);
    if (name.empty()) return false;
    const ByteBuffer head = decodeHexText(readKindField(files, name, KindField::Head), progress);
    const ByteBuffer tail = decodeHexText(readKindField(files, name, KindField::Tail), progress);
    ByteBuffer headFill = decodeHexText(readKindField(files, name, KindField::HeadFill), progress);
    ByteBuffer tailFill = decodeHexText(readKindField(files, name, KindField::TailFill), progress);
    if (head.empty() || tail.empty()) return false;
    ui.setStatusText(
        0, concatText({scan_text::parsingKindPrefix(), name, scan_text::parsingKindSuffix()}));

    ResourceCatalogue& catalogue = doc.catalogue;
    const int before = catalogue.size();
    const int kind = catalogue.addKind(name, std::move(headFill), std::move(tailFill));
    // The scan reads the bytes as opened; events it lets run cannot change them (busy).
    const ByteBuffer bytes = doc.file.bytes;
    Text status = scan_text::parsingPrefix();
    const std::size_t prefixLength = status.size();
    findKindMatches(
        bytes.data(), bytes.size(), head, tail, progress,
        [&](std::int64_t headAt) {
            status.resize(prefixLength);
            status += intToText(headAt + 1);
            ui.setStatusText(0, status);
            progress.reached(headAt + 1);
        },
        [&](const KindMatch& m) { catalogue.append(kind, m.offset, m.stretch); });

    const int added = catalogue.size() - before;
    if (added >= 1) publishKindGroup(services, catalogue, name, before, added);
    return true;
}

}  // namespace kerbilo
