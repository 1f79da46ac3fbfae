#include "scan/scanner.h"

#include "config/config_files.h"
#include "config/hex_codec.h"
#include "runtime/byte_ops.h"
#include "scan/texts.h"
#include "scan/tree.h"

namespace kerbilo {

void findKindMatches(const std::uint8_t* data, std::size_t n, const ByteBuffer& head,
                     const ByteBuffer& tail, const std::function<void(std::int64_t)>& onHead,
                     const std::function<void(const KindMatch&)>& onMatch) {
    std::size_t from = 0;      // next head search start
    std::int64_t tailAt = -1;  // first tail at or after the last tail search start
    for (;;) {
        onHead(-1);
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

void scanKind(ProgramState& state, int k) {
    FileServices& files = state.files;
    UiServices& ui = state.ui;
    const Text name = readKindName(files, k);
    if (name.empty()) return;
    const ByteBuffer head = decodeHexText(readKindField(files, name, KindField::Head), &ui);
    const ByteBuffer tail = decodeHexText(readKindField(files, name, KindField::Tail), &ui);
    ByteBuffer headFill = decodeHexText(readKindField(files, name, KindField::HeadFill), &ui);
    ByteBuffer tailFill = decodeHexText(readKindField(files, name, KindField::TailFill), &ui);
    if (head.empty() || tail.empty()) return;
    ui.setStatusText(
        0, concatText({scan_text::parsingKindPrefix(), name, scan_text::parsingKindSuffix()}));

    const int before = state.catalogue.size();
    const int kind = state.catalogue.addKind(name, std::move(headFill), std::move(tailFill));
    // The scan reads the bytes as opened; events it lets run cannot change them (busy).
    const ByteBuffer bytes = state.file.bytes;
    Text status = scan_text::parsingPrefix();
    const std::size_t prefixLength = status.size();
    findKindMatches(
        bytes.data(), bytes.size(), head, tail,
        [&](std::int64_t headAt) {
            if (headAt < 0) {
                ui.processPendingEvents();
                return;
            }
            status.resize(prefixLength);
            status += intToText(headAt + 1);
            ui.setStatusText(0, status);
            LoopProgress& progress = state.progress;
            if (progress.share >= 0)
                progress.share = progress.base + progress.span * static_cast<double>(headAt + 1) /
                                                     static_cast<double>(bytes.size());
        },
        [&](const KindMatch& m) { state.catalogue.append(kind, m.offset, m.stretch); });

    const int added = state.catalogue.size() - before;
    if (added >= 1) publishKindGroup(state, name, before, added);
}

}  // namespace kerbilo
