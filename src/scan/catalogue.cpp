#include "scan/catalogue.h"

#include "config/hex_codec.h"
#include "runtime/byte_ops.h"

namespace kerbilo {

Text resourceLabel(const ResourceCatalogue& catalogue, int n) {
    return formatHex(catalogue.labelPosition(n));
}

void ResourceCatalogue::reset(ByteBuffer opened) {
    opened_ = std::move(opened);
    kinds_.clear();
    std::deque<Entry>().swap(entries_);  // give the memory back, not just the elements
    owned_.clear();
}

int ResourceCatalogue::addKind(Text name, ByteBuffer headFill, ByteBuffer tailFill) {
    kinds_.push_back({std::move(name), std::move(headFill), std::move(tailFill)});
    return static_cast<int>(kinds_.size()) - 1;
}

void ResourceCatalogue::append(int kind, std::int64_t offset, std::int64_t stretch) {
    entries_.push_back({offset, stretch, offset, stretch, static_cast<std::uint32_t>(kind), 0, -1});
}

ByteBuffer ResourceCatalogue::data(int n) const {
    const Entry& e = at(n);
    if (e.own >= 0) return owned_[static_cast<std::size_t>(e.own)];
    const Kind& k = kinds_[static_cast<std::size_t>(e.kind)];
    const auto off = static_cast<std::size_t>(e.openedOffset);
    const auto len = static_cast<std::size_t>(e.openedStretch);
    // The usual configuration (head fill = head's first byte, no tail fill) is a pure view.
    if (k.tailFill.empty() && k.headFill.size() == 1 && k.headFill[0] == opened_[off])
        return opened_.slice(off, len);
    return concatBytes({k.headFill, opened_.slice(off + 1, len - 1), k.tailFill});
}

std::int64_t ResourceCatalogue::dataLength(int n) const {
    const Entry& e = at(n);
    if (e.own >= 0) return bufferLength(owned_[static_cast<std::size_t>(e.own)]);
    const Kind& k = kinds_[static_cast<std::size_t>(e.kind)];
    return bufferLength(k.headFill) + e.openedStretch - 1 + bufferLength(k.tailFill);
}

void ResourceCatalogue::replaceData(int n, ByteBuffer data) {
    Entry& e = entries_[static_cast<std::size_t>(n - 1)];
    if (e.own < 0) {
        e.own = static_cast<std::int32_t>(owned_.size());
        owned_.push_back(std::move(data));
    } else {
        owned_[static_cast<std::size_t>(e.own)] = std::move(data);
    }
}

void ResourceCatalogue::rewriteSlot(int n, std::int64_t newLength) {
    Entry& target = entries_[static_cast<std::size_t>(n - 1)];
    const std::int64_t start = target.slotOffset;
    const std::int64_t oldEnd = target.slotOffset + target.slotLength;
    const std::int64_t delta = newLength - target.slotLength;
    for (Entry& e : entries_) {
        if (&e == &target || e.overwritten) continue;
        const std::int64_t end = e.slotOffset + e.slotLength;
        if (e.slotOffset >= oldEnd)
            e.slotOffset += delta;
        else if (e.slotOffset <= start && end >= oldEnd)
            e.slotLength += delta;
        else if (end > start)
            e.overwritten = 1;  // its bytes were partly or wholly replaced
    }
    target.slotLength = newLength;
}

}  // namespace kerbilo
