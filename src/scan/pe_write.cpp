// Writing an image's resources back, as splices of the bytes rather than a new file, so that
// the caller decides how the bytes are replaced (in memory, or in the file on disk).
//
// When only the data changes and each resource still fits its old stretch, the data is
// written where it was: the rest of the image keeps every byte. Otherwise the whole
// directory is written anew into the last section or a new one; the old one is left where it
// is (code may point into its section) unless the resource section is the last and holds
// nothing else.

#include <algorithm>
#include <bit>
#include <cstring>
#include <numeric>

#include "scan/pe_detail.h"
#include "scan/pe_image.h"

namespace kerbilo::pe {

namespace {

using detail::alignUp;
using detail::get32;
using detail::put16;
using detail::put32;

constexpr std::uint64_t kMax32 = 0xFFFFFFFFu;
constexpr std::uint32_t kHigh = 0x80000000u;
constexpr std::uint32_t kNewSectionCharacteristics = 0x40000040u;  // initialised, readable

// Directory order of type / name / language keys, of a ResourceData or a ResourceEntry.
template <typename A, typename B>
bool keyLess(const A& a, const B& b) {
    if (a.type < b.type) return true;
    if (b.type < a.type) return false;
    if (a.name < b.name) return true;
    if (b.name < a.name) return false;
    return a.language < b.language;
}
bool sameName(const ResourceName& a, const ResourceName& b) {
    return !(a < b) && !(b < a);
}
bool sameKey(const ResourceData& a, const ResourceEntry& b) {
    return sameName(a.type, b.type) && sameName(a.name, b.name) && sameName(a.language, b.language);
}

// The resources in directory order, one for each type / name / language: of several with
// the same key, the last given wins.
std::vector<const ResourceData*> directoryOrder(const std::vector<ResourceData>& resources) {
    std::vector<const ResourceData*> set;
    set.reserve(resources.size());
    for (const ResourceData& r : resources) set.push_back(&r);
    const auto less = [](const ResourceData* a, const ResourceData* b) { return keyLess(*a, *b); };
    // A set read from an image and changed comes in directory order already.
    if (!std::is_sorted(set.begin(), set.end(), less))
        std::stable_sort(set.begin(), set.end(), less);
    std::vector<const ResourceData*> unique;
    unique.reserve(set.size());
    for (std::size_t i = 0; i < set.size(); ++i)
        if (i + 1 == set.size() || less(set[i], set[i + 1])) unique.push_back(set[i]);
    return unique;
}

// The header region's bytes with the writer's changes, given back as one splice from the
// first byte changed to the last.
class HeaderEdits {
  public:
    HeaderEdits(const std::uint8_t* bytes, std::size_t size, std::uint64_t end)
        : copy_(bytes, bytes + std::min<std::uint64_t>(end, size)) {}

    void set16(std::int64_t at, std::uint16_t v) {
        if (touch(at, 2)) put16(copy_.data() + at, v);
    }
    void set32(std::int64_t at, std::uint32_t v) {
        if (touch(at, 4)) put32(copy_.data() + at, v);
    }
    void setBytes(std::int64_t at, const std::uint8_t* p, std::size_t n) {
        if (touch(at, n)) std::memcpy(copy_.data() + at, p, n);
    }
    std::uint32_t get(std::int64_t at) const { return get32(copy_.data() + at); }

    void emit(std::vector<Splice>& splices) const {
        if (to_ <= from_) return;
        splices.push_back(
            {from_, to_ - from_,
             ByteBuffer(copy_.data() + from_, static_cast<std::size_t>(to_ - from_))});
    }

  private:
    // Every field the writer changes was read from the bytes, so it lies in the copy.
    bool touch(std::int64_t at, std::size_t n) {
        if (at < 0 || static_cast<std::uint64_t>(at) + n > copy_.size()) return false;
        if (to_ <= from_ || at < from_) from_ = at;
        to_ = std::max<std::int64_t>(to_, at + static_cast<std::int64_t>(n));
        return true;
    }

