#pragma once
// What the ZIP reader, the stream finder and the writer share: little-endian fields, the
// records' signatures and layouts, a walk over deflate data that checks it and counts its
// output without producing it, and inflating under limits. Internal to the scan library.

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "scan/zip_archive.h"

namespace kerbilo::zip::detail {

inline std::uint16_t get16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t get32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t get64(const std::uint8_t* p) {
    return get32(p) | (static_cast<std::uint64_t>(get32(p + 4)) << 32);
}
inline void put16(std::uint8_t* p, std::uint64_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void put32(std::uint8_t* p, std::uint64_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}
inline void put64(std::uint8_t* p, std::uint64_t v) {
    for (int i = 0; i < 8; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// The records' signatures as little-endian numbers: "PK" and two bytes.
constexpr std::uint32_t kLocalSig = 0x04034b50;
constexpr std::uint32_t kCentralSig = 0x02014b50;
constexpr std::uint32_t kEndSig = 0x06054b50;
constexpr std::uint32_t kZip64EndSig = 0x06064b50;
constexpr std::uint32_t kZip64LocatorSig = 0x07064b50;
constexpr std::uint32_t kDescriptorSig = 0x08074b50;

constexpr std::int64_t kLocalSize = 30;  // fixed part, before name and extra field
constexpr std::int64_t kCentralSize = 46;
constexpr std::int64_t kEndSize = 22;
constexpr std::int64_t kZip64EndSize = 56;
constexpr std::int64_t kZip64LocatorSize = 20;

constexpr std::uint16_t kZip64ExtraId = 0x0001;
constexpr std::uint16_t kFlagEncrypted = 0x0001;
constexpr std::uint16_t kFlagDescriptor = 0x0008;
constexpr std::uint16_t kFlagUtf8 = 0x0800;
constexpr std::uint32_t kEscape32 = 0xFFFFFFFFu;
constexpr std::uint16_t kEscape16 = 0xFFFF;
constexpr std::uint16_t kZip64Version = 45;
// Offsets are believed up to 2^62, which keeps the arithmetic of an archive's shift exact.
constexpr std::uint64_t kMaxOffset = std::uint64_t{1} << 62;

// One central directory record, as read: the 32-bit fields' values after the ZIP64 extra
// field, and which of them that field holds.
struct CentralRecord {
    std::int64_t at = 0;
    std::int64_t length = 0;  // fixed part, name, extra field and comment
    std::uint16_t needed = 0;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint32_t crc = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t size = 0;
    std::uint64_t localHeader = 0;  // as stored: from the archive's own start
    std::uint32_t disk = 0;
    std::uint16_t nameLength = 0;
    std::uint16_t extraLength = 0;
    bool zip64 = false;
};

// The record at data[at], which must end by `limit`; false when it does not fit or its
// signature is wrong. ZIP64 values whose escapes have no extra field to fill them stay
// escaped.
bool readCentralRecord(const std::uint8_t* data, std::int64_t limit, std::int64_t at,
                       CentralRecord& r);

// The local header at data[at], which must end by `limit`.
struct LocalHeader {
    std::int64_t at = 0;
    std::uint16_t needed = 0;
    std::uint16_t flags = 0;
    std::uint16_t method = 0;
    std::uint32_t crc = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t size = 0;
    std::uint16_t nameLength = 0;
    std::uint16_t extraLength = 0;
    std::int64_t zip64Extra = -1;  // offset of its ZIP64 extra field's header, −1 none
    std::int64_t data = 0;
};
bool readLocalHeader(const std::uint8_t* data, std::int64_t limit, std::int64_t at, LocalHeader& h);

// The first extra field with `id` in data[from, from + length): offset of its 4-byte header,
// and its data's length; −1 when there is none whole.
std::int64_t findExtra(const std::uint8_t* data, std::int64_t from, std::int64_t length,
                       std::uint16_t id, std::uint16_t& fieldLength);

// The length of the gzip member header at data[at, to) (its optional fields and header CRC
// checked), 0 when there is none whole.
std::int64_t gzipHeaderLength(const std::uint8_t* data, std::int64_t at, std::int64_t to);

// ---- where a gzip member or zlib stream may start ------------------------------------------

// Whether two bytes may start a gzip member or a zlib stream: gzip's magic, or a zlib
// header of deflate with a window of at most 32 KiB, its check bits right and no preset
// dictionary.
inline bool streamStart(std::uint8_t a, std::uint8_t b) {
    if (a == 0x1F) return b == 0x8B;
    return (a & 0x8F) == 0x08 && !(b & 0x20) && ((a << 8) | b) % 31 == 0;
}

#if defined(__SSE2__)
// streamStart() for sixteen positions at once: `a` holds their bytes, `b` the bytes one
// further; 0xFF in the lanes where it holds. A multiple of 31 is a 16-bit value whose
// product with 31's inverse modulo 2^16 is at most 65535 / 31.
inline __m128i streamStarts(__m128i a, __m128i b) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i lowBytes = _mm_set1_epi16(0x00FF);
    const auto multipleOf31 = [&](__m128i pairs) {  // lane k: bytes 2k and 2k + 1
        const __m128i value = _mm_or_si128(_mm_slli_epi16(pairs, 8), _mm_srli_epi16(pairs, 8));
        const __m128i product = _mm_mullo_epi16(value, _mm_set1_epi16(31711));  // 31 · 31711 ≡ 1
        return _mm_cmpeq_epi16(_mm_subs_epu16(product, _mm_set1_epi16(65535 / 31)), zero);
    };
    // Even positions' pairs are a's lanes, odd positions' are b's.
    const __m128i check = _mm_or_si128(_mm_and_si128(multipleOf31(a), lowBytes),
                                       _mm_andnot_si128(lowBytes, multipleOf31(b)));
    const __m128i zlib = _mm_and_si128(
        _mm_and_si128(_mm_cmpeq_epi8(_mm_and_si128(a, _mm_set1_epi8(static_cast<char>(0x8F))),
                                     _mm_set1_epi8(0x08)),
                      _mm_cmpeq_epi8(_mm_and_si128(b, _mm_set1_epi8(0x20)), zero)),
        check);
    const __m128i gzip = _mm_and_si128(_mm_cmpeq_epi8(a, _mm_set1_epi8(0x1F)),
                                       _mm_cmpeq_epi8(b, _mm_set1_epi8(static_cast<char>(0x8B))));
    return _mm_or_si128(zlib, gzip);
}
#endif

// ---- deflate walked ---------------------------------------------------------------------

enum class WalkEnd {
    End,        // the final block ended
    Truncated,  // the bytes ended first
    Invalid,    // zlib would refuse these bytes
};

struct DeflateWalk {
    WalkEnd end = WalkEnd::Invalid;
    std::uint64_t length = 0;  // bytes read: through the final block's last byte at End
    std::uint64_t output = 0;  // what the stream inflates to, up to where the walk stopped
};

// Deflate data at data[0, size) walked as zlib would inflate it, refusing what it refuses
// (bad block types, stored lengths, code sets and symbols, distances before the start),
// without producing output: the work is linear in the compressed bytes however much they
// would inflate to.
DeflateWalk walkDeflate(const std::uint8_t* data, std::size_t size);

// ---- inflating under limits -------------------------------------------------------------

enum class Check { Crc32, Adler32 };

struct RawInflate {
    ByteBuffer bytes;
    Stop stop = Stop::None;      // None: the deflate data ended; Truncated: the input ended
    std::uint64_t consumed = 0;  // input bytes used, up to the end of the deflate data
    std::uint32_t check = 0;     // of the bytes produced
};

// Raw deflate data at data[0, size) inflated, stopping at the limits: at most
// maxStreamBytes and what is left of maxTotalBytes after `spent` (not changed here), and
// never more than maxRatio bytes per byte read (counting `overhead` bytes of header too).
// `expected`, when known, sizes the first allocation (never past the limit).
RawInflate inflateRaw(const std::uint8_t* data, std::size_t size, const InflateLimits& limits,
                      std::uint64_t spent, Check check, std::uint64_t overhead = 0,
                      std::uint64_t expected = 0);

// The data deflated raw (no header) at `level` with a window of 2^windowBits bytes; empty
// when memory runs out (an empty input deflates to two bytes, never to nothing).
ByteBuffer deflateRaw(const std::uint8_t* data, std::size_t size, int level, int windowBits = 15);

std::uint32_t crc32Of(const std::uint8_t* data, std::size_t size);
std::uint32_t adler32Of(const std::uint8_t* data, std::size_t size);

}  // namespace kerbilo::zip::detail
