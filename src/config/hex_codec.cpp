#include "config/hex_codec.h"

#include <iterator>

#include "runtime/byte_ops.h"

namespace kerbilo {

namespace {
constexpr std::string_view kDigits = "0123456789ABCDEF";
}

std::int64_t hexDigitsValue(std::string_view group) {
    const Text upper = upperText(group);
    std::int64_t v = 0;
    for (char c : upper) {
        const std::int64_t d = findText(kDigits, std::string_view(&c, 1)) - 1;  // −2 when absent
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
