// ZIP archives found inside any bytes and their entries read.
//
// An archive is found two ways. First by its end record: the central directory it names
// must be a chain of records ending exactly where the end record (or the ZIP64 end record)
// begins, which tells where the directory really lies and so how far the archive's own
// offsets are shifted when it was appended to other bytes. Then, in the bytes no such
// archive holds, by local headers walked one entry after another, for archives whose
// directory is missing or unusable.
//
// Hostile bytes must not cost more than a pass over them: the directory chains are
// remembered so that many end records naming overlapping directories walk each record
// once, nothing is reserved for a declared count, and entries whose bytes overlap are
// refused so that one entry's data cannot be read many times over.

#include <algorithm>
#include <deque>
#include <unordered_map>

#include "runtime/byte_ops.h"
#include "scan/zip_detail.h"

namespace kerbilo::zip {

namespace detail {

std::int64_t findExtra(const std::uint8_t* data, std::int64_t from, std::int64_t length,
                       std::uint16_t id, std::uint16_t& fieldLength) {
    std::int64_t at = from;
    const std::int64_t end = from + length;
    while (at + 4 <= end) {
        const std::uint16_t fieldId = get16(data + at);
        const std::uint16_t n = get16(data + at + 2);
        if (at + 4 + n > end) return -1;
        if (fieldId == id) {
            fieldLength = n;
            return at;
        }
        at += 4 + n;
    }
    return -1;
}

bool readCentralRecord(const std::uint8_t* data, std::int64_t limit, std::int64_t at,
                       CentralRecord& r) {
    if (at < 0 || limit - at < kCentralSize) return false;
    const std::uint8_t* p = data + at;
    if (get32(p) != kCentralSig) return false;
    r.at = at;
    r.needed = get16(p + 6);
    r.flags = get16(p + 8);
    r.method = get16(p + 10);
    r.crc = get32(p + 16);
    r.compressedSize = get32(p + 20);
    r.size = get32(p + 24);
    r.nameLength = get16(p + 28);
    r.extraLength = get16(p + 30);
    const std::uint16_t commentLength = get16(p + 32);
    r.disk = get16(p + 34);
    r.localHeader = get32(p + 42);
    r.length = kCentralSize + r.nameLength + r.extraLength + commentLength;
    if (limit - at < r.length) return false;
    r.zip64 = false;
    std::uint16_t n = 0;
    const std::int64_t extra =
        findExtra(data, at + kCentralSize + r.nameLength, r.extraLength, kZip64ExtraId, n);
    if (extra >= 0) {
        // The escaped fields follow in a fixed order, as many as the field holds.
        const std::uint8_t* f = data + extra + 4;
        const std::uint8_t* fend = f + n;
        const auto take = [&](std::uint64_t& v) {
            if (fend - f < 8) return;
            v = get64(f);
            f += 8;
            r.zip64 = true;
        };
        if (r.size == kEscape32) take(r.size);
        if (r.compressedSize == kEscape32) take(r.compressedSize);
        if (r.localHeader == kEscape32) take(r.localHeader);
        if (r.disk == kEscape16 && fend - f >= 4) r.disk = get32(f);
    }
    return true;
}

bool readLocalHeader(const std::uint8_t* data, std::int64_t limit, std::int64_t at,
                     LocalHeader& h) {
    if (at < 0 || limit - at < kLocalSize) return false;
    const std::uint8_t* p = data + at;
    if (get32(p) != kLocalSig) return false;
    h.at = at;
    h.needed = get16(p + 4);
    h.flags = get16(p + 6);
    h.method = get16(p + 8);
    h.crc = get32(p + 14);
    h.compressedSize = get32(p + 18);
    h.size = get32(p + 22);
    h.nameLength = get16(p + 26);
    h.extraLength = get16(p + 28);
    h.data = at + kLocalSize + h.nameLength + h.extraLength;
    if (h.data > limit) return false;
    std::uint16_t n = 0;
    h.zip64Extra = findExtra(data, at + kLocalSize + h.nameLength, h.extraLength, kZip64ExtraId, n);
    if (h.zip64Extra >= 0) {
        const std::uint8_t* f = data + h.zip64Extra + 4;
        const std::uint8_t* fend = f + n;
        if (h.size == kEscape32 && fend - f >= 8) {
            h.size = get64(f);
            f += 8;
        }
        if (h.compressedSize == kEscape32 && fend - f >= 8) h.compressedSize = get64(f);
    }
    return true;
}

}  // namespace detail

namespace {

using namespace detail;

constexpr std::uint32_t kPK = 0x4b50;

// Methods some writer has used; a local header naming another is taken for chance bytes.
bool knownMethod(std::uint16_t m) {
    return m <= 20 || (m >= 93 && m <= 99);
}

// The general purpose bits that no writer sets.
constexpr std::uint16_t kReservedFlags = 0x0780 | 0x1000 | 0x4000 | 0x8000;

bool plausibleLocalHeader(const LocalHeader& h) {
    return knownMethod(h.method) && (h.flags & kReservedFlags) == 0 && (h.needed & 0xFF) <= 63;
}

Entry entryOf(const std::uint8_t* data, const LocalHeader& h) {
    Entry e;
    e.name.assign(reinterpret_cast<const char*>(data + h.at + kLocalSize), h.nameLength);
    e.flags = h.flags;
    e.utf8 = (h.flags & kFlagUtf8) != 0;
    e.method = h.method;
    e.encrypted = (h.flags & kFlagEncrypted) != 0;
    e.zip64 = h.zip64Extra >= 0;
    e.crc32 = h.crc;
    e.compressedSize = h.compressedSize;
    e.size = h.size;
    e.localHeader = h.at;
    e.data = h.data;
    return e;
}

// Every position of "PK" in data[from, to) followed by two bytes making one of the
// signatures `wanted` accepts, in order. Linear, and one pass of a pair filter in random
// bytes.
template <typename F>
void forEachSignature(const std::uint8_t* data, std::int64_t from, std::int64_t to, F&& f) {
    static constexpr std::uint8_t kPair[] = {'P', 'K'};
    std::int64_t at = from;
    while (at + 4 <= to) {
        const std::int64_t hit =
            findBytesIn(data + at, static_cast<std::size_t>(to - 1 - at), kPair, 2);
        if (hit < 0 || at + hit + 4 > to) return;
        at += hit;
        const std::int64_t next = f(at, get32(data + at));
        at = next > at ? next : at + 1;
    }
}

// ---- by the end record --------------------------------------------------------------------

class Finder {
  public:
    Finder(const std::uint8_t* data, std::size_t size, const Landmarks* landmarks)
        : data_(data), size_(static_cast<std::int64_t>(size)), landmarks_(landmarks) {}

