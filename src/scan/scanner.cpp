#include "scan/scanner.h"

#include "config/config_files.h"
#include "config/hex_codec.h"
#include "picture/inspect.h"
#include "runtime/byte_ops.h"
#include "scan/texts.h"
#include "scan/tree.h"

namespace kerbilo {

void findKindMatches(const std::uint8_t* data, std::size_t n, const ByteBuffer& head,
                     const ByteBuffer& tail, Progress& progress,
                     const std::function<void(std::int64_t)>& onHead,
                     const std::function<void(const KindMatch&)>& onMatch) {
    std::size_t from = 0;      // next head search start
    std::int64_t tailAt = -1;  // first tail at or after the last tail search start
    for (;;) {
        progress.step();
        if (from >= n) return;
        const std::int64_t h = findBytesIn(data + from, n - from, head.data(), head.size());
        if (h < 0) return;
        const std::size_t headAt = from + static_cast<std::size_t>(h);
        onHead(static_cast<std::int64_t>(headAt));
        // The tail may begin inside the head, from its second byte on.
        const std::size_t tailFrom = headAt + 1;
        if (tailAt < static_cast<std::int64_t>(tailFrom)) {
            const std::int64_t t = tailFrom >= n ? -1
                                                 : findBytesIn(data + tailFrom, n - tailFrom,
                                                               tail.data(), tail.size());
            if (t < 0) return;  // no later head can have a tail either
            tailAt = static_cast<std::int64_t>(tailFrom) + t;
        }
        onMatch(
            {static_cast<std::int64_t>(headAt),
             tailAt + static_cast<std::int64_t>(tail.size()) - static_cast<std::int64_t>(headAt)});
        from = headAt + 1;
    }
}

void findKindMatchesByFormat(const std::uint8_t* data, std::size_t n, const ByteBuffer& head,
                             const ByteBuffer& tail, Progress& progress,
                             const std::function<void(std::int64_t)>& onHead,
                             const std::function<void(const KindMatch&)>& onMatch) {
    std::size_t from = 0;
    std::int64_t tailAt = -1;        // as in findKindMatches
    bool tailsLeft = !tail.empty();  // false once no tail follows the last search start
    for (;;) {
        progress.step();
        if (from >= n) return;
        const std::int64_t h = findBytesIn(data + from, n - from, head.data(), head.size());
        if (h < 0) return;
        const std::size_t headAt = from + static_cast<std::size_t>(h);
        const auto at = static_cast<std::int64_t>(headAt);
        onHead(at);
        from = headAt + 1;
        if (const std::optional<std::int64_t> extent = formatExtent({data + headAt, n - headAt})) {
            onMatch({at, *extent});
            continue;
        }
        if (!tailsLeft) continue;
        if (tailAt < static_cast<std::int64_t>(from)) {
            const std::int64_t t = findBytesIn(data + from, n - from, tail.data(), tail.size());
            if (t < 0) {
                tailsLeft = false;
                continue;
            }
            tailAt = static_cast<std::int64_t>(from) + t;
        }
        onMatch({at, tailAt + static_cast<std::int64_t>(tail.size()) - at});
    }
}

bool scanKind(Services& services, Document& doc, int k, const OpenOptions& options) {
    FileServices& files = services.files;
    UiServices& ui = services.ui;
    Progress& progress = services.progress;
    const Text name = readKindName(files, k);
    if (name.empty()) return false;
    const ByteBuffer head = decodeHexText(readKindField(files, name, KindField::Head), progress);
    const ByteBuffer tail = decodeHexText(readKindField(files, name, KindField::Tail), progress);
    ByteBuffer headFill = decodeHexText(readKindField(files, name, KindField::HeadFill), progress);
    ByteBuffer tailFill = decodeHexText(readKindField(files, name, KindField::TailFill), progress);
    const bool byFormat = options.endsByFormat || readKindEndsByFormat(files, name);
    if (head.empty() || (tail.empty() && !byFormat)) return false;
    ui.setStatusText(
        0, concatText({scan_text::parsingKindPrefix(), name, scan_text::parsingKindSuffix()}));

    ResourceCatalogue& catalogue = doc.catalogue;
    const int before = catalogue.size();
    const int kind = catalogue.addKind(name, std::move(headFill), std::move(tailFill));
    // The scan reads the bytes as opened; events it lets run cannot change them (busy).
    const ByteBuffer bytes = doc.file.bytes;
    Text status = scan_text::parsingPrefix();
    const std::size_t prefixLength = status.size();
    (byFormat ? findKindMatchesByFormat : findKindMatches)(
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
