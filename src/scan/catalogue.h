#pragma once
// The resources found in the opened file. A resource's data is a view into the bytes as
// opened (plus its kind's fills) until a replacement gives it bytes of its own; its slot is
// where its stretch stands in the current in-memory copy, which replacements may move.
// Entries live in a deque so that millions of them grow without a reallocation spike.

#include <cstdint>
#include <deque>
#include <vector>

#include "runtime/byte_buffer.h"

namespace kerbilo {

struct Slot {
    std::int64_t offset = 0;  // 0-based, in the current in-memory copy
    std::int64_t length = 0;  // head's first byte through tail's last byte
    std::int64_t end() const { return offset + length; }
};

class ResourceCatalogue;

// A resource's label: its label position (1-based offset) in hexadecimal, as the tree, the
// listings and the export's file names show it.
Text resourceLabel(const ResourceCatalogue& catalogue, int n);

class ResourceCatalogue {
  public:
    // Empties the catalogue; later views refer to `opened`.
    void reset(ByteBuffer opened);

    // A kind's fills and name, shared by all its resources; returns the kind's index.
    int addKind(Text name, ByteBuffer headFill, ByteBuffer tailFill);

    // offset: 0-based head position as opened; stretch: head's first through tail's last byte.
    void append(int kind, std::int64_t offset, std::int64_t stretch);

    int size() const { return static_cast<int>(entries_.size()); }
    bool contains(std::int64_t n) const { return n >= 1 && n <= size(); }

    // 1 ≤ n ≤ size() for all of these.
    ByteBuffer data(int n) const;
    std::int64_t dataLength(int n) const;
    std::int64_t labelPosition(int n) const { return at(n).openedOffset + 1; }
    // The kind resource n was found as, and that kind's name.
    int kindOf(int n) const { return static_cast<int>(at(n).kind); }
    const Text& kindName(int kind) const { return kinds_[static_cast<std::size_t>(kind)].name; }
    const Text& kindNameOf(int n) const { return kindName(kindOf(n)); }
    // A kind's resources are numbered one after the other: n is the first of its run, where
    // the tree shows the kind's group.
    bool startsKind(int n) const { return n == 1 || kindOf(n) != kindOf(n - 1); }
    std::int64_t openedOffset(int n) const { return at(n).openedOffset; }
    Slot slot(int n) const { return {at(n).slotOffset, at(n).slotLength}; }

    // The resource takes bytes of its own; its slot is left alone.
    void replaceData(int n, ByteBuffer data);

    // Resource n's whole slot was rewritten with newLength bytes (its old length when the new
    // data fitted): slots starting at or after its old end move by the difference, slots
    // enclosing it grow by it, slots before it stay, and every other slot that met the
    // rewritten stretch (inside it, or across either of its edges) is overwritten.
    void rewriteSlot(int n, std::int64_t newLength);

    // True once another resource's replacement rewrote bytes of this one's slot without
    // enclosing it: the resource is no longer in the copy, and its slot means nothing.
    // Its data is still the catalogue's.
    bool overwritten(int n) const { return at(n).overwritten != 0; }

  private:
    struct Kind {
        Text name;
        ByteBuffer headFill;
        ByteBuffer tailFill;
    };
    struct Entry {
        std::int64_t openedOffset;
        std::int64_t openedStretch;
        std::int64_t slotOffset;
        std::int64_t slotLength;
        std::uint32_t kind : 31;
        std::uint32_t overwritten : 1;  // the flag fits beside the kind: millions of entries
        std::int32_t own;               // index into owned_, −1 while the data is a view
    };
    const Entry& at(int n) const { return entries_[static_cast<std::size_t>(n - 1)]; }

    ByteBuffer opened_;
    std::vector<Kind> kinds_;
    std::deque<Entry> entries_;
    std::vector<ByteBuffer> owned_;
};

}  // namespace kerbilo
