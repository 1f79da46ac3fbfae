// gzip members and zlib streams found in any bytes.
//
// A zlib header is two bytes that one position in about two thousand of random data
// passes, so what follows must decide: the deflate data is first walked without inflating
// (a random start is refused within a few bytes, and a real stream's end and inflated size
// are learnt at a cost linear in its compressed bytes), and only then inflated, under the
// limits, for its checksum. A stream counts when its checksum holds; one that cannot be
// checked (cut short by the bytes' end, or stopped at a limit) counts only when its
// header is gzip's or it inflates to enough bytes that chance would not get there.

#include <algorithm>

#include "scan/zip_detail.h"

namespace kerbilo::zip {

namespace {

using namespace detail;

constexpr std::uint64_t kMinUncheckedGzip = 16;  // inflated bytes
constexpr std::uint64_t kMinUncheckedZlib = 64;

// The first position in [at, to − 1) where streamStart() holds, else `to`. Sixteen
// positions at a time where the processor allows.
std::int64_t nextCandidate(const std::uint8_t* data, std::int64_t at, std::int64_t to) {
#if defined(__SSE2__)
    for (; at + 17 <= to; at += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at + 1));
        if (const auto mask = static_cast<unsigned>(_mm_movemask_epi8(streamStarts(a, b))))
            return at + __builtin_ctz(mask);
    }
#endif
    for (; at + 1 < to; ++at)
        if (streamStart(data[at], data[at + 1])) return at;
    return to;
}

struct Attempt {
    bool counts = false;
    Stream stream;
    std::uint64_t walked = 0;  // bytes looked at, when it does not count
};

class StreamFinder {
  public:
    StreamFinder(const std::uint8_t* data, std::size_t size, const InflateLimits& limits,
                 std::uint64_t& spent, const Landmarks* landmarks)
        : data_(data),
          limits_(limits),
          spent_(spent),
          wasteBudget_(2 * size + (16 << 20)),
          landmarks_(landmarks) {}

    void searchGap(std::int64_t from, std::int64_t to, std::vector<Stream>& out) {
        std::int64_t at = from;
        for (;;) {
            at = next(at, to);
            if (at >= to) return;
            Attempt t = attempt(at, to);
            if (t.counts) {
                at += static_cast<std::int64_t>(t.stream.inflated.consumed);
                out.push_back(std::move(t.stream));
                continue;
            }
            // Bytes made to look like many streams that each fail late would cost a walk
            // each; past a budget of such work, the bytes a failed walk read are passed.
            waste_ += t.walked;
            if (waste_ > wasteBudget_ && t.walked > 1)
                at += static_cast<std::int64_t>(t.walked);
            else
                ++at;
        }
    }

  private:
    // Gaps come in order, so one cursor serves them all.
    std::int64_t next(std::int64_t at, std::int64_t to) {
        if (!landmarks_) return nextCandidate(data_, at, to);
        const std::vector<std::int64_t>& starts = landmarks_->streams;
        const std::int64_t hit = nextLandmark(starts, cursor_, at);
        // The bytes were read long ago: each candidate would wait for memory without this.
        constexpr std::size_t kAhead = 8;
        if (cursor_ + kAhead < starts.size()) __builtin_prefetch(data_ + starts[cursor_ + kAhead]);
        return hit >= 0 && hit + 1 < to ? hit : to;
    }

