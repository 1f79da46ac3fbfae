#include "scan_helpers.h"

#include "config/config_files.h"
#include "runtime/byte_ops.h"
#include "runtime/gbk.h"
#include "scan/open.h"

namespace kerbilo::testing {

ByteBuffer bytes(std::initializer_list<std::uint8_t> b) {
    return ByteBuffer(b);
}

ByteBuffer join(std::initializer_list<ByteBuffer> parts) {
    return concatBytes(parts);
}

ByteBuffer filler(std::size_t n, std::uint8_t value) {
    std::string s(n, static_cast<char>(value));
    return ByteBuffer::fromText(s);
}

ByteBuffer pngHead() {
    return bytes({0x89, 0x50, 0x4E, 0x47, 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 0x0D});
}
ByteBuffer pngTail() {
    return bytes({0, 0, 0, 0, 0x49, 0x45, 0x4E, 0x44, 0xAE, 0x42, 0x60, 0x82});
}
ByteBuffer png(const ByteBuffer& body) {
    return join({pngHead(), body, pngTail()});
}

ByteBuffer kindsFile(std::initializer_list<std::string> lines) {
    std::string text = "[Config]\r\n";
    for (const std::string& l : lines) text += l + "\r\n";
    return ByteBuffer::fromText(utf8ToGbk(text));
}

ByteBuffer slotKinds() {
    return kindsFile(
        {"资源种类数=1", "1=A", "A_head=AA01", "A_tail=02BB", "A头补齐=AA", "A文件后缀=bin"});
}

ByteBuffer res(std::size_t body, std::uint8_t fill) {
    return join({bytes({0xAA, 0x01}), filler(body, fill), bytes({0x02, 0xBB})});
}

ByteBuffer guard() {
    return filler(8, 0xEE);
}

Text gbk(const char* utf8) {
    return utf8ToGbk(utf8);
}

std::vector<Listed> listed(UiServices& ui, const ResourceCatalogue& catalogue) {
    std::vector<Listed> out;
    for (int i = 0; i < ui.treeItemCount(); ++i) {
        const int n = resourceOfItem(ui, catalogue, i);
        if (n == 0) continue;
        out.push_back({n, gbkToUtf8(catalogue.kindNameOf(n)), ui.treeItemText(i),
                       catalogue.openedOffset(n), catalogue.data(n)});
    }
    return out;
}

int itemOfResource(UiServices& ui, int n) {
    for (int i = 0; i < ui.treeItemCount(); ++i)
        if (ui.treeItemData(i) == n) return i;
    return -1;
}

DocWorld::DocWorld() {
    files.directories.insert("/data");
    ensureKindsFile(files);
}

bool DocWorld::open(const ByteBuffer& data, const Text& path) {
    files.files[path] = data;
    return openFile(services, doc, path, {}, view).opened;
}

bool DocWorld::openKindByKind(const ByteBuffer& data, const Text& path) {
    files.files[path] = data;
    OpenOptions kindByKind;
    kindByKind.oneSweep = false;
    return openFile(services, doc, path, kindByKind, view).opened;
}

}  // namespace kerbilo::testing