    std::vector<Archive> run() {
        for (std::int64_t at = lastEndRecord(size_); at >= 0; at = lastEndRecord(at))
            byEndRecord(at);
        std::vector<Archive> found(std::make_move_iterator(accepted_.begin()),
                                   std::make_move_iterator(accepted_.end()));
        // Local headers in the bytes left over.
        std::vector<Archive> walked;
        std::int64_t from = 0;
        for (std::size_t i = 0; i <= found.size(); ++i) {
            const std::int64_t to = i < found.size() ? found[i].begin : size_;
            walkGap(from, to, walked);
            if (i < found.size()) from = found[i].end;
        }
        found.insert(found.end(), std::make_move_iterator(walked.begin()),
                     std::make_move_iterator(walked.end()));
        std::sort(found.begin(), found.end(),
                  [](const Archive& a, const Archive& b) { return a.begin < b.begin; });
        return found;
    }

  private:
    // The last end record signature starting before `before`, −1 when there is none.
    std::int64_t lastEndRecord(std::int64_t before) const {
        if (landmarks_) {
            const std::vector<std::int64_t>& ends = landmarks_->endRecords;
            const auto after = std::lower_bound(ends.begin(), ends.end(), before);
            return after == ends.begin() ? -1 : *(after - 1);
        }
        static constexpr std::uint8_t kSig[] = {'P', 'K', 5, 6};
        const std::int64_t n = std::min(before + 3, size_);  // starts before `before`
        return n < 4 ? -1 : findLastBytesIn(data_, static_cast<std::size_t>(n), kSig, 4);
    }

    // Where the chain of central records starting at `at` stops: the first position that
    // holds no whole record. Each record is walked once however many chains reach it.
    std::int64_t chainEnd(std::int64_t at) {
        std::vector<std::int64_t> path;
        std::int64_t end = at;
        for (;;) {
            const auto known = chainEnds_.find(end);
            if (known != chainEnds_.end()) {
                end = known->second;
                break;
            }
            CentralRecord r;
            if (!readCentralRecord(data_, size_, end, r)) break;
            path.push_back(end);
            end += r.length;
        }
        for (std::int64_t p : path) chainEnds_[p] = end;
        return end;
    }

