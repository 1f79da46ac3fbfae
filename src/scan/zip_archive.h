#pragma once
// Compressed data inside other bytes: ZIP archives (walked by their local headers and, when
// present, their central directory), gzip members and zlib streams, read with limits that
// hostile input cannot pass, and a ZIP archive written back with one entry replaced.
//
// Offsets count from the first byte of the bytes given, so that an archive found inside
// other bytes (appended to a program, inside another archive's entry) reads alike.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "runtime/byte_buffer.h"
#include "runtime/splice.h"
#include "scan/landmarks.h"

namespace kerbilo::zip {

// What inflating may cost. A stream that would pass a limit stops there, with the bytes
// inflated so far and the limit named.
struct InflateLimits {
    std::uint64_t maxStreamBytes = std::uint64_t{512} << 20;  // inflated, one stream
    std::uint64_t maxTotalBytes = std::uint64_t{4} << 30;     // inflated, one opened file
    // Inflated bytes per compressed byte past `ratioGrace` bytes: deflate reaches about
    // 1032:1 on zeros, what bombs are made of; real data past a few MiB rarely passes 100:1.
    std::uint64_t maxRatio = 256;
    std::uint64_t ratioGrace = std::uint64_t{16} << 20;
};

enum class Stop {
    None,         // the stream ended as its format says
    Truncated,    // the bytes ended first: what was inflated is given
    Damaged,      // the data is not valid deflate (or the CRC or size disagrees)
    StreamLimit,  // InflateLimits::maxStreamBytes
    TotalLimit,   // InflateLimits::maxTotalBytes, counted through `spent`
    RatioLimit,   // InflateLimits::maxRatio
    Encrypted,    // a ZIP entry that is encrypted: not inflated
    Unsupported,  // a ZIP method other than stored (0) and deflate (8)
};

struct Inflated {
    ByteBuffer bytes;  // what could be inflated (all of it when stop is None)
    Stop stop = Stop::None;
    std::uint64_t consumed = 0;  // compressed bytes read, header and trailer included
};

// ---- ZIP ------------------------------------------------------------------------------

struct Entry {
    std::string name;          // as stored: bytes, not a path (may hold "../", "/", NUL)
    bool utf8 = false;         // general purpose flag bit 11
    std::uint16_t method = 0;  // 0 stored, 8 deflate, others unsupported
    std::uint16_t flags = 0;
    bool encrypted = false;
    bool zip64 = false;  // sizes or offset came from a ZIP64 extra field
    std::uint32_t crc32 = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t size = 0;           // uncompressed
    std::int64_t localHeader = 0;     // offset of its local file header
    std::int64_t data = 0;            // offset of its compressed data
    std::int64_t centralHeader = -1;  // offset of its central directory record; −1 none
};

struct Archive {
    std::int64_t begin = 0;  // the first local header (or the central directory of an
                             // empty archive)
    std::int64_t end = 0;    // one past the end record (or past the last entry's data
                             // when there is no central directory)
    bool hasCentralDirectory = false;
    std::int64_t centralDirectory = -1;  // offset of the central directory
    std::int64_t endRecord = -1;         // offset of the end of central directory record
    std::int64_t zip64EndRecord = -1;    // offset of the ZIP64 end record, −1 none
    std::vector<Entry> entries;          // in local header order
    // Some of it could not be read: records of the directory whose local header is missing
    // or disagrees (name, method), or whose data overlaps another entry's or runs into the
    // directory, are left out of `entries`; a count that disagrees; an end record cut
    // short. An archive found by its local headers alone (no usable directory) is damaged
    // too. replaceEntry refuses a damaged archive.
    bool damaged = false;
};

// Every ZIP archive in data[0, size), in file order, each found by its local headers or its
// end record; none of them overlapping. Linear in size; never reads outside the bytes.
// Of two that would overlap, one with entries whose bytes hold the other's end record is
// kept (an archive stored in another's entry is found by reading that entry), else the
// later; an archive with a usable directory goes before one of local headers alone.
// `landmarks`: findLandmarks() of the same bytes, when it was run, saves the passes.
std::vector<Archive> findArchives(const std::uint8_t* data, std::size_t size,
                                  const Landmarks* landmarks = nullptr);

// Entry `e`'s bytes, inflated or copied, with `spent` (the inflated bytes of the opened
// file so far) counted against maxTotalBytes and increased.
Inflated readEntry(const std::uint8_t* data, std::size_t size, const Entry& e,
                   const InflateLimits& limits, std::uint64_t& spent);

// ---- gzip and zlib streams ------------------------------------------------------------

enum class StreamKind { Gzip, Zlib };

struct Stream {
    StreamKind kind = StreamKind::Gzip;
    std::int64_t offset = 0;  // its header's first byte
    // consumed: the stream's length in the bytes, trailer included, also when inflating
    // stopped at a limit; for a stream cut short, to the end of the bytes searched.
    Inflated inflated;
};

// Every gzip member and zlib stream in data[0, size) outside `skip` (the archives' extents,
// say), in file order: a candidate header is checked cheaply (gzip's magic and method,
// zlib's CMF/FLG check and window size) and then inflated, and only a stream that inflates
// to its end (or to a limit) counts. A stream found is not searched again inside.
// A stream counts when its checksum holds; one that cannot be checked (cut short, stopped
// at a limit) or a gzip member whose CRC or size fails (Stop::Damaged) counts only when it
// inflates to enough bytes (16 for gzip, 64 for zlib's weaker header) that chance in
// random bytes does not get there. Every byte inflated, counted or not, adds to `spent`.
// A stream running into a skipped range is cut there. `landmarks` as for findArchives.
std::vector<Stream> findStreams(const std::uint8_t* data, std::size_t size,
                                const InflateLimits& limits, std::uint64_t& spent,
                                const std::vector<std::pair<std::int64_t, std::int64_t>>& skip = {},
                                const Landmarks* landmarks = nullptr);

// ---- writing --------------------------------------------------------------------------

enum class WriteStatus {
    Written,
    Encrypted,    // the entry is encrypted: nothing to do
    Unsupported,  // its method is neither stored nor deflate
    NoRoom,       // a bare stream whose recompressed data does not fit where the old was
    Damaged,      // the archive could not be read whole
};

struct Rewritten {
    WriteStatus status = WriteStatus::Written;
    std::vector<Splice> splices;  // sorted, apart, offsets as in the bytes given
};

// The archive with entry `index` holding `content` (compressed as the entry was: deflate or
// stored), its CRC-32 and sizes updated in the local header (or data descriptor) and the
// central directory, later entries' offsets, the central directory and the end records
// rewritten (ZIP64 when sizes require it).
Rewritten replaceEntry(const std::uint8_t* data, std::size_t size, const Archive& archive,
                       std::size_t index, const ByteBuffer& content);

// A bare gzip member or zlib stream with `content` compressed anew, in place when it fits
// (the rest of the old stream's bytes zeroed; gzip's trailer CRC and size updated), else
// NoRoom. A gzip header is kept as it was; a zlib header is written anew for the same
// window, so that a reader sized by it still takes the data.
Rewritten replaceStream(const std::uint8_t* data, std::size_t size, const Stream& stream,
                        const ByteBuffer& content);

}  // namespace kerbilo::zip
