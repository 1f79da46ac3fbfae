// The one pass that finds where the structure scan's searches may start: every landmark at
// every alignment against a byte-by-byte reading, and the limit that sends the searches
// back to passes of their own.

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "scan/landmarks.h"
#include "scan/structure_scan.h"

namespace kerbilo::testing::landmarks_tests {

bool zlibHeader(std::uint8_t a, std::uint8_t b) {
    return (a & 0x0F) == 8 && (a >> 4) <= 7 && !(b & 0x20) && ((a << 8) | b) % 31 == 0;
}

// The landmarks by reading the bytes one position at a time.
Landmarks byHand(const std::vector<std::uint8_t>& d) {
    Landmarks l;
    for (std::size_t i = 0; i + 1 < d.size(); ++i) {
        const auto at = static_cast<std::int64_t>(i);
        if (d[i] == 'M' && d[i + 1] == 'Z') l.programs.push_back(at);
        if (i + 4 <= d.size() && d[i] == 'P' && d[i + 1] == 'K' && d[i + 2] == 3 && d[i + 3] == 4)
            l.localHeaders.push_back(at);
        if (i + 4 <= d.size() && d[i] == 'P' && d[i + 1] == 'K' && d[i + 2] == 5 && d[i + 3] == 6)
            l.endRecords.push_back(at);
        if ((d[i] == 0x1F && d[i + 1] == 0x8B) || zlibHeader(d[i], d[i + 1]))
            l.streams.push_back(at);
    }
    return l;
}

void expectSame(const Landmarks& got, const Landmarks& want) {
    EXPECT_EQ(got.programs, want.programs);
    EXPECT_EQ(got.localHeaders, want.localHeaders);
    EXPECT_EQ(got.endRecords, want.endRecords);
    EXPECT_EQ(got.streams, want.streams);
}

// Random bytes with each landmark (and near misses: "PK" with other bytes, an "M" alone)
// planted at every offset of a 16-byte block and right at the end, where the block filter
// hands over to the byte-by-byte tail.
TEST(Landmarks, EveryLandmarkAtEveryAlignment) {
    const std::vector<std::vector<std::uint8_t>> planted = {
        {'M', 'Z'},   {'P', 'K', 3, 4}, {'P', 'K', 5, 6}, {'P', 'K', 1, 2}, {0x1F, 0x8B},
        {0x78, 0x9C}, {0x78, 0x01},     {0x78, 0xDA},     {0x48, 0x89},     {0x78, 0xBB},
        {'M'},        {'P', 'K', 3},
    };
    std::mt19937 rng(11);
    for (const auto& p : planted) {
        for (std::size_t size = 1; size < 70; ++size) {
            std::vector<std::uint8_t> d(size);
            for (auto& c : d) c = static_cast<std::uint8_t>(rng());
            for (std::size_t at = 0; at + p.size() <= size; at += 13)
                std::copy(p.begin(), p.end(), d.begin() + static_cast<std::ptrdiff_t>(at));
            if (p.size() <= size)
                std::copy(p.begin(), p.end(), d.end() - static_cast<std::ptrdiff_t>(p.size()));
            const auto got = findLandmarks(d.data(), d.size());
            ASSERT_TRUE(got.has_value());
            SCOPED_TRACE("size " + std::to_string(size) + ", first byte " + std::to_string(p[0]));
            expectSame(*got, byHand(d));
        }
    }
}

TEST(Landmarks, EveryZlibHeaderPair) {
    // All 65,536 pairs, each at an odd and an even position.
    std::vector<std::uint8_t> d;
    for (int a = 0; a < 256; ++a)
        for (int b = 0; b < 256; ++b)
            d.insert(d.end(), {0, static_cast<std::uint8_t>(a), static_cast<std::uint8_t>(b)});
    const auto got = findLandmarks(d.data(), d.size());
    ASSERT_TRUE(got.has_value());
    expectSame(*got, byHand(d));
}

TEST(Landmarks, TooManyLeaveEachSearchItsOwnPass) {
    std::vector<std::uint8_t> d;
    for (int i = 0; i < 100; ++i) d.insert(d.end(), {'M', 'Z', 0});
    EXPECT_TRUE(findLandmarks(d.data(), d.size(), 100).has_value());
    EXPECT_FALSE(findLandmarks(d.data(), d.size(), 99).has_value());
    // The programs' search gives the same either way.
    const auto landmarks = findLandmarks(d.data(), d.size());
    EXPECT_EQ(locatePrograms(d.data(), d.size(), &*landmarks), locatePrograms(d.data(), d.size()));
}

}  // namespace kerbilo::testing::landmarks_tests