    void byEndRecord(std::int64_t at) {
        if (size_ - at < kEndSize) return;
        const std::uint8_t* p = data_ + at;
        std::uint64_t count = get16(p + 10);
        std::uint64_t directorySize = get32(p + 12);
        std::uint64_t directoryOffset = get32(p + 16);
        const std::uint16_t commentLength = get16(p + 20);
        Archive a;
        a.endRecord = at;
        a.end = at + kEndSize + commentLength;
        if (a.end > size_) {
            a.end = size_;
            a.damaged = true;
        }
        std::int64_t target = at;  // where the directory must end
        const std::int64_t locator = at - kZip64LocatorSize;
        if (locator >= 0 && get32(data_ + locator) == kZip64LocatorSig) {
            const std::int64_t z = zip64EndRecord(locator);
            if (z >= 0) {
                a.zip64EndRecord = z;
                count = get64(data_ + z + 32);
                directorySize = get64(data_ + z + 40);
                directoryOffset = get64(data_ + z + 48);
                target = z;
            }
        }
        // The directory lies just before its end, which tells how far the archive's
        // offsets are shifted; or, for an archive whose offsets were fixed to count from the
        // start of the bytes, where its offset says.
        std::int64_t directory = -1;
        for (const std::uint64_t candidate :
             {static_cast<std::uint64_t>(target) - directorySize, directoryOffset}) {
            if (candidate > static_cast<std::uint64_t>(target)) continue;
            const auto c = static_cast<std::int64_t>(candidate);
            // An empty directory holds no entries; any other is a chain of whole records.
            if (c == target ? directorySize == 0 && count == 0 : chainEnd(c) == target) {
                directory = c;
                break;
            }
        }
        if (directory < 0 || directoryOffset > kMaxOffset) return;
        const std::int64_t shift = directory - static_cast<std::int64_t>(directoryOffset);
        a.hasCentralDirectory = true;
        a.centralDirectory = directory;
        if (!readEntries(a, shift, target)) return;
        std::uint64_t records = a.entries.size() + dropped_;
        if (a.zip64EndRecord < 0) records &= 0xFFFF;  // some writers let the count wrap
        if (records != count) a.damaged = true;
        a.begin = a.entries.empty() ? directory : a.entries.front().localHeader;
        a.begin = std::min(a.begin, directory);
        accept(std::move(a));
    }

    // The ZIP64 end record the locator before `at` names: just before the locator when it
    // carries no extensible data, else where its offset says.
    std::int64_t zip64EndRecord(std::int64_t locator) {
        if (locator < kZip64EndSize) return -1;
        const std::uint64_t named = get64(data_ + locator + 8);
        for (const std::uint64_t candidate :
             {static_cast<std::uint64_t>(locator - kZip64EndSize), named}) {
            if (candidate > static_cast<std::uint64_t>(locator - kZip64EndSize)) continue;
            const auto z = static_cast<std::int64_t>(candidate);
            if (get32(data_ + z) != kZip64EndSig) continue;
            const std::uint64_t length = get64(data_ + z + 4);
            if (length >= kZip64EndSize - 12 &&
                length <= static_cast<std::uint64_t>(locator - z - 12))
                return z;
        }
        return -1;
    }

    // The directory's records, each checked against its local header: one that names no
    // local header with the same name and method, or whose data overlaps another's or runs
    // into the directory, is dropped and the archive marked damaged. False when no record
    // matched at all (offsets that mean something else: the walk of local headers decides).
    bool readEntries(Archive& a, std::int64_t shift, std::int64_t target) {
        dropped_ = 0;
        std::int64_t at = a.centralDirectory;
        while (at < target) {
            CentralRecord r;
            if (!readCentralRecord(data_, target, at, r)) break;
            at += r.length;
            LocalHeader h;
            const std::int64_t local =
                r.localHeader > kMaxOffset ? -1 : static_cast<std::int64_t>(r.localHeader) + shift;
            if (!readLocalHeader(data_, a.centralDirectory, local, h) ||
                h.nameLength != r.nameLength || h.method != r.method ||
                std::memcmp(data_ + local + kLocalSize, data_ + r.at + kCentralSize,
                            r.nameLength) != 0 ||
                r.compressedSize > static_cast<std::uint64_t>(a.centralDirectory - h.data)) {
                ++dropped_;
                continue;
            }
            Entry e = entryOf(data_, h);
            e.name.assign(reinterpret_cast<const char*>(data_ + r.at + kCentralSize), r.nameLength);
            e.flags = r.flags;
            e.utf8 = (r.flags & kFlagUtf8) != 0;
            e.encrypted = (r.flags & kFlagEncrypted) != 0;
            e.zip64 = r.zip64;
            e.crc32 = r.crc;
            e.compressedSize = r.compressedSize;
            e.size = r.size;
            e.centralHeader = r.at;
            a.entries.push_back(std::move(e));
        }
        if (a.entries.empty() && dropped_ > 0) return false;
        std::stable_sort(a.entries.begin(), a.entries.end(), [](const Entry& x, const Entry& y) {
            return x.localHeader < y.localHeader;
        });
        std::vector<Entry> apart;
        apart.reserve(a.entries.size());
        std::int64_t free = 0;
        for (Entry& e : a.entries) {
            if (e.localHeader < free) {
                ++dropped_;
                continue;
            }
            free = e.data + static_cast<std::int64_t>(e.compressedSize);
            apart.push_back(std::move(e));
        }
        a.entries = std::move(apart);
        if (dropped_ > 0) a.damaged = true;
        return true;
    }

