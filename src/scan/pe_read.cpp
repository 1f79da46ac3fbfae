// Reading a Windows image's headers and walking its resource directory. The bytes may be
// anything: every read is checked against [data, data + size), declared counts are only
// believed as far as the bytes hold them, and each directory table is expanded at most
// once, so the work is bounded by the bytes rather than by what they claim.

#include <algorithm>
#include <cstring>
#include <unordered_set>

#include "scan/pe_detail.h"
#include "scan/pe_image.h"

namespace kerbilo::pe {

namespace {

using detail::get16;
using detail::get32;

constexpr std::uint32_t kHighBit = 0x80000000u;

bool knownMachine(std::uint16_t machine) {
    switch (machine) {
        case 0x014c:  // x86
        case 0x8664:  // x64
        case 0xaa64:  // ARM64
        case 0x01c0:  // ARM
        case 0x01c4:  // ARM Thumb-2
            return true;
        default:
            return false;
    }
}

bool holds(std::size_t size, std::uint64_t offset, std::uint64_t length) {
    return offset <= size && length <= size - offset;
}

// Where a section's raw data holds RVAs, clipped to what lies before `extent` (the end of
// the bytes when the image was cut short).
struct MappedSpan {
    std::uint64_t va = 0;
    std::uint64_t end = 0;  // va + the length of raw data that holds RVAs
    std::uint64_t raw = 0;
};

MappedSpan mappedSpan(const Section& s, std::int64_t extent) {
    const std::uint64_t limit = static_cast<std::uint64_t>(std::max<std::int64_t>(extent, 0));
    std::uint64_t length = detail::mappedRawSize(s);
    if (s.rawOffset >= limit)
        length = 0;
    else
        length = std::min<std::uint64_t>(length, limit - s.rawOffset);
    return {s.virtualAddress, s.virtualAddress + length, s.rawOffset};
}

// Of the sections that hold [rva, rva + length), the one reaching furthest (the first by
// virtual address and then by table order among equals). Sections overlap only in images
// no linker wrote; the rule is that of rvaToOffset, found in logarithmic time.
class SectionIndex {
  public:
    explicit SectionIndex(const Image& image) {
        for (const Section& s : image.sections) {
            const MappedSpan span = mappedSpan(s, image.extent);
            if (span.end > span.va) spans_.push_back(span);
        }
        std::stable_sort(spans_.begin(), spans_.end(),
                         [](const MappedSpan& a, const MappedSpan& b) { return a.va < b.va; });
        furthest_.resize(spans_.size());
        for (std::size_t i = 0; i < spans_.size(); ++i)
            furthest_[i] =
                i > 0 && spans_[furthest_[i - 1]].end >= spans_[i].end ? furthest_[i - 1] : i;
    }

    // The span holding [rva, rva + length), or nullptr.
    const MappedSpan* find(std::uint32_t rva, std::uint32_t length) const {
        const auto after =
            std::upper_bound(spans_.begin(), spans_.end(), std::uint64_t{rva},
                             [](std::uint64_t v, const MappedSpan& s) { return v < s.va; });
        if (after == spans_.begin()) return nullptr;
        const MappedSpan& best =
            spans_[furthest_[static_cast<std::size_t>(after - spans_.begin()) - 1]];
        return std::uint64_t{rva} + length <= best.end ? &best : nullptr;
    }

  private:
    std::vector<MappedSpan> spans_;
    std::vector<std::size_t> furthest_;  // of spans_[0..i], the index of the one reaching furthest
};

// Where one of the directory's structures lies.
struct Structure {
    enum Kind { Table, Name, DataEntry };
    std::uint64_t begin, end;
    Kind kind;
    friend auto operator<=>(const Structure&, const Structure&) = default;
};

// The three levels of the resource directory (type, name, language) below the root table.
// Offsets inside the directory count from the root and must stay inside the section that
// holds it.
class ResourceWalk {
  public:
    ResourceWalk(const std::uint8_t* data, Image& image, const SectionIndex& index,
                 const Limits& limits)
        : data_(data), image_(image), index_(index), limits_(limits) {}

