#include "runtime/gbk.h"

#include <iconv.h>
#include <cerrno>
#include <cstdint>

namespace kerbilo {
namespace {

// GB18030 numbers its four-byte codes b1 b2 b3 b4 (81–FE, 30–39, 81–FE, 30–39) in order;
// U+10000 is the code 90 30 81 30 and every later code point follows it one for one, up to
// U+10FFFF at E3 32 9A 35. The codes after that are well formed and stand for nothing.
constexpr std::uint32_t kSupplementaryIndex = ((0x90 - 0x81) * 10 * 126 * 10);

// The escape of byte b (80–FF) is the code that U+110000 + b would have: beyond U+10FFFF,
// so no character converts to it.
constexpr std::uint32_t kEscapeIndex = kSupplementaryIndex + (0x110000 - 0x10000);

void appendEscape(std::string& out, unsigned char byte) {
    std::uint32_t index = kEscapeIndex + byte;
    char code[4];
    code[3] = static_cast<char>(0x30 + index % 10);
    index /= 10;
    code[2] = static_cast<char>(0x81 + index % 126);
    index /= 126;
    code[1] = static_cast<char>(0x30 + index % 10);
    code[0] = static_cast<char>(0x81 + index / 10);
    out.append(code, 4);
}

// Length of the GB18030 code at p (1, 2 or 4), counting a byte that starts none as 1.
std::size_t gbCodeLength(const unsigned char* p, std::size_t left) {
    const unsigned char b = p[0];
    if (b < 0x80 || b == 0x80 || b == 0xFF || left < 2) return 1;
    const unsigned char b2 = p[1];
    if (b2 >= 0x30 && b2 <= 0x39) {
        if (left >= 4 && p[2] >= 0x81 && p[2] <= 0xFE && p[3] >= 0x30 && p[3] <= 0x39) return 4;
        return 1;
    }
    if ((b2 >= 0x40 && b2 <= 0x7E) || (b2 >= 0x80 && b2 <= 0xFE)) return 2;
    return 1;
}

// The byte a four-byte code at p carries, or −1 when it is not an escape.
int escapedByte(const unsigned char* p) {
    const std::uint32_t index =
        ((static_cast<std::uint32_t>(p[0] - 0x81) * 10 + (p[1] - 0x30)) * 126 + (p[2] - 0x81)) *
            10 +
        (p[3] - 0x30);
    if (index < kEscapeIndex + 0x80 || index > kEscapeIndex + 0xFF) return -1;
    return static_cast<int>(index - kEscapeIndex);
}

// Length of the well-formed UTF-8 character at p, 0 when none starts there: no overlong
// forms, no surrogates, nothing beyond U+10FFFF.
std::size_t utf8CharLength(const unsigned char* p, std::size_t left) {
    const unsigned char b = p[0];
    if (b < 0x80) return 1;
    std::size_t n;
    unsigned char lo = 0x80, hi = 0xBF;  // range of the second byte
    if (b >= 0xC2 && b <= 0xDF) {
        n = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        n = 3;
        if (b == 0xE0) lo = 0xA0;
        if (b == 0xED) hi = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4;
        if (b == 0xF0) lo = 0x90;
        if (b == 0xF4) hi = 0x8F;
    } else {
        return 0;
    }
    if (left < n || p[1] < lo || p[1] > hi) return 0;
    for (std::size_t i = 2; i < n; ++i) {
        if (p[i] < 0x80 || p[i] > 0xBF) return 0;
    }
    return n;
}

// Appends the conversion of in to out. At input the converter refuses, onRefused appends
// what stands for it and returns how many input bytes that covered.
class Converter {
  public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    template <typename OnRefused>
    void run(std::string_view in, std::string& out, OnRefused onRefused) {
        if (in.empty()) return;
        if (cd_ == reinterpret_cast<iconv_t>(-1)) {
            out.append(in);
            return;
        }
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        std::size_t used = out.size();
        out.resize(used + in.size() * 2 + 16);
        char* src = const_cast<char*>(in.data());
        std::size_t srcLeft = in.size();
        while (srcLeft > 0) {
            char* dst = out.data() + used;
            std::size_t dstLeft = out.size() - used;
            const std::size_t r = iconv(cd_, &src, &srcLeft, &dst, &dstLeft);
            used = out.size() - dstLeft;
            if (r != static_cast<std::size_t>(-1)) break;
            if (errno == E2BIG) {
                out.resize(out.size() * 2);
                continue;
            }
            // EILSEQ / EINVAL
            out.resize(used);
            const std::size_t skip = onRefused(std::string_view(src, srcLeft), out);
            src += skip;
            srcLeft -= skip;
            used = out.size();
            out.resize(used + srcLeft * 2 + 16);
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        }
        out.resize(used);
    }

  private:
    iconv_t cd_;
};

}  // namespace

std::string gbkToUtf8(std::string_view gbk) {
    thread_local Converter c("UTF-8", "GB18030");
    // A byte that is no GB18030 code goes through as it is.
    auto passThrough = [](std::string_view rest, std::string& out) {
        out.push_back(rest.front());
        return std::size_t{1};
    };
    std::string out;
    const auto* p = reinterpret_cast<const unsigned char*>(gbk.data());
    std::size_t runStart = 0;
    std::size_t i = 0;
    while (i < gbk.size()) {
        const std::size_t len = gbCodeLength(p + i, gbk.size() - i);
        const int byte = len == 4 ? escapedByte(p + i) : -1;
        if (byte < 0) {
            i += len;
            continue;
        }
        c.run(gbk.substr(runStart, i - runStart), out, passThrough);
        out.push_back(static_cast<char>(byte));
        i += 4;
        runStart = i;
    }
    c.run(gbk.substr(runStart), out, passThrough);
    return out;
}

std::string utf8ToGbk(std::string_view utf8) {
    thread_local Converter c("GB18030", "UTF-8");
    // A character GB18030 cannot take travels as its bytes, each escaped.
    auto escapeChar = [](std::string_view rest, std::string& out) {
        const auto* p = reinterpret_cast<const unsigned char*>(rest.data());
        std::size_t n = utf8CharLength(p, rest.size());
        if (n == 0) n = 1;
        for (std::size_t k = 0; k < n; ++k) appendEscape(out, p[k]);
        return n;
    };
    std::string out;
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    std::size_t runStart = 0;
    std::size_t i = 0;
    while (i < utf8.size()) {
        const std::size_t len = utf8CharLength(p + i, utf8.size() - i);
        if (len > 0) {
            i += len;
            continue;
        }
        c.run(utf8.substr(runStart, i - runStart), out, escapeChar);
        appendEscape(out, p[i]);
        ++i;
        runStart = i;
    }
    c.run(utf8.substr(runStart), out, escapeChar);
    return out;
}

}  // namespace kerbilo
