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
    origins_.clear();
    containers_.clear();
}

int ResourceCatalogue::addKind(Text name, ByteBuffer headFill, ByteBuffer tailFill) {
    kinds_.push_back({std::move(name), std::move(headFill), std::move(tailFill)});
    return static_cast<int>(kinds_.size()) - 1;
}

void ResourceCatalogue::append(int kind, std::int64_t offset, std::int64_t stretch) {
    entries_.push_back({offset, stretch, offset, stretch, static_cast<std::uint32_t>(kind), 0, -1});
}

int ResourceCatalogue::addContainer(Slot slot) {
    containers_.push_back(slot);
    return static_cast<int>(containers_.size()) - 1;
}

void ResourceCatalogue::appendFound(int kind, std::int64_t offset, std::int64_t length,
                                    ByteBuffer data, ResourceOrigin origin) {
    origins_.push_back(std::move(origin));
    owned_.push_back({std::move(data), static_cast<std::int32_t>(origins_.size()) - 1});
    entries_.push_back({offset, length, offset, length, static_cast<std::uint32_t>(kind), 0,
                        static_cast<std::int32_t>(owned_.size()) - 1});
}

const ResourceOrigin* ResourceCatalogue::origin(int n) const {
    const Entry& e = at(n);
    if (e.own < 0) return nullptr;
    const std::int32_t o = owned_[static_cast<std::size_t>(e.own)].origin;
    return o < 0 ? nullptr : &origins_[static_cast<std::size_t>(o)];
}

void ResourceCatalogue::refreshFound(int n, Slot slot, ByteBuffer data) {
    Entry& e = entries_[static_cast<std::size_t>(n - 1)];
    e.slotOffset = slot.offset;
    e.slotLength = slot.length;
    e.overwritten = 0;
    owned_[static_cast<std::size_t>(e.own)].data = std::move(data);
}

void ResourceCatalogue::refreshPacked(int n, Slot slot, std::int64_t innerOffset,
                                      std::int64_t innerLength, ByteBuffer data) {
    refreshFound(n, slot, std::move(data));
    const Entry& e = at(n);
    ResourceOrigin& o =
        origins_[static_cast<std::size_t>(owned_[static_cast<std::size_t>(e.own)].origin)];
    o.innerOffset = innerOffset;
    o.innerLength = innerLength;
}

ByteBuffer ResourceCatalogue::data(int n) const {
    const Entry& e = at(n);
    if (e.own >= 0) return owned_[static_cast<std::size_t>(e.own)].data;
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
    if (e.own >= 0) return bufferLength(owned_[static_cast<std::size_t>(e.own)].data);
    const Kind& k = kinds_[static_cast<std::size_t>(e.kind)];
    return bufferLength(k.headFill) + e.openedStretch - 1 + bufferLength(k.tailFill);
}

void ResourceCatalogue::replaceData(int n, ByteBuffer data) {
    Entry& e = entries_[static_cast<std::size_t>(n - 1)];
    if (e.own < 0) {
        e.own = static_cast<std::int32_t>(owned_.size());
        owned_.push_back({std::move(data), -1});
    } else {
        owned_[static_cast<std::size_t>(e.own)].data = std::move(data);
    }
}

void ResourceCatalogue::rewriteSlot(int n, std::int64_t newLength) {
    Entry& target = entries_[static_cast<std::size_t>(n - 1)];
    rewrite(&target, target.slotOffset, target.slotOffset + target.slotLength,
            newLength - target.slotLength);
    target.slotLength = newLength;
}

void ResourceCatalogue::rewriteRange(std::int64_t offset, std::int64_t oldLength,
                                     std::int64_t newLength) {
    rewrite(nullptr, offset, offset + oldLength, newLength - oldLength);
}

void ResourceCatalogue::rewrite(const Entry* except, std::int64_t start, std::int64_t oldEnd,
                                std::int64_t delta) {
    // An insertion goes before a slot that starts where it does, and inside one only when
    // strictly within: bytes added at a slot's end are not the slot's.
    const bool insertion = start == oldEnd;
    const auto moves = [&](const Slot& s) { return s.offset >= oldEnd; };
    const auto encloses = [&](const Slot& s) {
        return insertion ? s.offset < start && s.end() > start
                         : s.offset <= start && s.end() >= oldEnd;
    };
    for (Entry& e : entries_) {
        if (&e == except || e.overwritten) continue;
        Slot s{e.slotOffset, e.slotLength};
        if (moves(s))
            e.slotOffset += delta;
        else if (encloses(s))
            e.slotLength += delta;
        else if (s.end() > start && !insertion)
            e.overwritten = 1;  // its bytes were partly or wholly replaced
    }
    for (Slot& c : containers_) {
        if (moves(c))
            c.offset += delta;
        else if (encloses(c))
            c.length += delta;
    }
}

}  // namespace kerbilo