    // Also lists where each structure lies, offsets in the bytes; and keeps no leaves.
    void listStructures(std::vector<Structure>& structures) { structures_ = &structures; }

    void run() {
        const std::uint32_t rva = image_.resourceTable.address;
        if (rva == 0) return;
        const MappedSpan* span = index_.find(rva, 16);
        if (!span) {
            image_.resourcesDamaged = true;
            return;
        }
        root_ = span->raw + (rva - span->va);
        room_ = span->end - rva;
        ResourceName path[2];
        table(0, 0, path);
        if (directoryEnd_ > 0) {
            image_.resourceDirectoryBegin = static_cast<std::int64_t>(root_ + directoryBegin_);
            image_.resourceDirectoryEnd = static_cast<std::int64_t>(root_ + directoryEnd_);
        }
    }

  private:
    bool inDirectory(std::uint64_t at, std::uint64_t length) const {
        return at <= room_ && length <= room_ - at;
    }
    void damaged() { image_.resourcesDamaged = true; }
    // Counts one more table or entry; false (and the walk over) past the limit.
    bool visit() {
        if (++visits_ <= limits_.maxVisits) return true;
        stopped_ = true;
        damaged();
        return false;
    }
    bool spendNameUnits(std::size_t units) {
        names_ += units;
        if (names_ <= limits_.maxNameUnits) return true;
        stopped_ = true;
        damaged();
        return false;
    }
    // The structures' stretch, for the writer to keep data written in place out of it.
    void note(std::uint64_t at, std::uint64_t length, Structure::Kind kind) {
        if (directoryEnd_ == 0 || at < directoryBegin_) directoryBegin_ = at;
        directoryEnd_ = std::max(directoryEnd_, at + length);
        if (structures_) structures_->push_back({root_ + at, root_ + at + length, kind});
    }

    void table(std::uint64_t at, int level, ResourceName* path) {
        if (!visited_.insert(at).second) {  // a loop, or a table two branches share
            damaged();
            return;
        }
        if (!visit()) return;
        if (!inDirectory(at, 16)) {
            damaged();
            return;
        }
        const std::uint8_t* head = data_ + root_ + at;
        const std::uint64_t declared = std::uint64_t{get16(head + 12)} + get16(head + 14);
        const std::uint64_t fits = (room_ - at - 16) / 8;
        const std::uint64_t count = std::min(declared, fits);
        if (count < declared) damaged();
        note(at, 16 + count * 8, Structure::Table);
        for (std::uint64_t i = 0; i < count && !stopped_; ++i) {
            if (!visit()) return;
            const std::uint8_t* entry = head + 16 + i * 8;
            const std::uint32_t nameField = get32(entry);
            const std::uint32_t target = get32(entry + 4);
            ResourceName key;
            if (nameField & kHighBit) {
                if (!readName(nameField & ~kHighBit, key)) continue;
            } else {
                key = ResourceName::number(static_cast<std::uint16_t>(nameField));
            }
            const bool subdirectory = (target & kHighBit) != 0;
            if (subdirectory != (level < 2)) {  // a leaf above the languages, or a table below
                damaged();
                continue;
            }
            if (subdirectory) {
                path[level] = std::move(key);
                table(target & ~kHighBit, level + 1, path);
            } else {
                leaf(target, path, std::move(key));
            }
        }
    }

    bool readName(std::uint64_t at, ResourceName& name) {
        if (!inDirectory(at, 2)) {
            damaged();
            return false;
        }
        const std::uint16_t length = get16(data_ + root_ + at);
        if (!inDirectory(at + 2, std::uint64_t{length} * 2)) {
            damaged();
            return false;
        }
        if (!spendNameUnits(length)) return false;
        note(at, 2 + std::uint64_t{length} * 2, Structure::Name);
        name.named = true;
        name.id = 0;
        name.name.resize(length);
        const std::uint8_t* p = data_ + root_ + at + 2;
        for (std::uint16_t i = 0; i < length; ++i)
            name.name[i] = static_cast<char16_t>(get16(p + 2 * i));
        return true;
    }

