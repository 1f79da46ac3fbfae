#pragma once
// The resources found in the opened file. A resource's data is a view into the bytes as
// opened (plus its kind's fills) until a replacement gives it bytes of its own; its slot is
// where its stretch stands in the current in-memory copy, which replacements may move.
// Entries live in a deque so that millions of them grow without a reallocation spike.

#include <cstdint>
#include <deque>
#include <vector>

#include "runtime/byte_buffer.h"
#include "scan/pe_image.h"

namespace kerbilo {

struct Slot {
    std::int64_t offset = 0;  // 0-based, in the current in-memory copy
    std::int64_t length = 0;  // head's first byte through tail's last byte
    std::int64_t end() const { return offset + length; }
};

class ResourceCatalogue;

// One step into compressed data: the `ordinal`-th archive (or gzip or zlib stream) that the
// structure scan finds in the bytes the step starts from, and for an archive the entry's
// index. Ordinals, unlike offsets, survive the rewriting of what lies before.
struct PackedStep {
    bool stream = false;
    int ordinal = 0;
    int entry = 0;
};

// Where a resource found through a file's own structure came from, rather than by a kind's
// signature: the file it lies in (a container: a Windows program at some offset of the
// opened bytes), and its place there.
struct ResourceOrigin {
    int container = 0;     // ResourceCatalogue::container; −1 inside compressed data
    Text source;           // as listings show it: "pe:ICON/1/1033", "pe@0x1A00:BITMAP/2/2052"
    Text suffix;           // the export suffix: what the data was composed as
    bool program = false;  // one of a Windows program's pictures (else found by a kind's
                           // signature, inside compressed data)
    pe::ResourceName type;
    pe::ResourceName name;
    pe::ResourceName language;
    // Inside compressed data (container −1): the steps from the opened bytes inward, and the
    // resource's stretch in the innermost content (length −1: a program's picture there,
    // which is not replaced).
    std::vector<PackedStep> chain;
    std::int64_t innerOffset = 0;
    std::int64_t innerLength = -1;
};

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

    // A file inside the opened bytes whose structure leads to resources; returns its index.
    // Its slot follows replacements as resources' slots do.
    int addContainer(Slot slot);
    Slot container(int index) const { return containers_[static_cast<std::size_t>(index)]; }
    int containerCount() const { return static_cast<int>(containers_.size()); }
    // A resource found through a container's structure: `data` (composed from the
    // structure: an icon's directory rebuilt, a bitmap's file header) is what it is, and
    // [offset, offset + length) the bytes it was found at.
    void appendFound(int kind, std::int64_t offset, std::int64_t length, ByteBuffer data,
                     ResourceOrigin origin);
    // Null for a resource found by signature.
    const ResourceOrigin* origin(int n) const;
    // Whether any resource has an origin: only then can two share a label and a suffix.
    bool hasOrigins() const { return !origins_.empty(); }
    // After its container was rewritten: where the resource lies now and what it is.
    void refreshFound(int n, Slot slot, ByteBuffer data);
    // A resource inside compressed data after its container was rewritten: where the
    // outermost container lies now, and where it lies in its content.
    void refreshPacked(int n, Slot slot, std::int64_t innerOffset, std::int64_t innerLength,
                       ByteBuffer data);
    // The resource is no longer in the copy (its container lost it).
    void markOverwritten(int n) { entries_[static_cast<std::size_t>(n - 1)].overwritten = 1; }

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

    // Bytes [offset, offset + oldLength) of the copy became newLength bytes: the same rules
    // for every slot and container (inserting at an offset moves what starts there).
    void rewriteRange(std::int64_t offset, std::int64_t oldLength, std::int64_t newLength);

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
    struct Owned {
        ByteBuffer data;
        std::int32_t origin = -1;  // index into origins_ for a resource found by structure
    };
    // Moves, grows or marks as overwritten every slot but `except` for the rewrite.
    void rewrite(const Entry* except, std::int64_t start, std::int64_t oldEnd, std::int64_t delta);
    const Entry& at(int n) const { return entries_[static_cast<std::size_t>(n - 1)]; }

    ByteBuffer opened_;
    std::vector<Kind> kinds_;
    std::deque<Entry> entries_;
    std::vector<Owned> owned_;
    std::vector<ResourceOrigin> origins_;
    std::vector<Slot> containers_;
};

}  // namespace kerbilo
