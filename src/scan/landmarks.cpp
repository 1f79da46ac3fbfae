#include "scan/landmarks.h"

#include "scan/zip_detail.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KERBILO_LANDMARKS_AVX2 1
#endif

namespace kerbilo {

namespace {

using zip::detail::get32;

// Files the landmark at `at` (whose two bytes are `a`, `b`) in its list; false when the
// lists are full.
class Collector {
  public:
    Collector(const std::uint8_t* data, std::size_t size, std::size_t maxPositions)
        : data_(data), size_(size), left_(maxPositions) {}

    bool add(std::size_t at) {
        const std::uint8_t a = data_[at], b = data_[at + 1];
        const auto position = static_cast<std::int64_t>(at);
        const auto put = [&](std::vector<std::int64_t>& list) {
            if (left_ == 0) return false;
            --left_;
            list.push_back(position);
            return true;
        };
        if (a == 'M' && b == 'Z') return put(found_.programs);
        if (a == 'P' && b == 'K') {
            if (at + 4 > size_) return true;
            const std::uint32_t sig = get32(data_ + at);
            if (sig == zip::detail::kLocalSig) return put(found_.localHeaders);
            if (sig == zip::detail::kEndSig) return put(found_.endRecords);
            return true;
        }
        return !zip::detail::streamStart(a, b) || put(found_.streams);
    }

    Landmarks take() { return std::move(found_); }

  private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t left_;
    Landmarks found_;
};

// Landmarks of the positions [at, …) in blocks of 16; the first position not looked at.
std::size_t blocksOf16(const std::uint8_t* data, std::size_t size, std::size_t at,
                       Collector& collector, bool& full) {
#if defined(__SSE2__)
    const __m128i p = _mm_set1_epi8('P'), k = _mm_set1_epi8('K');
    const __m128i m = _mm_set1_epi8('M'), z = _mm_set1_epi8('Z');
    for (; at + 17 <= size; at += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at + 1));
        const __m128i pk = _mm_and_si128(_mm_cmpeq_epi8(a, p), _mm_cmpeq_epi8(b, k));
        const __m128i mz = _mm_and_si128(_mm_cmpeq_epi8(a, m), _mm_cmpeq_epi8(b, z));
        auto mask = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_or_si128(_mm_or_si128(pk, mz), zip::detail::streamStarts(a, b))));
        for (; mask; mask &= mask - 1)
            if (!collector.add(at + static_cast<unsigned>(__builtin_ctz(mask)))) {
                full = true;
                return at;
            }
    }
#else
    (void)data, (void)size, (void)collector, (void)full;
#endif
    return at;
}

#if KERBILO_LANDMARKS_AVX2
// The same in blocks of 32, for processors that have AVX2, and with tables instead of a
// multiplication. A zlib header's first byte a has the low nibble 8 and a high nibble h of
// 0 to 7, which fixes the remainder modulo 31 that the second byte b needs for
// (a << 8 | b) to be a multiple of 31; b's own remainder is (b & 31) + (b >> 5), one
// subtraction of 31 away since 32 ≡ 1, and its bit 5 (no preset dictionary) must be 0.
// What a rules out is marked 64 (the remainder b needs is then 64 to 124), what b rules out
// 128 (its remainder is then 128 to 159): neither meets the other nor a real remainder.
__attribute__((target("avx2"))) inline __m256i streamStarts32(__m256i a, __m256i b) {
    const __m256i byHigh = _mm256_setr_epi8(  // a's high nibble: the remainder b needs
        29, 25, 21, 17, 13, 9, 5, 1, 64, 64, 64, 64, 64, 64, 64, 64,  //
        29, 25, 21, 17, 13, 9, 5, 1, 64, 64, 64, 64, 64, 64, 64, 64);
    const __m256i byLow = _mm256_setr_epi8(  // a's low nibble: 8 or nothing
        64, 64, 64, 64, 64, 64, 64, 64, 0, 64, 64, 64, 64, 64, 64, 64,  //
        64, 64, 64, 64, 64, 64, 64, 64, 0, 64, 64, 64, 64, 64, 64, 64);
    const __m256i bHigh = _mm256_setr_epi8(  // b's high nibble: b >> 5, or nothing with bit 5
        0, 0, -128, -128, 2, 2, -128, -128, 4, 4, -128, -128, 6, 6, -128, -128,  //
        0, 0, -128, -128, 2, 2, -128, -128, 4, 4, -128, -128, 6, 6, -128, -128);
    const __m256i nibble = _mm256_set1_epi8(15);
    const __m256i need = _mm256_or_si256(
        _mm256_shuffle_epi8(byHigh, _mm256_and_si256(_mm256_srli_epi16(a, 4), nibble)),
        _mm256_shuffle_epi8(byLow, _mm256_and_si256(a, nibble)));
    const __m256i remainder = _mm256_add_epi8(
        _mm256_and_si256(b, _mm256_set1_epi8(31)),
        _mm256_shuffle_epi8(bHigh, _mm256_and_si256(_mm256_srli_epi16(b, 4), nibble)));
    const __m256i zlib =
        _mm256_or_si256(_mm256_cmpeq_epi8(remainder, need),
                        _mm256_cmpeq_epi8(remainder, _mm256_add_epi8(need, _mm256_set1_epi8(31))));
    const __m256i gzip =
        _mm256_and_si256(_mm256_cmpeq_epi8(a, _mm256_set1_epi8(0x1F)),
                         _mm256_cmpeq_epi8(b, _mm256_set1_epi8(static_cast<char>(0x8B))));
    return _mm256_or_si256(zlib, gzip);
}

__attribute__((target("avx2"))) std::size_t blocksOf32(const std::uint8_t* data, std::size_t size,
                                                       std::size_t at, Collector& collector,
                                                       bool& full) {
    const __m256i p = _mm256_set1_epi8('P'), k = _mm256_set1_epi8('K');
    const __m256i m = _mm256_set1_epi8('M'), z = _mm256_set1_epi8('Z');
    for (; at + 33 <= size; at += 32) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + at));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(data + at + 1));
        const __m256i pk = _mm256_and_si256(_mm256_cmpeq_epi8(a, p), _mm256_cmpeq_epi8(b, k));
        const __m256i mz = _mm256_and_si256(_mm256_cmpeq_epi8(a, m), _mm256_cmpeq_epi8(b, z));
        auto mask = static_cast<unsigned>(
            _mm256_movemask_epi8(_mm256_or_si256(_mm256_or_si256(pk, mz), streamStarts32(a, b))));
        for (; mask; mask &= mask - 1)
            if (!collector.add(at + static_cast<unsigned>(__builtin_ctz(mask)))) {
                full = true;
                return at;
            }
    }
    return at;
}
#endif

}  // namespace

std::optional<Landmarks> findLandmarks(const std::uint8_t* data, std::size_t size,
                                       std::size_t maxPositions) {
    Collector collector(data, size, maxPositions);
    bool full = false;
    std::size_t at = 0;
#if KERBILO_LANDMARKS_AVX2
    static const bool avx2 = __builtin_cpu_supports("avx2");
    if (avx2) at = blocksOf32(data, size, at, collector, full);
#endif
    if (!full) at = blocksOf16(data, size, at, collector, full);
    if (full) return std::nullopt;
    for (; at + 1 < size; ++at)
        if (!collector.add(at)) return std::nullopt;
    return collector.take();
}

}  // namespace kerbilo
