#include "config/hex_codec.h"

#include <iterator>

#include "runtime/byte_ops.h"

namespace kerbilo {

namespace {
constexpr std::string_view kDigits = "0123456789ABCDEF";
}

std::int64_t hexDigitsValue(std::string_view group) {
    // Digits of either case count; any other byte counts −2, and so does a letter that is
    // the second byte of a double-byte character, which case folding leaves alone. Decoded
    // for every kind of every file opened, so a byte costs a comparison, not a search.
    std::int64_t v = 0;
    bool second = false;
    for (const char ch : group) {
        const auto c = static_cast<unsigned char>(ch);
        std::int64_t d = -2;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else if (!second && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        second = !second && c >= 0x80;
        v = v * 16 + d;
    }
    return v;
}

ByteBuffer decodeHexText(std::string_view text, Progress& progress) {
    const std::int64_t L = textLength(text);
    if (L == 0) return {};
    ByteBuffer out = ByteBuffer::uninitialized(static_cast<std::size_t>((L + 1) / 2));
    std::uint8_t* w = out.mutableData();
    if (!w) return {};
    for (std::int64_t i = 1; i <= L; i += 2) {
        *w++ = static_cast<std::uint8_t>(lowByte(hexDigitsValue(midText(text, i, 2))));
        progress.step();
    }
    return out;
}

Text formatHex(std::int64_t v) {
    if (v < 0) return {};
    char digits[16];
    std::size_t n = 0;
    do {
        digits[n++] = kDigits[static_cast<std::size_t>(v % 16)];
        v /= 16;
    } while (v > 0);
    return Text(std::make_reverse_iterator(digits + n), std::make_reverse_iterator(digits));
}

}  // namespace kerbilo