    // Archives never overlap. End records come here from the last to the first, and an
    // archive's own end record follows what is stored in its entries: a newcomer that
    // overlaps archives already taken takes their place only when it has entries and its
    // bytes hold each one's end record (in its comment, say); otherwise the later one
    // stays. An empty archive, an end record alone, never claims another: the bytes before
    // an archive can look like one whose comment runs over it.
    void accept(Archive a) {
        std::size_t overlapped = 0;  // taken archives overlap a newcomer at the front
        while (overlapped < accepted_.size() && accepted_[overlapped].begin < a.end) ++overlapped;
        if (overlapped > 0 && a.entries.empty()) return;
        for (std::size_t i = 0; i < overlapped; ++i) {
            const Archive& taken = accepted_[i];
            if (taken.begin < a.begin || taken.endRecord + kEndSize > a.end) return;
        }
        accepted_.erase(accepted_.begin(),
                        accepted_.begin() + static_cast<std::ptrdiff_t>(overlapped));
        accepted_.push_front(std::move(a));
    }

    // ---- by local headers ---------------------------------------------------------------------

    // Archives of local headers in data[from, to), each walked entry after entry.
    void walkGap(std::int64_t from, std::int64_t to, std::vector<Archive>& out) {
        const auto walk = [&](std::int64_t at, std::uint32_t sig) {
            if (sig != kLocalSig) return std::int64_t{0};
            Archive a;
            walkLocal(at, to, a);
            if (a.entries.empty()) return std::int64_t{0};
            const std::int64_t end = a.end;
            out.push_back(std::move(a));
            return end;
        };
        if (!landmarks_) return forEachSignature(data_, from, to, walk);
        const std::vector<std::int64_t>& headers = landmarks_->localHeaders;
        auto cursor = static_cast<std::size_t>(
            std::lower_bound(headers.begin(), headers.end(), from) - headers.begin());
        for (std::int64_t at = from;;) {
            const std::int64_t hit = nextLandmark(headers, cursor, at);
            if (hit < 0 || hit + 4 > to) return;
            const std::int64_t next = walk(hit, kLocalSig);
            at = next > hit ? next : hit + 1;
        }
    }

    void walkLocal(std::int64_t at, std::int64_t to, Archive& a) {
        a.begin = at;
        a.damaged = true;  // no usable central directory
        while (to - at >= 4 && get32(data_ + at) == kLocalSig) {
            LocalHeader h;
            if (!readLocalHeader(data_, to, at, h) || !plausibleLocalHeader(h)) break;
            Entry e = entryOf(data_, h);
            std::int64_t next = -1;
            if (!entryEnd(h, to, e, next)) {
                // Its data runs to the end of what is free: what there is, is given.
                e.compressedSize = static_cast<std::uint64_t>(to - h.data);
                a.entries.push_back(std::move(e));
                a.end = to;
                return;
            }
            a.entries.push_back(std::move(e));
            a.end = next;
            at = next;
        }
    }

    // Where entry `h`'s data, and its data descriptor if it has one, end (`next`), with its
    // sizes and CRC from the descriptor; false when that cannot be told before `to`.
    bool entryEnd(const LocalHeader& h, std::int64_t to, Entry& e, std::int64_t& next) {
        const std::int64_t room = to - h.data;
        if (!(h.flags & kFlagDescriptor)) {
            if (h.compressedSize > static_cast<std::uint64_t>(room)) return false;
            next = h.data + static_cast<std::int64_t>(h.compressedSize);
            return true;
        }
        const bool wide = h.zip64Extra >= 0;
        if (h.method == 8 && !(h.flags & kFlagEncrypted)) {
            const DeflateWalk w = walkDeflate(data_ + h.data, static_cast<std::size_t>(room));
            if (w.end == WalkEnd::End) {
                const auto length = static_cast<std::int64_t>(w.length);
                if (descriptorAt(h.data, h.data + length, to, wide, false, e, next)) return true;
                // A descriptor that disagrees: the deflate data's end is trusted.
                e.compressedSize = w.length;
                next = h.data + length;
                return true;
            }
        }
        // Else the descriptor itself is looked for: its compressed size must be the distance.
        for (std::int64_t d = h.data; d + 12 <= to; ++d)
            if (descriptorAt(h.data, d, to, wide, true, e, next)) return true;
        return false;
    }

