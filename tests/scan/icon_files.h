#pragma once
// Icon, cursor and bitmap data as programs store them and as files hold them, put together
// byte by byte for the tests of a program's pictures.

#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "runtime/byte_buffer.h"
#include "runtime/byte_ops.h"

namespace kerbilo::testing::icons {

inline void put16(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
}
inline void put32(std::vector<std::uint8_t>& b, std::size_t at, std::uint32_t v) {
    put16(b, at, v & 0xFFFF);
    put16(b, at + 2, v >> 16);
}
inline std::uint32_t get16(const ByteBuffer& b, std::size_t at) {
    return b[at] | (b[at + 1] << 8);
}
inline std::uint32_t get32(const ByteBuffer& b, std::size_t at) {
    return get16(b, at) | (get16(b, at + 2) << 16);
}

// A bitmap as a program stores it: header, palette, pixels (a distinct byte pattern per
// `seed`), and for an icon the AND mask with the height doubled.
inline ByteBuffer dib(int w, int h, int bits, std::uint8_t seed, bool icon) {
    const std::size_t palette = bits <= 8 ? (1u << bits) * 4 : 0;
    const std::size_t row = ((static_cast<std::size_t>(w) * bits + 31) / 32) * 4;
    const std::size_t mask = icon ? ((static_cast<std::size_t>(w) + 31) / 32) * 4 * h : 0;
    std::vector<std::uint8_t> b(40 + palette + row * h + mask);
    put32(b, 0, 40);
    put32(b, 4, static_cast<std::uint32_t>(w));
    put32(b, 8, static_cast<std::uint32_t>(icon ? 2 * h : h));
    put16(b, 12, 1);
    put16(b, 14, static_cast<std::uint32_t>(bits));
    for (std::size_t i = 40; i < b.size(); ++i) b[i] = static_cast<std::uint8_t>(seed + i * 7);
    if (icon) std::memset(b.data() + b.size() - mask, 0, mask);
    return ByteBuffer(b.data(), b.size());
}

inline ByteBuffer icoFile(std::uint16_t type, const std::vector<ByteBuffer>& images,
                          std::vector<std::pair<std::uint16_t, std::uint16_t>> spots = {}) {
    std::vector<std::uint8_t> b(6 + 16 * images.size());
    put16(b, 2, type);
    put16(b, 4, static_cast<std::uint32_t>(images.size()));
    for (std::size_t k = 0; k < images.size(); ++k) {
        const std::size_t e = 6 + 16 * k;
        b[e] = static_cast<std::uint8_t>(get32(images[k], 4));
        b[e + 1] = static_cast<std::uint8_t>(get32(images[k], 8) / 2);
        if (type == 1 && get16(images[k], 14) < 8)
            b[e + 2] = static_cast<std::uint8_t>(1u << get16(images[k], 14));
        put16(b, e + 4, type == 2 ? spots[k].first : 1);
        put16(b, e + 6, type == 2 ? spots[k].second : get16(images[k], 14));
        put32(b, e + 8, static_cast<std::uint32_t>(images[k].size()));
        put32(b, e + 12, static_cast<std::uint32_t>(b.size()));
        b.insert(b.end(), images[k].begin(), images[k].end());
    }
    return ByteBuffer(b.data(), b.size());
}

// A group's directory naming images by id.
inline ByteBuffer groupDir(std::uint16_t type,
                           const std::vector<std::pair<ByteBuffer, std::uint16_t>>& images) {
    std::vector<std::uint8_t> b(6 + 14 * images.size());
    put16(b, 2, type);
    put16(b, 4, static_cast<std::uint32_t>(images.size()));
    for (std::size_t k = 0; k < images.size(); ++k) {
        const std::size_t e = 6 + 14 * k;
        const ByteBuffer& i = images[k].first;
        const std::size_t bitmap = type == 2 ? 4 : 0;
        if (type == 1) {
            b[e] = static_cast<std::uint8_t>(get32(i, 4));
            b[e + 1] = static_cast<std::uint8_t>(get32(i, 8) / 2);
            if (get16(i, 14) < 8) b[e + 2] = static_cast<std::uint8_t>(1u << get16(i, 14));
            put16(b, e + 4, 1);
            put16(b, e + 6, get16(i, 14));
        } else {
            put16(b, e, get32(i, bitmap + 4));
            put16(b, e + 2, get32(i, bitmap + 8));
            put16(b, e + 4, 1);
            put16(b, e + 6, get16(i, bitmap + 14));
        }
        put32(b, e + 8, static_cast<std::uint32_t>(i.size()));
        put16(b, e + 12, images[k].second);
    }
    return ByteBuffer(b.data(), b.size());
}

inline ByteBuffer withHotSpot(std::uint16_t x, std::uint16_t y, const ByteBuffer& bitmap) {
    std::vector<std::uint8_t> b(4);
    put16(b, 0, x);
    put16(b, 2, y);
    return concatBytes({ByteBuffer(b.data(), b.size()), bitmap});
}

inline ByteBuffer pngFile(std::uint32_t w, std::uint32_t h) {
    std::vector<std::uint8_t> b = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A,
                                   0,    0,   0,   13,  'I',  'H',  'D',  'R'};
    for (std::uint32_t v : {w, h})
        for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<std::uint8_t>(v >> s));
    b.insert(b.end(), {8, 6, 0, 0, 0, 0, 0, 0, 0});
    return ByteBuffer(b.data(), b.size());
}

}  // namespace kerbilo::testing::icons
