#include "app/hex_rows.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace kerbilo {

namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

int hexDigits(std::uint64_t v) {
    int n = 1;
    while (v >>= 4) ++n;
    return n;
}

// Where byte i of a row (0..15) puts its two digits within the hex column.
constexpr int hexPlace(int i) {
    return i * 3 + (i >= HexRows::kBytesPerRow / 2 ? 1 : 0);
}

}  // namespace

HexRows::HexRows(ByteBuffer bytes, std::int64_t fileOffset)
    : bytes_(std::move(bytes)), fileOffset_(fileOffset) {
    const std::uint64_t last =
        static_cast<std::uint64_t>(fileOffset_) + (bytes_.empty() ? 0 : bytes_.size() - 1);
    offsetDigits_ = std::max(8, hexDigits(last));
}

std::string HexRows::row(std::int64_t r) const {
    const std::size_t from = static_cast<std::size_t>(r) * kBytesPerRow;
    const int n = static_cast<int>(std::min<std::size_t>(kBytesPerRow, bytes_.size() - from));
    std::string out(static_cast<std::size_t>(textColumn() + n), ' ');
    char* p = out.data();

    std::uint64_t offset = static_cast<std::uint64_t>(rowOffset(r));
    for (int d = offsetDigits_ - 1; d >= 0; --d, offset >>= 4) p[d] = kDigits[offset & 0xF];

    const std::uint8_t* b = bytes_.data() + from;
    char* hex = p + hexColumn();
    char* text = p + textColumn();
    for (int i = 0; i < n; ++i) {
        hex[hexPlace(i)] = kDigits[b[i] >> 4];
        hex[hexPlace(i) + 1] = kDigits[b[i] & 0xF];
        text[i] = b[i] >= 0x20 && b[i] <= 0x7E ? static_cast<char>(b[i]) : '.';
    }
    return out;
}

const std::string& HexRows::columnLabels() {
    static const std::string labels = [] {
        std::string s(kHexWidth, ' ');
        for (int i = 0; i < kBytesPerRow; ++i) {
            s[static_cast<std::size_t>(hexPlace(i))] = '0';
            s[static_cast<std::size_t>(hexPlace(i) + 1)] = kDigits[i];
        }
        return s;
    }();
    return labels;
}

RowScale::RowScale(std::int64_t lastTop, int barLimit)
    : lastTop_(std::max<std::int64_t>(0, lastTop)),
      barMaximum_(static_cast<int>(std::min<std::int64_t>(lastTop_, std::max(barLimit, 1)))) {}

std::int64_t RowScale::topOfValue(int value) const {
    if (value <= 0) return 0;
    if (value >= barMaximum_) return lastTop_;
    if (!proportional()) return value;
    return static_cast<std::int64_t>(
        std::llround(static_cast<long double>(value) * static_cast<long double>(lastTop_) /
                     static_cast<long double>(barMaximum_)));
}

int RowScale::valueOfTop(std::int64_t top) const {
    if (top <= 0) return 0;
    if (top >= lastTop_) return barMaximum_;
    if (!proportional()) return static_cast<int>(top);
    return static_cast<int>(
        std::llround(static_cast<long double>(top) * static_cast<long double>(barMaximum_) /
                     static_cast<long double>(lastTop_)));
}

}  // namespace kerbilo