    // A data descriptor at `at` for data starting at `data`, with or without its signature,
    // with sizes of 4 or 8 bytes: the one whose compressed size is the data's length. When
    // `strict`, a descriptor without its signature must also be followed by a signature, and
    // a stored entry's sizes must agree.
    bool descriptorAt(std::int64_t data, std::int64_t at, std::int64_t to, bool wide, bool strict,
                      Entry& e, std::int64_t& next) {
        const auto length = static_cast<std::uint64_t>(at - data);
        for (const bool signed_ : {true, false}) {
            if (signed_ && (to - at < 4 || get32(data_ + at) != kDescriptorSig)) continue;
            for (const bool w : {wide, !wide}) {
                const std::int64_t p = at + (signed_ ? 4 : 0);
                const std::int64_t n = w ? 20 : 12;
                if (to - p < n) continue;
                const std::uint64_t csize = w ? get64(data_ + p + 4) : get32(data_ + p + 4);
                const std::uint64_t usize = w ? get64(data_ + p + 12) : get32(data_ + p + 8);
                if (csize != length) continue;
                if (strict && !signed_) {
                    if (to - (p + n) < 4 || (get32(data_ + p + n) & 0xFFFF) != kPK) continue;
                    if (e.method == 0 && usize != csize) continue;
                }
                e.crc32 = get32(data_ + p);
                e.compressedSize = csize;
                e.size = usize;
                next = p + n;
                return true;
            }
        }
        return false;
    }

    const std::uint8_t* data_;
    std::int64_t size_;
    const Landmarks* landmarks_;
    std::deque<Archive> accepted_;  // by the end record, in order and apart
    std::unordered_map<std::int64_t, std::int64_t> chainEnds_;
    std::uint64_t dropped_ = 0;
};

}  // namespace

std::vector<Archive> findArchives(const std::uint8_t* data, std::size_t size,
                                  const Landmarks* landmarks) {
    if (!data || size < 4) return {};
    return Finder(data, size, landmarks).run();
}

Inflated readEntry(const std::uint8_t* data, std::size_t size, const Entry& e,
                   const InflateLimits& limits, std::uint64_t& spent) {
    Inflated out;
    if (e.encrypted) {
        out.stop = Stop::Encrypted;
        return out;
    }
    if (e.method != 0 && e.method != 8) {
        out.stop = Stop::Unsupported;
        return out;
    }
    if (e.data < 0 || static_cast<std::uint64_t>(e.data) > size) {
        out.stop = Stop::Truncated;
        return out;
    }
    const std::uint64_t available = size - static_cast<std::uint64_t>(e.data);
    const std::uint64_t input = std::min(e.compressedSize, available);
    const std::uint8_t* from = data + e.data;
    if (e.method == 0) {
        const std::uint64_t left = spent >= limits.maxTotalBytes ? 0 : limits.maxTotalBytes - spent;
        const std::uint64_t n = std::min({input, limits.maxStreamBytes, left});
        out.bytes = ByteBuffer(from, static_cast<std::size_t>(n));
        out.consumed = n;
        spent += n;
        if (n < input)
            out.stop = left < limits.maxStreamBytes ? Stop::TotalLimit : Stop::StreamLimit;
        else if (input < e.compressedSize)
            out.stop = Stop::Truncated;
        else if (n != e.size || crc32Of(from, static_cast<std::size_t>(n)) != e.crc32)
            out.stop = Stop::Damaged;
        return out;
    }
    RawInflate r =
        inflateRaw(from, static_cast<std::size_t>(input), limits, spent, Check::Crc32, 0, e.size);
    spent += r.bytes.size();
    out.bytes = std::move(r.bytes);
    out.consumed = r.consumed;
    out.stop = r.stop;
    if (r.stop == Stop::None) {
        if (out.bytes.size() != e.size || r.check != e.crc32) out.stop = Stop::Damaged;
    } else if (r.stop == Stop::Truncated && input == e.compressedSize) {
        out.stop = Stop::Damaged;  // the deflate data goes on past the entry's size
    }
    return out;
}

}  // namespace kerbilo::zip
