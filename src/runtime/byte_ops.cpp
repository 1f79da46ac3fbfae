#include "runtime/byte_ops.h"

#include <cstring>
#include <limits>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kerbilo {

std::int64_t findBytesIn(const std::uint8_t* hay, std::size_t n, const std::uint8_t* needle,
                         std::size_t m) {
    if (m == 0 || n < m) return -1;
    if (m == 1) {
        const void* p = std::memchr(hay, needle[0], n);
        return p ? static_cast<const std::uint8_t*>(p) - hay : -1;
    }
    const std::size_t last = n - m;  // last candidate start
    std::size_t i = 0;
#if defined(__SSE2__)
    // Filter candidates on the first and the last byte of the needle at once: on ordinary
    // data almost no position passes both, so whole 16-byte blocks are skipped per step.
    const __m128i first = _mm_set1_epi8(static_cast<char>(needle[0]));
    const __m128i lastb = _mm_set1_epi8(static_cast<char>(needle[m - 1]));
    while (i + 16 <= last + 1) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(hay + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(hay + i + m - 1));
        unsigned mask = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, lastb))));
        while (mask) {
            const unsigned bit = static_cast<unsigned>(__builtin_ctz(mask));
            if (std::memcmp(hay + i + bit + 1, needle + 1, m - 2) == 0)
                return static_cast<std::int64_t>(i + bit);
            mask &= mask - 1;
        }
        i += 16;
    }
#endif
    while (i <= last) {
        const void* p = std::memchr(hay + i, needle[0], last - i + 1);
        if (!p) return -1;
        i = static_cast<std::size_t>(static_cast<const std::uint8_t*>(p) - hay);
        if (std::memcmp(hay + i + 1, needle + 1, m - 1) == 0) return static_cast<std::int64_t>(i);
        ++i;
    }
    return -1;
}

std::int64_t findLastBytesIn(const std::uint8_t* hay, std::size_t n, const std::uint8_t* needle,
                             std::size_t m) {
    if (m == 0 || n < m) return -1;
    std::size_t end = n - m + 1;  // candidate starts left: [0, end)
#if defined(__SSE2__)
    const __m128i first = _mm_set1_epi8(static_cast<char>(needle[0]));
    const __m128i lastb = _mm_set1_epi8(static_cast<char>(needle[m - 1]));
    while (end >= 16) {
        const std::size_t i = end - 16;
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(hay + i));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(hay + i + m - 1));
        unsigned mask = static_cast<unsigned>(
            _mm_movemask_epi8(_mm_and_si128(_mm_cmpeq_epi8(a, first), _mm_cmpeq_epi8(b, lastb))));
        while (mask) {
            const unsigned bit = 31u - static_cast<unsigned>(__builtin_clz(mask));
            if (m < 3 || std::memcmp(hay + i + bit + 1, needle + 1, m - 2) == 0)
                return static_cast<std::int64_t>(i + bit);
            mask &= ~(1u << bit);
        }
        end = i;
    }
#endif
    while (end > 0) {
        --end;
        if (hay[end] == needle[0] && std::memcmp(hay + end + 1, needle + 1, m - 1) == 0)
            return static_cast<std::int64_t>(end);
    }
    return -1;
}

ByteBuffer concatBytes(std::initializer_list<ByteBuffer> parts) {
    std::size_t total = 0;
    const ByteBuffer* only = nullptr;
    int nonEmpty = 0;
    for (const ByteBuffer& p : parts) {
        total += p.size();
        if (!p.empty()) {
            only = &p;
            ++nonEmpty;
        }
    }
    if (nonEmpty == 0) return {};
    if (nonEmpty == 1) return *only;
    ByteBuffer out = ByteBuffer::uninitialized(total);
    std::uint8_t* w = out.mutableData();
    if (!w) return {};
    for (const ByteBuffer& p : parts) {
        if (p.empty()) continue;
        std::memcpy(w, p.data(), p.size());
        w += p.size();
    }
    return out;
}

Text midText(std::string_view t, std::int64_t start, std::int64_t n) {
    if (start < 1 || start > textLength(t) || n <= 0) return {};
    return Text(t.substr(static_cast<std::size_t>(start - 1), static_cast<std::size_t>(n)));
}

std::int64_t findText(std::string_view text, std::string_view sought) {
    const std::size_t L = text.size();
    const std::size_t M = sought.size();
    if (M == 0) return L > 0 ? 1 : -1;
    std::size_t p = 0;
    while (p + M <= L) {
        if (text.compare(p, M, sought) == 0) return static_cast<std::int64_t>(p) + 1;
        p += (static_cast<unsigned char>(text[p]) >= 0x80) ? 2 : 1;
    }
    return -1;
}

Text upperText(std::string_view t) {
    Text out(t);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const auto c = static_cast<unsigned char>(out[i]);
        if (c >= 0x80) {
            ++i;  // second byte of a double-byte character stays as it is
        } else if (c >= 'a' && c <= 'z') {
            out[i] = static_cast<char>(c - 0x20);
        }
    }
    return out;
}

Text concatText(std::initializer_list<std::string_view> parts) {
    std::size_t total = 0;
    for (auto p : parts) total += p.size();
    Text out;
    out.reserve(total);
    for (auto p : parts) out.append(p);
    return out;
}

namespace {

Text foldFullWidth(std::string_view t) {
    Text out;
    out.reserve(t.size());
    for (std::size_t i = 0; i < t.size(); ++i) {
        const auto c = static_cast<unsigned char>(t[i]);
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
            continue;
        }
        if (i + 1 >= t.size()) {  // a lone lead byte at the end is kept as it is
            out.push_back(static_cast<char>(c));
            break;
        }
        const auto d = static_cast<unsigned char>(t[i + 1]);
        ++i;
        if (c == 0xA3 && d >= 0xA1 && d <= 0xFE) {
            out.push_back(static_cast<char>(d - 0x80));
        } else if (c == 0xA1 && d == 0xA1) {
            out.push_back(' ');
        } else if (c == 0xA1 && d == 0xAB) {
            out.push_back('~');
        } else if (c == 0xA1 && (d == 0xEE || d == 0xEF)) {
            out.push_back('*');
        } else {
            out.push_back(static_cast<char>(c));
            out.push_back(static_cast<char>(d));
        }
    }
    return out;
}

}  // namespace

std::int32_t textToInt(std::string_view text) {
    const Text t = foldFullWidth(text);
    std::size_t i = 0;
    while (i < t.size() && (t[i] == ' ' || (t[i] >= '\t' && t[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
    std::int64_t v = 0;
    constexpr std::int64_t limit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i) {
        v = v * 10 + (t[i] - '0');
        if (v > limit) v = limit;  // keeps accumulating bounded; saturated below
    }
    if (negative)
        return static_cast<std::int32_t>(-v < std::numeric_limits<std::int32_t>::min()
                                             ? std::numeric_limits<std::int32_t>::min()
                                             : -v);
    return static_cast<std::int32_t>(
        std::min<std::int64_t>(v, std::numeric_limits<std::int32_t>::max()));
}

Text intToText(std::int64_t v) {
    return std::to_string(v);
}

}  // namespace kerbilo