    std::vector<std::uint8_t> copy_;
    std::int64_t from_ = 0;
    std::int64_t to_ = 0;
};

// The end of the header fields the writer may change: the checksum, the data directory's
// entries and the section table, with `extraSections` headers more.
std::uint64_t fieldsEnd(const Image& image, std::uint64_t extraSections) {
    std::uint64_t end = static_cast<std::uint64_t>(image.sectionTableOffset) +
                        (image.sections.size() + extraSections) * detail::kSectionHeaderSize;
    end = std::max<std::uint64_t>(end, static_cast<std::uint64_t>(image.checksumOffset) + 4);
    for (const DataDirectory* d : {&image.resourceTable, &image.certificateTable})
        if (d->at > 0) end = std::max<std::uint64_t>(end, static_cast<std::uint64_t>(d->at) + 8);
    return end;
}

// Where the headers end for the writer: nothing it writes outside them may start before.
std::uint64_t headerLimit(const Image& image, std::uint64_t extraSections) {
    return std::max<std::uint64_t>(image.sizeOfHeaders, fieldsEnd(image, extraSections));
}

// ---- in place --------------------------------------------------------------------------

// The splices that write each resource over its old data, or false when the set of
// resources differs, one does not fit, or old stretches are shared or lie in the headers or
// the directory, or the directory's structures overlap (writing would change something else
// as well).
bool planInPlace(const std::uint8_t* bytes, const Image& image,
                 const std::vector<const ResourceData*>& wanted, std::vector<Splice>& splices) {
    const std::vector<ResourceEntry>& old = image.resources;
    if (old.size() != wanted.size()) return false;
    std::vector<std::size_t> order(old.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    const auto less = [&](std::size_t a, std::size_t b) { return keyLess(old[a], old[b]); };
    if (!std::is_sorted(order.begin(), order.end(), less))
        std::sort(order.begin(), order.end(), less);
    const auto limit = static_cast<std::int64_t>(headerLimit(image, 0));
    std::vector<std::pair<std::int64_t, std::int64_t>> stretches;  // each resource's data
    std::vector<std::int64_t> entries;
    for (std::size_t i = 0; i < order.size(); ++i) {
        const ResourceEntry& r = old[order[i]];
        if (!sameKey(*wanted[i], r) || wanted[i]->bytes.size() > r.size) return false;
        if (i > 0 && sameKey(*wanted[i], old[order[i - 1]])) return false;
        const std::int64_t end = r.dataOffset + r.size;
        if (r.size > 0) {
            if (r.dataOffset < limit) return false;
            if (r.dataOffset < image.resourceDirectoryEnd && end > image.resourceDirectoryBegin)
                return false;
            stretches.emplace_back(r.dataOffset, end);
        }
        if (r.entryOffset < limit) return false;
        entries.push_back(r.entryOffset);
    }
    std::sort(stretches.begin(), stretches.end());
    for (std::size_t i = 1; i < stretches.size(); ++i)
        if (stretches[i].first < stretches[i - 1].second) return false;
    std::sort(entries.begin(), entries.end());
    if (std::adjacent_find(entries.begin(), entries.end()) != entries.end()) return false;
    if (detail::directoryStructuresOverlap(bytes, image)) return false;

    for (std::size_t i = 0; i < order.size(); ++i) {
        const ResourceEntry& r = old[order[i]];
        const ResourceData& w = *wanted[i];
        const std::uint8_t* at = bytes + r.dataOffset;
        const bool same =
            std::equal(w.bytes.begin(), w.bytes.end(), at) &&
            std::all_of(at + w.bytes.size(), at + r.size, [](std::uint8_t b) { return b == 0; });
        if (!same) {  // then the old stretch is not empty
            ByteBuffer stretch = ByteBuffer::uninitialized(r.size);
            if (stretch.empty()) return false;
            std::copy(w.bytes.begin(), w.bytes.end(), stretch.mutableData());
            std::fill(stretch.mutableData() + w.bytes.size(), stretch.mutableData() + r.size, 0);
            splices.push_back({r.dataOffset, r.size, std::move(stretch)});
        }
        const auto size = static_cast<std::uint32_t>(w.bytes.size());
        if (size != r.size || w.codePage != r.codePage) {
            std::uint8_t fields[8];
            put32(fields, size);
            put32(fields + 4, w.codePage);
            splices.push_back({r.entryOffset + 4, 8, ByteBuffer(fields, 8)});
        }
    }
    return true;
}

// ---- a new directory -------------------------------------------------------------------

// The directory serialised as a section of its own: the tables (root, then each type's
// names, then each name's languages), the data entries, the names, then the data, each
// piece of data at a multiple of 8. Offsets count from the section's start, where the root
// table lies.
class DirectoryLayout {
  public:
    explicit DirectoryLayout(const std::vector<const ResourceData*>& set) : set_(set) {
        group();
        std::uint64_t at = tableSize(types_.size());
        for (Group& t : types_) {
            t.table = at;
            at += tableSize(t.lastName - t.firstName);
        }
        for (Group& n : names_) {
            n.table = at;
            at += tableSize(n.end - n.begin);
        }
        entries_ = at;
        at += 16 * std::uint64_t{set.size()};
        const auto place = [&](const ResourceName& name) -> std::uint64_t {
            if (!name.named) return 0;
            if (name.name.size() > 0xFFFF) fits_ = false;
            const std::uint64_t here = at;
            at += 2 + 2 * std::uint64_t{name.name.size()};
            return here;
        };
        for (Group& t : types_) t.string = place(set[t.begin]->type);
        for (Group& n : names_) n.string = place(set[n.begin]->name);
        languageStrings_.reserve(set.size());
        for (const ResourceData* r : set) languageStrings_.push_back(place(r->language));
        // Entries point to tables, names and data entries with 31 bits.
        if (at > 0x7FFFFFFF) fits_ = false;
        data_.reserve(set.size());
        for (const ResourceData* r : set) {
            at = alignUp(at, 8);
            data_.push_back(at);
            at += r->bytes.size();
            if (r->bytes.size() > kMax32) fits_ = false;
        }
        size_ = at;
        if (size_ > kMax32) fits_ = false;
    }

    // False when the directory would pass the format's limits: a table of more than 65535
    // named or numbered entries, a name of more than 65535 code units, 4 GiB.
    bool fits() const { return fits_; }
    std::uint64_t size() const { return size_; }

    // The section's bytes for a section at `va`, padded with zeros to `rawSize` (at least
    // size()); empty when memory runs out.
    ByteBuffer write(std::uint32_t va, std::uint64_t rawSize) const {
        ByteBuffer out = ByteBuffer::uninitialized(rawSize);
        std::uint8_t* p = out.mutableData();
        if (!p) return {};
        std::memset(p, 0, rawSize);
        std::size_t namedTypes = 0;
        for (std::size_t t = 0; t < types_.size(); ++t) {
            const Group& type = types_[t];
            namedTypes +=
                writeEntry(p, 0, t, set_[type.begin]->type, type.string, kHigh | type.table);
            std::size_t namedNames = 0;
            for (std::size_t n = type.firstName; n < type.lastName; ++n) {
                const Group& name = names_[n];
                namedNames += writeEntry(p, type.table, n - type.firstName, set_[name.begin]->name,
                                         name.string, kHigh | name.table);
                std::size_t namedLanguages = 0;
                for (std::size_t i = name.begin; i < name.end; ++i)
                    namedLanguages += writeEntry(p, name.table, i - name.begin, set_[i]->language,
                                                 languageStrings_[i], entries_ + 16 * i);
                writeCounts(p, name.table, namedLanguages, name.end - name.begin);
            }
            writeCounts(p, type.table, namedNames, type.lastName - type.firstName);
        }
        writeCounts(p, 0, namedTypes, types_.size());
        for (std::size_t i = 0; i < set_.size(); ++i) {
            std::uint8_t* e = p + entries_ + 16 * i;
            put32(e, static_cast<std::uint32_t>(va + data_[i]));
            put32(e + 4, static_cast<std::uint32_t>(set_[i]->bytes.size()));
            put32(e + 8, set_[i]->codePage);
            if (!set_[i]->bytes.empty())
                std::memcpy(p + data_[i], set_[i]->bytes.data(), set_[i]->bytes.size());
        }
        return out;
    }

  private:
    struct Group {
        std::size_t begin = 0, end = 0;           // its resources in the set
        std::size_t firstName = 0, lastName = 0;  // a type's groups of names
        std::uint64_t table = 0;                  // offsets in the section
        std::uint64_t string = 0;
    };

    // Splits the set (in directory order) into types and, within them, names; checks each
    // table's counts.
    void group() {
        std::size_t namedTypes = 0, namedNames = 0, namedLanguages = 0;
        for (std::size_t i = 0; i < set_.size(); ++i) {
            const ResourceData& r = *set_[i];
            const bool newType = i == 0 || !sameName(r.type, set_[i - 1]->type);
            if (newType) {
                types_.push_back({i, i, names_.size(), names_.size()});
                namedTypes += r.type.named;
                namedNames = 0;
            }
            if (newType || !sameName(r.name, set_[i - 1]->name)) {
                names_.push_back({i, i});
                ++types_.back().lastName;
                namedNames += r.name.named;
                namedLanguages = 0;
                countFits(namedNames, types_.back().lastName - types_.back().firstName);
            }
            ++types_.back().end;
            ++names_.back().end;
            namedLanguages += r.language.named;
            countFits(namedLanguages, names_.back().end - names_.back().begin);
        }
        countFits(namedTypes, types_.size());
    }
    void countFits(std::size_t named, std::size_t count) {
        if (named > 0xFFFF || count - named > 0xFFFF) fits_ = false;
    }
    static std::uint64_t tableSize(std::size_t count) { return 16 + 8 * std::uint64_t{count}; }
    // Entry i of the table at `table`; 1 when it is named.
    static std::size_t writeEntry(std::uint8_t* p, std::uint64_t table, std::size_t i,
                                  const ResourceName& key, std::uint64_t string,
                                  std::uint64_t target) {
        std::uint8_t* e = p + table + 16 + 8 * i;
        put32(e, key.named ? kHigh | static_cast<std::uint32_t>(string) : key.id);
        put32(e + 4, static_cast<std::uint32_t>(target));
        if (!key.named) return 0;
        put16(p + string, static_cast<std::uint16_t>(key.name.size()));
        for (std::size_t c = 0; c < key.name.size(); ++c)
            put16(p + string + 2 + 2 * c, static_cast<std::uint16_t>(key.name[c]));
        return 1;
    }
    static void writeCounts(std::uint8_t* p, std::uint64_t table, std::size_t named,
                            std::size_t count) {
        put16(p + table + 12, static_cast<std::uint16_t>(named));
        put16(p + table + 14, static_cast<std::uint16_t>(count - named));
    }

    const std::vector<const ResourceData*>& set_;
    std::vector<Group> types_;
    std::vector<Group> names_;
    std::vector<std::uint64_t> languageStrings_;
    std::vector<std::uint64_t> data_;
    std::uint64_t entries_ = 0;
    std::uint64_t size_ = 0;
    bool fits_ = true;
};

// ---- where the new directory goes ------------------------------------------------------

// Alignments as the headers give them, unless they are not powers of two (or, for the file,
// past the 64 KiB the format allows): such headers are hostile, and honouring them could
// pad a small file out to gigabytes.
std::uint64_t fileAlignmentOf(const Image& image) {
    const std::uint32_t a = image.fileAlignment;
    return a != 0 && std::has_single_bit(a) && a <= 0x10000 ? a : 0x200;
}
std::uint64_t sectionAlignmentOf(const Image& image) {
    const std::uint32_t a = image.sectionAlignment;
    return a != 0 && std::has_single_bit(a) ? a : 0x1000;
}

// How much of the address space a section takes: the loader maps VirtualSize bytes, or the
// raw size when VirtualSize is 0.
std::uint64_t virtualEnd(const Section& s) {
    return std::uint64_t{s.virtualAddress} + (s.virtualSize != 0 ? s.virtualSize : s.rawSize);
}

struct Placement {
    std::int64_t section = -1;  // the section whose raw data is replaced; −1 for a new one
    std::uint64_t va = 0;
    std::uint64_t rawOffset = 0;
    std::uint64_t insertAt = 0;  // a new section's raw data goes in here, after padding
};

// The resource section is replaced when it is the last section in the file and in memory,
// starts with the directory and holds nothing another directory entry or the entry point
// would miss.
bool replaceable(const std::uint8_t* bytes, const Image& image, std::size_t index,
                 std::uint64_t limit) {
    const Section& rs = image.sections[index];
    if (rs.rawSize == 0 || rs.virtualAddress != image.resourceTable.address || rs.rawOffset < limit)
        return false;
    for (std::size_t j = 0; j < image.sections.size(); ++j) {
        const Section& s = image.sections[j];
        if (j == index) continue;
        if (s.virtualAddress >= rs.virtualAddress || virtualEnd(s) > rs.virtualAddress)
            return false;
        if (s.rawSize > 0 && std::uint64_t{s.rawOffset} + s.rawSize > rs.rawOffset) return false;
    }
    const std::uint64_t from = rs.virtualAddress;
    const std::uint64_t to = std::max(virtualEnd(rs), from + rs.rawSize);
    const auto inside = [&](std::uint64_t rva) { return rva >= from && rva < to; };
    const std::uint8_t* opt = bytes + image.optionalHeaderOffset;
    if (inside(get32(opt + 16))) return false;  // the entry point
    const std::uint64_t fixed =
        static_cast<std::uint64_t>(detail::fixedOptionalHeaderSize(image.plus));
    const std::uint64_t count =
        std::min<std::uint64_t>({get32(opt + detail::directoryCountAt(image.plus)), 16,
                                 (image.optionalHeaderSize - fixed) / 8});
    for (std::uint64_t i = 0; i < count; ++i) {
        if (i == detail::kResourceDirectory || i == detail::kCertificateDirectory) continue;
        const std::uint32_t rva = get32(opt + fixed + 8 * i);
        const std::uint32_t size = get32(opt + fixed + 8 * i + 4);
        if (rva != 0 && rva < to && std::uint64_t{rva} + std::max<std::uint32_t>(size, 1) > from)
            return false;
    }
    return true;
}

// The section table has room for one more header when the bytes after it are zeros inside
// the headers, before any section's raw data.
bool roomForSection(const std::uint8_t* bytes, std::size_t size, const Image& image) {
    if (image.sections.size() >= 0xFFFF) return false;
    const std::uint64_t at = static_cast<std::uint64_t>(image.sectionTableOffset) +
                             image.sections.size() * detail::kSectionHeaderSize;
    const std::uint64_t end = at + detail::kSectionHeaderSize;
    if (end > image.sizeOfHeaders || end > size) return false;
    for (const Section& s : image.sections)
        if (s.rawSize > 0 && end > s.rawOffset) return false;
    return std::all_of(bytes + at, bytes + end, [](std::uint8_t b) { return b == 0; });
}

// Where the directory goes; Damaged when the image is cut short (its raw data passes the
// bytes: there is no sound place after it), NoRoomForSection when neither way is open.
WriteStatus place(const std::uint8_t* bytes, std::size_t size, const Image& image,
                  Placement& placement) {
    std::uint64_t rawEnd = image.sizeOfHeaders;
    std::uint64_t vaEnd = image.sizeOfHeaders;
    for (const Section& s : image.sections) {
        if (s.rawSize > 0) rawEnd = std::max(rawEnd, std::uint64_t{s.rawOffset} + s.rawSize);
        vaEnd = std::max(vaEnd, virtualEnd(s));
    }
    if (rawEnd > size) return WriteStatus::Damaged;
    if (image.resourceTable.at == 0) return WriteStatus::NoRoomForSection;
    const std::uint64_t limit = headerLimit(image, 0);
    for (std::size_t i = 0; i < image.sections.size(); ++i)
        if (replaceable(bytes, image, i, limit)) {
            placement.section = static_cast<std::int64_t>(i);
            placement.va = image.sections[i].virtualAddress;
            placement.rawOffset = image.sections[i].rawOffset;
            return WriteStatus::Written;
        }
    if (!roomForSection(bytes, size, image)) return WriteStatus::NoRoomForSection;
    placement.insertAt = std::max(rawEnd, headerLimit(image, 1));
    placement.rawOffset = alignUp(placement.insertAt, fileAlignmentOf(image));
    placement.va = alignUp(vaEnd, sectionAlignmentOf(image));
    return WriteStatus::Written;
}

// The splices of a rebuilt directory and its header fields.
WriteStatus rebuild(const std::uint8_t* bytes, std::size_t size, const Image& image,
                    const std::vector<const ResourceData*>& wanted, std::vector<Splice>& splices,
                    HeaderEdits& header) {
    const DirectoryLayout layout(wanted);
    if (!layout.fits()) return WriteStatus::TooLarge;
    Placement at;
    if (const WriteStatus s = place(bytes, size, image, at); s != WriteStatus::Written) return s;
    const std::uint64_t rawSize = alignUp(layout.size(), fileAlignmentOf(image));
    const std::uint64_t imageEnd = alignUp(at.va + layout.size(), sectionAlignmentOf(image));
    if (at.rawOffset + rawSize > kMax32 || imageEnd > kMax32) return WriteStatus::TooLarge;
    const auto va = static_cast<std::uint32_t>(at.va);
    ByteBuffer section = layout.write(va, rawSize);
    if (section.empty()) return WriteStatus::TooLarge;

    std::uint64_t oldRawSize = 0;
    std::int64_t headerAt;
    Section s;
    if (at.section >= 0) {
        s = image.sections[static_cast<std::size_t>(at.section)];
        oldRawSize = s.rawSize;
        splices.push_back({static_cast<std::int64_t>(at.rawOffset), s.rawSize, std::move(section)});
        headerAt = image.sectionTableOffset + at.section * detail::kSectionHeaderSize;
    } else {
        const std::uint64_t padding = at.rawOffset - at.insertAt;
        ByteBuffer inserted = ByteBuffer::uninitialized(padding + rawSize);
        if (inserted.empty()) return WriteStatus::TooLarge;
        std::memset(inserted.mutableData(), 0, padding);
        std::memcpy(inserted.mutableData() + padding, section.data(), rawSize);
        splices.push_back({static_cast<std::int64_t>(at.insertAt), 0, std::move(inserted)});
        headerAt = image.sectionTableOffset +
                   static_cast<std::int64_t>(image.sections.size()) * detail::kSectionHeaderSize;
        s.name = {'.', 'r', 's', 'r', 'c'};
        s.virtualAddress = va;
        s.rawOffset = static_cast<std::uint32_t>(at.rawOffset);
        s.characteristics = kNewSectionCharacteristics;
        header.set16(image.peHeaderOffset + detail::kNumberOfSectionsAt,
                     static_cast<std::uint16_t>(image.sections.size() + 1));
    }
    s.virtualSize = static_cast<std::uint32_t>(layout.size());
    s.rawSize = static_cast<std::uint32_t>(rawSize);
    std::uint8_t h[detail::kSectionHeaderSize] = {};
    if (at.section >= 0) std::memcpy(h, bytes + headerAt, sizeof h);
    std::memcpy(h, s.name.data(), 8);
    put32(h + 8, s.virtualSize);
    put32(h + 12, s.virtualAddress);
    put32(h + 16, s.rawSize);
    put32(h + 20, s.rawOffset);
    put32(h + 36, s.characteristics);
    header.setBytes(headerAt, h, sizeof h);

    const std::int64_t opt = image.optionalHeaderOffset;
    // The initialised data's total only informs; it follows the raw size without wrapping.
    const std::uint64_t initialised = header.get(opt + detail::kSizeOfInitializedDataAt);
    header.set32(opt + detail::kSizeOfInitializedDataAt,
                 static_cast<std::uint32_t>(
                     std::min(kMax32, initialised - std::min(initialised, oldRawSize) + rawSize)));
    header.set32(opt + detail::kSizeOfImageAt,
                 static_cast<std::uint32_t>(
                     std::max<std::uint64_t>(imageEnd, at.section >= 0 ? 0 : image.sizeOfImage)));
    header.set32(image.resourceTable.at, va);
    header.set32(image.resourceTable.at + 4, static_cast<std::uint32_t>(layout.size()));
    return WriteStatus::Written;
}

// ---- the certificate and the checksum --------------------------------------------------

// A signature covers the bytes as they were: the certificate table goes, its bytes too when
// they lie after the image (where signing tools put them); elsewhere they are left alone,
// as taking them out would move what follows.
bool removeCertificate(std::size_t size, const Image& image, std::vector<Splice>& splices,
                       HeaderEdits& header) {
    const DataDirectory& c = image.certificateTable;
    if (c.at == 0 || (c.address == 0 && c.size == 0)) return false;
    header.set32(c.at, 0);
    header.set32(c.at + 4, 0);
    if (c.size > 0 && c.address >= image.extent && std::uint64_t{c.address} + c.size <= size)
        splices.push_back({c.address, c.size, {}});
    return true;
}

// Sorted by offset (an insertion before a splice at the same place), and those that touch
// made one, so that no two splices meet.
std::vector<Splice> ordered(std::vector<Splice> splices) {
    std::stable_sort(splices.begin(), splices.end(), [](const Splice& a, const Splice& b) {
        if (a.offset != b.offset) return a.offset < b.offset;
        return a.oldLength == 0 && b.oldLength != 0;
    });
    std::vector<Splice> out;
    for (Splice& s : splices) {
        if (!out.empty() && out.back().offset + out.back().oldLength == s.offset) {
            Splice& last = out.back();
            ByteBuffer joined = ByteBuffer::uninitialized(last.bytes.size() + s.bytes.size());
            if (!last.bytes.empty())
                std::memcpy(joined.mutableData(), last.bytes.data(), last.bytes.size());
            if (!s.bytes.empty())
                std::memcpy(joined.mutableData() + last.bytes.size(), s.bytes.data(),
                            s.bytes.size());
            last.oldLength += s.oldLength;
            last.bytes = std::move(joined);
        } else {
            out.push_back(std::move(s));
        }
    }
    return out;
}

// The checksum of the bytes as the splices leave them, without making them: the splices
// before the checksum field keep their lengths, so the field stays where it was.
std::uint32_t checksumAfter(const std::uint8_t* bytes, std::size_t size,
                            const std::vector<Splice>& splices, std::int64_t field) {
    detail::ChecksumSum sum;
    const auto at = static_cast<std::uint64_t>(field);
    std::uint64_t out = 0;
    const auto feed = [&](const std::uint8_t* p, std::uint64_t n) {
        while (n > 0) {
            std::uint64_t take = n;
            if (out < at) {
                take = std::min(n, at - out);
                sum.add(p, take);
            } else if (out < at + 4) {
                take = std::min(n, at + 4 - out);
                sum.skip(take);
            } else {
                sum.add(p, take);
            }
            p += take;
            n -= take;
            out += take;
        }
    };
    std::uint64_t pos = 0;
    for (const Splice& s : splices) {
        const auto from = static_cast<std::uint64_t>(s.offset);
        feed(bytes + pos, from - pos);
        feed(s.bytes.data(), s.bytes.size());
        pos = from + static_cast<std::uint64_t>(s.oldLength);
    }
    feed(bytes + pos, size - pos);
    return sum.finish(out);
}

}  // namespace

WriteResult writeResources(const std::uint8_t* bytes, std::size_t size, const Image& image,
                           const std::vector<ResourceData>& resources) {
    WriteResult result;
    if (image.resourcesDamaged) {
        result.status = WriteStatus::Damaged;
        return result;
    }
    const std::vector<const ResourceData*> wanted = directoryOrder(resources);
    // Not SizeOfHeaders: a hostile one would have gigabytes copied.
    HeaderEdits header(bytes, size, fieldsEnd(image, 1));
    std::vector<Splice> splices;
    if (!planInPlace(bytes, image, wanted, splices)) {
        splices.clear();
        result.status = rebuild(bytes, size, image, wanted, splices, header);
        if (result.status != WriteStatus::Written) return result;
        result.rebuilt = true;
    } else if (splices.empty()) {
        return result;  // every resource is already as wanted
    }
    result.certificateRemoved = removeCertificate(size, image, splices, header);
    if (image.checksum != 0) header.set32(image.checksumOffset, 0);
    header.emit(splices);
    result.splices = ordered(std::move(splices));
    if (image.checksum != 0) {
        const std::uint32_t sum = checksumAfter(bytes, size, result.splices, image.checksumOffset);
        for (Splice& s : result.splices)
            if (s.offset <= image.checksumOffset &&
                image.checksumOffset + 4 <= s.offset + static_cast<std::int64_t>(s.bytes.size()))
                put32(s.bytes.mutableData() + (image.checksumOffset - s.offset), sum);
    }
    return result;
}

}  // namespace kerbilo::pe
