#pragma once
// What the reader and the writer of Windows images share: little-endian fields, where the
// headers keep the fields the writer changes, and the checksum's running sum. Internal to
// the scan library.

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "scan/pe_image.h"

namespace kerbilo::pe::detail {

inline std::uint16_t get16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t get32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline void put16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
inline void put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline std::uint64_t alignUp(std::uint64_t v, std::uint64_t alignment) {
    return alignment <= 1 ? v : (v + alignment - 1) / alignment * alignment;
}

// Offsets inside the headers, from the "PE\0\0" signature and from the optional header.
constexpr std::int64_t kNumberOfSectionsAt = 6;       // in the file header, after "PE\0\0"
constexpr std::int64_t kOptionalHeaderAt = 24;        // signature and file header
constexpr std::int64_t kSizeOfInitializedDataAt = 8;  // in the optional header
constexpr std::int64_t kSizeOfImageAt = 56;
constexpr std::int64_t kChecksumAt = 64;
constexpr std::int64_t kSectionHeaderSize = 40;
constexpr int kResourceDirectory = 2;
constexpr int kCertificateDirectory = 4;

// The optional header's fields before its data directory, and where the count of directory
// entries lies, for PE32 and PE32+.
inline std::int64_t directoryCountAt(bool plus) {
    return plus ? 108 : 92;
}
inline std::int64_t fixedOptionalHeaderSize(bool plus) {
    return plus ? 112 : 96;
}

// Where a section's raw data stops holding its RVAs: the loader maps VirtualSize bytes of
// it (all of it when VirtualSize is 0), and the file holds rawSize.
inline std::uint64_t mappedRawSize(const Section& s) {
    return s.virtualSize == 0 ? s.rawSize : std::min(s.rawSize, s.virtualSize);
}

// Whether two of the resource directory's structures (tables with their entries, names, data
// entries) share bytes, other than one reached twice. No resource compiler writes that, and
// a size written in place into one entry would change another structure too. The directory
// is walked again for this (it is not kept), and counts as overlapping when the walk does
// not get through it whole.
bool directoryStructuresOverlap(const std::uint8_t* data, const Image& image);

// The checksum's sum of 16-bit little-endian words with the carries folded back in, fed in
// pieces of any length at any parity. Whole 32-bit words are added at a time: 2^32 is 1
// modulo 2^16 − 1, so their folded sum equals that of the 16-bit words, and it is zero only
// when every word is.
class ChecksumSum {
  public:
    void add(const std::uint8_t* p, std::size_t n) {
        if (n == 0) return;
        if (odd_) {
            sum_ += static_cast<std::uint64_t>(*p) << 8;
            ++p;
            --n;
            odd_ = false;
        }
        if constexpr (std::endian::native == std::endian::little) {
            while (n >= 8) {
                std::size_t run = std::min<std::size_t>(n / 8, std::size_t{1} << 24);
                std::uint64_t s = 0;
                for (std::size_t i = 0; i < run; ++i, p += 8) {
                    std::uint64_t v;
                    std::memcpy(&v, p, 8);
                    s += (v & 0xFFFFFFFFu) + (v >> 32);
                }
                n -= run * 8;
                fold32(s);
            }
        }
        for (; n >= 2; n -= 2, p += 2) sum_ += get16(p);
        if (n == 1) {
            sum_ += *p;
            odd_ = true;
        }
        fold32(0);
    }
    // n bytes counted as zero, as the checksum field is.
    void skip(std::size_t n) {
        if (n % 2 == 1) odd_ = !odd_;
    }
    std::uint32_t finish(std::uint64_t length) const {
        std::uint64_t s = sum_;
        while (s >> 16) s = (s & 0xFFFF) + (s >> 16);
        return static_cast<std::uint32_t>(s + length);
    }

  private:
    // Keeps the sum within 33 bits so no later addition can wrap.
    void fold32(std::uint64_t more) {
        sum_ = (sum_ & 0xFFFFFFFFu) + (sum_ >> 32) + (more & 0xFFFFFFFFu) + (more >> 32);
    }

    std::uint64_t sum_ = 0;
    bool odd_ = false;
};

}  // namespace kerbilo::pe::detail