    Attempt attempt(std::int64_t at, std::int64_t to) {
        Attempt t;
        const bool gzip = data_[at] == 0x1F;
        const std::int64_t header = gzip ? gzipHeaderLength(data_, at, to) : 2;
        if (header == 0 || to - at < header) return t;
        const std::int64_t start = at + header;
        const std::int64_t trailer = gzip ? 8 : 4;
        const DeflateWalk w = walkDeflate(data_ + start, static_cast<std::size_t>(to - start));
        t.walked = static_cast<std::uint64_t>(header) + w.length;
        if (w.end == WalkEnd::Invalid) return t;
        const std::int64_t end = start + static_cast<std::int64_t>(w.length);
        const bool whole = w.end == WalkEnd::End && to - end >= trailer;
        const std::uint64_t minimum = gzip ? kMinUncheckedGzip : kMinUncheckedZlib;
        if (!whole && w.output < minimum) return t;

        RawInflate r = inflateRaw(data_ + start, static_cast<std::size_t>(end - start), limits_,
                                  spent_, gzip ? Check::Crc32 : Check::Adler32,
                                  static_cast<std::uint64_t>(header), w.output);
        spent_ += r.bytes.size();
        Stream& s = t.stream;
        s.kind = gzip ? StreamKind::Gzip : StreamKind::Zlib;
        s.offset = at;
        s.inflated.consumed = static_cast<std::uint64_t>(whole ? end + trailer - at : to - at);
        s.inflated.stop = r.stop;
        const bool limited =
            r.stop == Stop::StreamLimit || r.stop == Stop::TotalLimit || r.stop == Stop::RatioLimit;
        if (whole && r.stop == Stop::None) {
            const std::uint8_t* tail = data_ + end;
            const bool right =
                gzip ? get32(tail) == r.check &&
                           get32(tail + 4) == static_cast<std::uint32_t>(r.bytes.size())
                     : (static_cast<std::uint32_t>(tail[0]) << 24 | tail[1] << 16 | tail[2] << 8 |
                        tail[3]) == r.check;
            if (!right) {
                // A gzip header is rare enough by chance that a member whose deflate data
                // holds but whose check fails is a damaged member, not noise.
                if (!gzip || r.bytes.size() < minimum) return t;
                s.inflated.stop = Stop::Damaged;
            }
            t.counts = true;
        } else if (limited) {
            t.counts = w.output >= minimum;
        } else if (!whole && (r.stop == Stop::Truncated || r.stop == Stop::None)) {
            s.inflated.stop = Stop::Truncated;
            t.counts = true;
        }
        if (t.counts) s.inflated.bytes = std::move(r.bytes);
        return t;
    }

    const std::uint8_t* data_;
    const InflateLimits& limits_;
    std::uint64_t& spent_;
    std::uint64_t waste_ = 0;
    std::uint64_t wasteBudget_;
    const Landmarks* landmarks_;
    std::size_t cursor_ = 0;
};

}  // namespace

namespace detail {

constexpr std::int64_t kMaxGzipText = 4096;  // a file name or comment in a gzip header

// The length of the gzip header at data[at, to), 0 when there is none whole.
std::int64_t gzipHeaderLength(const std::uint8_t* data, std::int64_t at, std::int64_t to) {
    if (to - at < 10) return 0;
    const std::uint8_t* p = data + at;
    if (p[0] != 0x1F || p[1] != 0x8B || p[2] != 8) return 0;
    const std::uint8_t flags = p[3];
    if (flags & 0xE0) return 0;  // reserved
    std::int64_t h = at + 10;
    if (flags & 0x04) {  // extra field
        if (to - h < 2) return 0;
        const std::int64_t n = get16(data + h);
        if (to - h - 2 < n) return 0;
        h += 2 + n;
    }
    for (const std::uint8_t text : {0x08, 0x10}) {  // file name, comment: zero-terminated
        if (!(flags & text)) continue;
        const void* zero =
            std::memchr(data + h, 0, static_cast<std::size_t>(std::min(to - h, kMaxGzipText)));
        if (!zero) return 0;
        h = static_cast<const std::uint8_t*>(zero) - data + 1;
    }
    if (flags & 0x02) {  // the header's own CRC
        if (to - h < 2) return 0;
        if ((crc32Of(data + at, static_cast<std::size_t>(h - at)) & 0xFFFF) != get16(data + h))
            return 0;
        h += 2;
    }
    return h - at;
}

}  // namespace detail

std::vector<Stream> findStreams(const std::uint8_t* data, std::size_t size,
                                const InflateLimits& limits, std::uint64_t& spent,
                                const std::vector<std::pair<std::int64_t, std::int64_t>>& skip,
                                const Landmarks* landmarks) {
    std::vector<Stream> out;
    if (!data || size < 2) return out;
    const auto total = static_cast<std::int64_t>(size);
    std::vector<std::pair<std::int64_t, std::int64_t>> ranges;
    ranges.reserve(skip.size());
    for (auto [b, e] : skip) {
        b = std::clamp<std::int64_t>(b, 0, total);
        e = std::clamp<std::int64_t>(e, 0, total);
        if (b < e) ranges.emplace_back(b, e);
    }
    std::sort(ranges.begin(), ranges.end());
    StreamFinder finder(data, size, limits, spent, landmarks);
    std::int64_t from = 0;
    for (const auto& [b, e] : ranges) {
        if (b > from) finder.searchGap(from, b, out);
        from = std::max(from, e);
    }
    if (from < total) finder.searchGap(from, total, out);
    return out;
}

}  // namespace kerbilo::zip
