// A ZIP entry, or a bare gzip member or zlib stream, written back as splices.
//
// An entry's local header, data and data descriptor become one splice, and the central
// directory with the end records another: the entries between keep every byte and only
// move. The archive is read again from the bytes first, so that an Archive that does not
// match them (or was found damaged) is refused rather than trusted.

#include <algorithm>

#include "scan/zip_detail.h"

namespace kerbilo::zip {

namespace {

using namespace detail;

// Bytes put together for a splice.
class Builder {
  public:
    void bytes(const std::uint8_t* p, std::size_t n) { out_.insert(out_.end(), p, p + n); }
    void bytes(const ByteBuffer& b) { bytes(b.data(), b.size()); }
    void u8(std::uint8_t v) { out_.push_back(v); }
    void u16(std::uint64_t v) { number(v, 2); }
    void u32(std::uint64_t v) { number(v, 4); }
    void u64(std::uint64_t v) { number(v, 8); }
    void zeros(std::size_t n) { out_.insert(out_.end(), n, 0); }
    std::size_t size() const { return out_.size(); }
    std::uint8_t* at(std::size_t i) { return out_.data() + i; }
    ByteBuffer done() const { return ByteBuffer(out_.data(), out_.size()); }

  private:
    void number(std::uint64_t v, int n) {
        for (int i = 0; i < n; ++i) out_.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    std::vector<std::uint8_t> out_;
};

std::uint32_t clamp32(std::uint64_t v) {
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(v, kEscape32));
}

// The archive as the bytes hold it: where its directory lies, its records, and how far its
// own offsets are from the bytes'.
struct Layout {
    std::int64_t directory = 0;
    std::int64_t target = 0;  // where the directory ends: the ZIP64 end record or end record
    std::int64_t shift = 0;
    std::uint64_t directoryOffset = 0;  // as stored
    std::vector<CentralRecord> records;
};

bool readLayout(const std::uint8_t* data, std::int64_t size, const Archive& a, Layout& l) {
    const std::int64_t end = a.endRecord;
    if (!a.hasCentralDirectory || a.damaged || end < 0 || size - end < kEndSize ||
        get32(data + end) != kEndSig)
        return false;
    l.target = end;
    l.directoryOffset = get32(data + end + 16);
    if (a.zip64EndRecord >= 0) {
        const std::int64_t z = a.zip64EndRecord;
        if (end < kZip64LocatorSize || z > end - kZip64LocatorSize - kZip64EndSize ||
            get32(data + z) != kZip64EndSig ||
            get32(data + end - kZip64LocatorSize) != kZip64LocatorSig)
            return false;
        l.target = z;
        l.directoryOffset = get64(data + z + 48);
    }
    l.directory = a.centralDirectory;
    if (l.directory < 0 || l.directory > l.target || l.directoryOffset > kMaxOffset) return false;
    l.shift = l.directory - static_cast<std::int64_t>(l.directoryOffset);
    for (std::int64_t at = l.directory; at < l.target;) {
        CentralRecord r;
        if (!readCentralRecord(data, l.target, at, r) || r.localHeader > kMaxOffset) return false;
        const std::int64_t local = static_cast<std::int64_t>(r.localHeader) + l.shift;
        if (local < 0 || local > size) return false;
        l.records.push_back(r);
        at += r.length;
    }
    return l.records.size() == a.entries.size();
}

// A central record with new sizes, CRC and local header offset; the ZIP64 extra field
// carries whichever of them it carried before, and any that no longer fits 32 bits.
bool rewriteRecord(const std::uint8_t* data, const CentralRecord& r, std::uint32_t crc,
                   std::uint64_t compressedSize, std::uint64_t size, std::uint64_t localHeader,
                   Builder& out) {
    const std::uint8_t* p = data + r.at;
    const bool sizeWide = get32(p + 24) == kEscape32 || size >= kEscape32;
    const bool compressedWide = get32(p + 20) == kEscape32 || compressedSize >= kEscape32;
    const bool offsetWide = get32(p + 42) == kEscape32 || localHeader >= kEscape32;
    const bool diskWide = get16(p + 34) == kEscape16;
    const std::int64_t extraAt = r.at + kCentralSize + r.nameLength;
    std::uint16_t oldLength = 0;
    const std::int64_t old = findExtra(data, extraAt, r.extraLength, kZip64ExtraId, oldLength);
    const int wide = sizeWide + compressedWide + offsetWide;
    const std::uint16_t zip64Length = static_cast<std::uint16_t>(8 * wide + (diskWide ? 4 : 0));

    // The other extra fields are kept as they were; a ZIP64 field of another shape is
    // written anew after them.
    Builder extra;
    const bool inPlace = old >= 0 && (oldLength == zip64Length || zip64Length == 0);
    if (inPlace) {
        extra.bytes(data + extraAt, r.extraLength);
    } else {
        std::int64_t at = extraAt;
        const std::int64_t end = extraAt + r.extraLength;
        while (at + 4 <= end) {
            const std::int64_t n = 4 + get16(data + at + 2);
            if (at + n > end) break;
            if (get16(data + at) != kZip64ExtraId)
                extra.bytes(data + at, static_cast<std::size_t>(n));
            at += n;
        }
        if (at < end) extra.bytes(data + at, static_cast<std::size_t>(end - at));
        if (zip64Length > 0) {
            extra.u16(kZip64ExtraId);
            extra.u16(zip64Length);
            extra.zeros(zip64Length);
        }
    }
    if (extra.size() > 0xFFFF) return false;
    if (zip64Length > 0 && extra.size() >= zip64Length) {
        std::uint8_t* f = extra.at(inPlace ? static_cast<std::size_t>(old - extraAt) + 4
                                           : extra.size() - zip64Length);
        for (const auto& [isWide, v] :
             {std::pair{sizeWide, size}, std::pair{compressedWide, compressedSize},
              std::pair{offsetWide, localHeader}}) {
            if (!isWide) continue;
            put64(f, v);
            f += 8;
        }
        if (diskWide) put32(f, r.disk);
    }

    const std::size_t start = out.size();
    out.bytes(p, kCentralSize);
    std::uint8_t* q = out.at(start);
    if (zip64Length > 0 && old < 0)
        put16(q + 6, std::max<std::uint16_t>(get16(p + 6), kZip64Version));
    put32(q + 16, crc);
    put32(q + 20, compressedWide ? kEscape32 : compressedSize);
    put32(q + 24, sizeWide ? kEscape32 : size);
    put16(q + 30, extra.size());
    put32(q + 42, offsetWide ? kEscape32 : localHeader);
    out.bytes(p + kCentralSize, r.nameLength);
    out.bytes(extra.done());
    const std::int64_t commentAt = extraAt + r.extraLength;
    out.bytes(data + commentAt, static_cast<std::size_t>(r.at + r.length - commentAt));
    return true;
}

// How the data descriptor after an entry's data is laid out: with its signature or not,
// sizes of 4 or 8 bytes; length 0 when there is none.
struct Descriptor {
    bool signature = false;
    int width = 4;
    std::int64_t length = 0;
};

Descriptor descriptorAfter(const std::uint8_t* data, std::int64_t at, std::int64_t limit,
                           const CentralRecord& r, bool zip64Local) {
    Descriptor d;
    d.signature = limit - at >= 4 && get32(data + at) == kDescriptorSig;
    const std::int64_t p = at + (d.signature ? 4 : 0);
    d.width = zip64Local ? 8 : 4;
    for (const int w : {d.width, 12 - d.width}) {
        if (limit - p < 4 + 2 * w) continue;
        const std::uint64_t csize = w == 8 ? get64(data + p + 4) : get32(data + p + 4);
        if (get32(data + p) == r.crc && csize == r.compressedSize) {
            d.width = w;
            break;
        }
    }
    // No descriptor at all where the next record begins at once.
    if (!d.signature && (at == limit || (limit - at >= 4 && (get32(data + at) == kLocalSig ||
                                                             get32(data + at) == kCentralSig))))
        return d;
    d.length = std::min<std::int64_t>((d.signature ? 4 : 0) + 4 + 2 * d.width, limit - at);
    return d;
}

// The entry's local header with the new CRC and sizes, in a ZIP64 extra field when it had
// one or they need it. A header whose writer left the CRC and sizes to the descriptor
// (zeros) keeps them zero.
void newLocalHeader(const std::uint8_t* data, const LocalHeader& h, std::uint32_t crc,
                    std::uint64_t compressedSize, std::uint64_t size, bool& zip64, Builder& out) {
    const std::uint8_t* p = data + h.at;
    const bool deferred = (h.flags & kFlagDescriptor) && get32(p + 14) == 0 && get32(p + 18) == 0 &&
                          get32(p + 22) == 0;
    const std::int64_t extraAt = h.at + kLocalSize + h.nameLength;
    std::uint16_t oldLength = 0;
    const std::int64_t old = findExtra(data, extraAt, h.extraLength, kZip64ExtraId, oldLength);
    zip64 = old >= 0 || compressedSize >= kEscape32 || size >= kEscape32;
    Builder extra;
    std::int64_t values = -1;  // where the extra field's two sizes go
    if (old >= 0 && oldLength >= 16) {
        extra.bytes(data + extraAt, h.extraLength);
        values = old - extraAt + 4;
    } else {
        std::int64_t at = extraAt;
        const std::int64_t end = extraAt + h.extraLength;
        while (at + 4 <= end) {
            const std::int64_t n = 4 + get16(data + at + 2);
            if (at + n > end) break;
            if (get16(data + at) != kZip64ExtraId)
                extra.bytes(data + at, static_cast<std::size_t>(n));
            at += n;
        }
        if (at < end) extra.bytes(data + at, static_cast<std::size_t>(end - at));
        if (zip64) {
            extra.u16(kZip64ExtraId);
            extra.u16(16);
            values = static_cast<std::int64_t>(extra.size());
            extra.zeros(16);
        }
    }
    if (values >= 0) {
        put64(extra.at(static_cast<std::size_t>(values)), deferred ? 0 : size);
        put64(extra.at(static_cast<std::size_t>(values) + 8), deferred ? 0 : compressedSize);
    }
    const std::size_t start = out.size();
    out.bytes(p, kLocalSize);
    std::uint8_t* q = out.at(start);
    if (zip64 && old < 0) put16(q + 4, std::max<std::uint16_t>(h.needed, kZip64Version));
    if (!deferred) {
        put32(q + 14, crc);
        put32(q + 18, zip64 ? kEscape32 : compressedSize);
        put32(q + 22, zip64 ? kEscape32 : size);
    }
    put16(q + 28, extra.size());
    out.bytes(p + kLocalSize, h.nameLength);
    out.bytes(extra.done());
}

Rewritten refused(WriteStatus status) {
    Rewritten r;
    r.status = status;
    return r;
}

}  // namespace

Rewritten replaceEntry(const std::uint8_t* data, std::size_t size, const Archive& archive,
                       std::size_t index, const ByteBuffer& content) {
    const auto total = static_cast<std::int64_t>(size);
    if (!data || index >= archive.entries.size()) return refused(WriteStatus::Damaged);
    const Entry& e = archive.entries[index];
    if (e.encrypted) return refused(WriteStatus::Encrypted);
    if (e.method != 0 && e.method != 8) return refused(WriteStatus::Unsupported);
    Layout l;
    if (!readLayout(data, total, archive, l)) return refused(WriteStatus::Damaged);
    const auto record =
        std::find_if(l.records.begin(), l.records.end(),
                     [&](const CentralRecord& r) { return r.at == e.centralHeader; });
    LocalHeader h;
    if (record == l.records.end() || !readLocalHeader(data, l.directory, e.localHeader, h) ||
        h.data != e.data || record->flags & kFlagEncrypted ||
        (record->method != 0 && record->method != 8) ||
        record->compressedSize > static_cast<std::uint64_t>(l.directory - h.data))
        return refused(WriteStatus::Damaged);
    const std::int64_t dataEnd = h.data + static_cast<std::int64_t>(record->compressedSize);
    // The descriptor ends by the next entry's local header, whatever it claims.
    std::int64_t next = l.directory;
    for (const Entry& other : archive.entries)
        if (other.localHeader >= dataEnd) next = std::min(next, other.localHeader);
    const Descriptor oldDescriptor =
        (record->flags & kFlagDescriptor)
            ? descriptorAfter(data, dataEnd, next, *record, h.zip64Extra >= 0)
            : Descriptor{};
    const std::int64_t oldEnd = dataEnd + oldDescriptor.length;

    ByteBuffer stored;
    if (record->method == 8) {
        stored = deflateRaw(content.data(), content.size(), 6);
        if (stored.empty()) return refused(WriteStatus::Damaged);
    } else {
        stored = content;
    }
    const std::uint32_t crc = crc32Of(content.data(), content.size());
    const std::uint64_t compressedSize = stored.size();
    const std::uint64_t uncompressedSize = content.size();

    Builder entry;
    bool zip64 = false;
    newLocalHeader(data, h, crc, compressedSize, uncompressedSize, zip64, entry);
    entry.bytes(stored);
    if (oldDescriptor.length > 0) {
        if (oldDescriptor.signature) entry.u32(kDescriptorSig);
        entry.u32(crc);
        const bool wide = oldDescriptor.width == 8 || zip64;
        if (wide) {
            entry.u64(compressedSize);
            entry.u64(uncompressedSize);
        } else {
            entry.u32(compressedSize);
            entry.u32(uncompressedSize);
        }
    }
    const std::int64_t delta = static_cast<std::int64_t>(entry.size()) - (oldEnd - e.localHeader);

    // The directory: this entry's record with its new CRC and sizes, later entries' offsets
    // moved by delta.
    Builder tail;
    for (const CentralRecord& r : l.records) {
        const std::int64_t local = static_cast<std::int64_t>(r.localHeader) + l.shift;
        const std::uint64_t offset = local > e.localHeader ? r.localHeader + delta : r.localHeader;
        bool ok = true;
        if (&r == &*record)
            ok = rewriteRecord(data, r, crc, compressedSize, uncompressedSize, offset, tail);
        else if (offset != r.localHeader)
            ok = rewriteRecord(data, r, r.crc, r.compressedSize, r.size, offset, tail);
        else
            tail.bytes(data + r.at, static_cast<std::size_t>(r.length));
        if (!ok) return refused(WriteStatus::Damaged);
    }
    const std::uint64_t count = l.records.size();
    const std::uint64_t directorySize = tail.size();
    const std::uint64_t directoryOffset = l.directoryOffset + delta;
    const bool zip64End = archive.zip64EndRecord >= 0 || count >= kEscape16 ||
                          directorySize >= kEscape32 || directoryOffset >= kEscape32;
    const std::uint8_t* end = data + archive.endRecord;
    if (zip64End) {
        const std::uint64_t zip64At = directoryOffset + directorySize;
        if (archive.zip64EndRecord >= 0) {
            const std::uint8_t* z = data + archive.zip64EndRecord;
            const std::size_t start = tail.size();
            tail.bytes(z, static_cast<std::size_t>(12 + get64(z + 4)));
            put64(tail.at(start + 40), directorySize);
            put64(tail.at(start + 48), directoryOffset);
        } else {
            tail.u32(kZip64EndSig);
            tail.u64(kZip64EndSize - 12);
            tail.u16(kZip64Version);  // made by
            tail.u16(kZip64Version);  // needed
            tail.u32(0);              // this disk
            tail.u32(0);              // the directory's disk
            tail.u64(count);
            tail.u64(count);
            tail.u64(directorySize);
            tail.u64(directoryOffset);
        }
        const std::uint8_t* locator = end - kZip64LocatorSize;
        const bool hadLocator = archive.zip64EndRecord >= 0;
        tail.u32(kZip64LocatorSig);
        tail.u32(hadLocator ? get32(locator + 4) : 0);
        tail.u64(zip64At);
        tail.u32(hadLocator ? get32(locator + 16) : 1);
    }
    const std::size_t endAt = tail.size();
    tail.bytes(end, kEndSize);
    put16(tail.at(endAt + 8), std::min<std::uint64_t>(count, kEscape16));
    put16(tail.at(endAt + 10), std::min<std::uint64_t>(count, kEscape16));
    put32(tail.at(endAt + 12), clamp32(directorySize));
    put32(tail.at(endAt + 16), clamp32(directoryOffset));

    Rewritten out;
    const std::int64_t tailFrom = l.directory;
    const std::int64_t tailTo = archive.endRecord + kEndSize;
    if (oldEnd == tailFrom) {
        entry.bytes(tail.done());
        out.splices.push_back({e.localHeader, tailTo - e.localHeader, entry.done()});
    } else {
        out.splices.push_back({e.localHeader, oldEnd - e.localHeader, entry.done()});
        out.splices.push_back({tailFrom, tailTo - tailFrom, tail.done()});
    }
    return out;
}

Rewritten replaceStream(const std::uint8_t* data, std::size_t size, const Stream& stream,
                        const ByteBuffer& content) {
    const auto total = static_cast<std::int64_t>(size);
    const std::int64_t at = stream.offset;
    const auto length = static_cast<std::int64_t>(stream.inflated.consumed);
    if (!data || at < 0 || length <= 0 || length > total - at) return refused(WriteStatus::Damaged);
    const bool gzip = stream.kind == StreamKind::Gzip;
    std::int64_t header = 2;
    int windowBits = 15;
    if (gzip) {
        header = gzipHeaderLength(data, at, at + length);
        if (header == 0) return refused(WriteStatus::Damaged);
    } else {
        const std::uint8_t cmf = data[at];
        if (length < 2 || (cmf & 0x0F) != 8 || (cmf >> 4) > 7 ||
            ((cmf << 8) | data[at + 1]) % 31 != 0)
            return refused(WriteStatus::Damaged);
        // The window the header declares, so that a reader sized by it takes the new data;
        // deflate's smallest is 512 bytes.
        windowBits = std::max(9, (cmf >> 4) + 8);
    }
    const std::int64_t trailer = gzip ? 8 : 4;
    const std::int64_t room = length - header - trailer;
    const std::uint32_t check =
        gzip ? crc32Of(content.data(), content.size()) : adler32Of(content.data(), content.size());
    for (int level = 9; level >= 1 && room > 0; --level) {
        const ByteBuffer deflated = deflateRaw(content.data(), content.size(), level, windowBits);
        if (deflated.empty()) return refused(WriteStatus::NoRoom);
        const auto over = static_cast<std::int64_t>(deflated.size()) - room;
        if (over > 0) {
            // Levels seldom differ by more than a few percent: past that, none will fit.
            if (over > room / 16) break;
            continue;
        }
        Builder out;
        if (gzip) {
            out.bytes(data + at, static_cast<std::size_t>(header));
        } else {
            const int flevel = level < 2 ? 0 : level < 6 ? 1 : level == 6 ? 2 : 3;
            const unsigned cmf = static_cast<unsigned>(windowBits - 8) << 4 | 8;
            unsigned head = cmf << 8 | static_cast<unsigned>(flevel) << 6;
            head += 31 - head % 31;
            out.u8(static_cast<std::uint8_t>(head >> 8));
            out.u8(static_cast<std::uint8_t>(head));
        }
        out.bytes(deflated);
        if (gzip) {
            out.u32(check);
            out.u32(content.size());
        } else {
            for (int shift = 24; shift >= 0; shift -= 8)  // Adler-32 is big-endian
                out.u8(static_cast<std::uint8_t>(check >> shift));
        }
        out.zeros(static_cast<std::size_t>(length) - out.size());
        Rewritten r;
        r.splices.push_back({at, length, out.done()});
        return r;
    }
    return refused(WriteStatus::NoRoom);
}

}  // namespace kerbilo::zip