    void leaf(std::uint64_t at, const ResourceName* path, ResourceName language) {
        if (!inDirectory(at, 16)) {
            damaged();
            return;
        }
        note(at, 16, Structure::DataEntry);
        const std::uint8_t* entry = data_ + root_ + at;
        ResourceEntry r;
        r.dataRva = get32(entry);
        r.size = get32(entry + 4);
        r.codePage = get32(entry + 8);
        const MappedSpan* span = index_.find(r.dataRva, r.size);
        if (!span) {
            damaged();
            return;
        }
        if (!spendNameUnits(path[0].name.size() + path[1].name.size())) return;
        r.type = path[0];
        r.name = path[1];
        r.language = std::move(language);
        r.dataOffset = static_cast<std::int64_t>(span->raw + (r.dataRva - span->va));
        r.entryOffset = static_cast<std::int64_t>(root_ + at);
        if (!structures_) image_.resources.push_back(std::move(r));
    }

    const std::uint8_t* data_;
    Image& image_;
    const SectionIndex& index_;
    const Limits limits_;     // a copy: a temporary may have been passed
    std::uint64_t root_ = 0;  // the root table's offset in the bytes
    std::uint64_t room_ = 0;  // bytes from the root to the end of its section's raw data
    std::unordered_set<std::uint64_t> visited_;
    std::size_t visits_ = 0;
    std::size_t names_ = 0;
    bool stopped_ = false;
    std::vector<Structure>* structures_ = nullptr;
    std::uint64_t directoryBegin_ = 0;
    std::uint64_t directoryEnd_ = 0;
};

}  // namespace

bool operator<(const ResourceName& a, const ResourceName& b) {
    if (a.named != b.named) return a.named;
    return a.named ? a.name < b.name : a.id < b.id;
}

bool looksLikeImage(const std::uint8_t* data, std::size_t size) {
    if (size < 64 || data[0] != 'M' || data[1] != 'Z') return false;
    const std::uint64_t pe = get32(data + 0x3c);
    if (!holds(size, pe, detail::kOptionalHeaderAt + 2)) return false;
    if (std::memcmp(data + pe, "PE\0\0", 4) != 0) return false;
    const std::uint16_t magic = get16(data + pe + detail::kOptionalHeaderAt);
    return knownMachine(get16(data + pe + 4)) && (magic == 0x10b || magic == 0x20b);
}

std::optional<Image> readImage(const std::uint8_t* data, std::size_t size, const Limits& limits) {
    if (!looksLikeImage(data, size)) return std::nullopt;
    Image image;
    image.peHeaderOffset = get32(data + 0x3c);
    const std::uint8_t* fileHeader = data + image.peHeaderOffset + 4;
    image.machine = get16(fileHeader);
    const std::uint16_t sectionCount = get16(fileHeader + 2);
    image.optionalHeaderSize = get16(fileHeader + 16);
    const std::uint64_t optional = std::uint64_t{image.peHeaderOffset} + detail::kOptionalHeaderAt;
    image.optionalHeaderOffset = static_cast<std::int64_t>(optional);
    image.plus = get16(data + optional) == 0x20b;
    // The fields up to the data directory must be there; the loader finds the section table
    // after SizeOfOptionalHeader bytes, whatever the directory's count says.
    const std::uint64_t fixed =
        static_cast<std::uint64_t>(detail::fixedOptionalHeaderSize(image.plus));
    if (image.optionalHeaderSize < fixed || !holds(size, optional, fixed)) return std::nullopt;
    const std::uint64_t sectionTable = optional + image.optionalHeaderSize;
    if (!holds(size, sectionTable, std::uint64_t{sectionCount} * detail::kSectionHeaderSize))
        return std::nullopt;
    image.sectionTableOffset = static_cast<std::int64_t>(sectionTable);

    const std::uint8_t* opt = data + optional;
    image.sectionAlignment = get32(opt + 32);
    image.fileAlignment = get32(opt + 36);
    image.sizeOfImage = get32(opt + detail::kSizeOfImageAt);
    image.sizeOfHeaders = get32(opt + 60);
    image.checksum = get32(opt + detail::kChecksumAt);
    image.checksumOffset = static_cast<std::int64_t>(optional) + detail::kChecksumAt;

    // Entries past SizeOfOptionalHeader would be read from the section table.
    const std::uint64_t directoryCount =
        std::min<std::uint64_t>({get32(opt + detail::directoryCountAt(image.plus)), 16,
                                 (image.optionalHeaderSize - fixed) / 8});
    const auto directory = [&](int i) {
        DataDirectory d;
        if (static_cast<std::uint64_t>(i) >= directoryCount) return d;
        const std::uint64_t at = optional + fixed + static_cast<std::uint64_t>(i) * 8;
        d.address = get32(data + at);
        d.size = get32(data + at + 4);
        d.at = static_cast<std::int64_t>(at);
        return d;
    };
    image.resourceTable = directory(detail::kResourceDirectory);
    image.certificateTable = directory(detail::kCertificateDirectory);

    // The extent is where the headers and the raw data end. Raw data that runs past the bytes
    // means the image was cut short: the extent stops at the bytes' end, and what lies before
    // it is still read.
    std::uint64_t extent =
        std::max<std::uint64_t>(image.sizeOfHeaders, sectionTable + std::uint64_t{sectionCount} *
                                                                        detail::kSectionHeaderSize);
    image.sections.reserve(sectionCount);  // held in the bytes: 40 of them each
    for (std::uint16_t i = 0; i < sectionCount; ++i) {
        const std::uint8_t* h = data + sectionTable + std::uint64_t{i} * detail::kSectionHeaderSize;
        Section s;
        std::memcpy(s.name.data(), h, 8);
        s.virtualSize = get32(h + 8);
        s.virtualAddress = get32(h + 12);
        s.rawSize = get32(h + 16);
        s.rawOffset = get32(h + 20);
        s.characteristics = get32(h + 36);
        if (s.rawSize > 0) extent = std::max(extent, std::uint64_t{s.rawOffset} + s.rawSize);
        image.sections.push_back(s);
    }
    image.extent = static_cast<std::int64_t>(std::min<std::uint64_t>(extent, size));

    const SectionIndex index(image);
    ResourceWalk(data, image, index, limits).run();
    return image;
}

namespace detail {

bool directoryStructuresOverlap(const std::uint8_t* data, const Image& image) {
    Image scratch;
    scratch.sections = image.sections;
    scratch.extent = image.extent;
    scratch.resourceTable = image.resourceTable;
    std::vector<Structure> structures;
    const SectionIndex index(scratch);
    const Limits limits;
    ResourceWalk walk(data, scratch, index, limits);
    walk.listStructures(structures);
    walk.run();
    if (scratch.resourcesDamaged) return true;
    std::sort(structures.begin(), structures.end());
    structures.erase(std::unique(structures.begin(), structures.end()), structures.end());
    for (std::size_t i = 1; i < structures.size(); ++i)
        if (structures[i].begin < structures[i - 1].end) return true;
    return false;
}

}  // namespace detail

std::int64_t rvaToOffset(const Image& image, std::uint32_t rva, std::uint32_t length) {
    const MappedSpan* best = nullptr;
    MappedSpan found;
    for (const Section& s : image.sections) {
        const MappedSpan span = mappedSpan(s, image.extent);
        if (span.end <= span.va || span.va > rva || std::uint64_t{rva} + length > span.end)
            continue;
        if (!best || span.end > found.end || (span.end == found.end && span.va < found.va)) {
            found = span;
            best = &found;
        }
    }
    return best ? static_cast<std::int64_t>(best->raw + (rva - best->va)) : -1;
}

std::uint32_t computeChecksum(const std::uint8_t* data, std::size_t size,
                              std::int64_t checksumOffset) {
    detail::ChecksumSum sum;
    if (checksumOffset < 0 || static_cast<std::uint64_t>(checksumOffset) >= size) {
        sum.add(data, size);
    } else {
        const auto at = static_cast<std::size_t>(checksumOffset);
        const std::size_t skipped = std::min<std::size_t>(4, size - at);
        sum.add(data, at);
        sum.skip(skipped);
        sum.add(data + at + skipped, size - at - skipped);
    }
    return sum.finish(size);
}

}  // namespace kerbilo::pe
