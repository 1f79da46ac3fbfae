#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>
#include <string>

#include "printers.h"
#include "runtime/byte_ops.h"
#include "runtime/gbk.h"

namespace kerbilo {
namespace {

ByteBuffer B(std::string_view s) {
    return ByteBuffer::fromText(s);
}

struct TextCase {
    const char* what;
    Text got;
    Text want;
};

TEST(Text, CutsAtTheEdges) {
    const TextCase cases[] = {
        {"mid inside", midText("ABCDEF", 3, 2), "CD"},
        {"mid past end", midText("ABCDEF", 5, 10), "EF"},
        {"mid from 0", midText("ABC", 0, 1), ""},
        {"mid from past end", midText("ABC", 4, 1), ""},
        {"mid for 0", midText("ABC", 1, 0), ""},
        {"mid negative count", midText("ABC", 1, -1), ""},
        {"concat", concatText({"a", "", "bc"}), "abc"},
        {"int negative", intToText(-42), "-42"},
        {"int zero", intToText(0), "0"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.got, c.want) << c.what;
}

TEST(Text, FindTextIsDoubleByteAware) {
    EXPECT_EQ(findText("0123456789ABCDEF", "A"), 11);
    EXPECT_EQ(findText("0123456789ABCDEF", "G"), -1);
    EXPECT_EQ(findText("", ""), -1);
    EXPECT_EQ(findText("X", ""), 1);
    EXPECT_EQ(findText("AB", "ABC"), -1);
    // 0xB0 0x41 is one character: its trailing 'A' is never a match position.
    EXPECT_EQ(findText("\xB0"
                       "A",
                       "A"),
              -1);
    EXPECT_EQ(findText("\xB0"
                       "AA",
                       "A"),
              3);
    // A high byte as the last byte does not step past the end.
    EXPECT_EQ(findText("A\xB0", "\xB0"), 2);
}

TEST(Text, UpperTextLeavesDoubleByteCharactersAlone) {
    const Text chinese = utf8ToGbk("资源");
    EXPECT_EQ(upperText(chinese + "abc" + chinese), chinese + "ABC" + chinese);
    // Second byte 'a' (0x61) of a two-byte character stays lower case.
    EXPECT_EQ(upperText("\x81"
                        "a"
                        "a"),
              "\x81"
              "a"
              "A");
    EXPECT_EQ(upperText("z{`"), "Z{`");
}

TEST(Text, TextToInt) {
    struct Case {
        Text in;
        std::int32_t want;
    } cases[] = {
        {"\xA3\xB3", 3},  // full-width digit three
        {"", 0},
        {"12abc", 12},
        {"  \t-17x", -17},
        {"+5", 5},
        {"abc", 0},
        {"\xA1\xA1"
         "42",
         42},                      // ideographic space is a blank
        {"\xA3\xAD\xA3\xB1", -1},  // full-width minus and one
        {"2147483647", INT32_MAX},
        {"2147483648", INT32_MAX},
        {"99999999999999999999", INT32_MAX},
        {"-2147483648", INT32_MIN},
        {"-99999999999999999999", INT32_MIN},
        {"- 3", 0},
        {"3 4", 3},
    };
    for (const auto& c : cases) EXPECT_EQ(textToInt(c.in), c.want) << c.in;
}

TEST(Numbers, LowByte) {
    EXPECT_EQ(lowByte(-34), 0xDE);
    EXPECT_EQ(lowByte(-32), 0xE0);
    EXPECT_EQ(lowByte(256 + 7), 7);
}

// 0-based offset of needle in hay, or −1.
std::int64_t findIn(const ByteBuffer& hay, const ByteBuffer& needle) {
    return findBytesIn(hay.data(), hay.size(), needle.data(), needle.size());
}

TEST(Bytes, FindBytesEdges) {
    EXPECT_EQ(findIn(B("abc"), B("abc")), 0);
    EXPECT_EQ(findIn(B("abc"), B("abcd")), -1);
    EXPECT_EQ(findIn(B("abc"), B("")), -1);
    EXPECT_EQ(findIn(B(""), B("a")), -1);
    EXPECT_EQ(findIn(B("xxabab"), B("ab")), 2);
    EXPECT_EQ(findIn(B("aaab"), B("aab")), 1);
    EXPECT_EQ(findIn(B("abc"), B("c")), 2);
}

// The block filter must agree with a plain search, forwards and backwards, at every
// alignment and length, including matches that straddle or end exactly at the last block.
TEST(Bytes, FindBytesAgreesWithPlainSearch) {
    std::mt19937 rng(7);
    for (int round = 0; round < 3000; ++round) {
        const std::size_t n = rng() % 80;
        const std::size_t m = 1 + rng() % 6;
        std::string hay(n, 'a'), needle(m, 'a');
        for (auto& c : hay) c = static_cast<char>('a' + rng() % 3);
        for (auto& c : needle) c = static_cast<char>('a' + rng() % 3);
        const std::size_t plain = hay.find(needle);
        const std::int64_t want =
            plain == std::string::npos ? -1 : static_cast<std::int64_t>(plain);
        ASSERT_EQ(findIn(B(hay), B(needle)), want) << hay << " / " << needle;
        const std::size_t last = hay.rfind(needle);
        const std::int64_t wantLast =
            last == std::string::npos ? -1 : static_cast<std::int64_t>(last);
        const ByteBuffer h = B(hay), k = B(needle);
        ASSERT_EQ(findLastBytesIn(h.data(), h.size(), k.data(), k.size()), wantLast)
            << hay << " / " << needle;
    }
}

TEST(Bytes, FindBytesInDoesNotReadPastTheEnd) {
    // The haystack ends right where the pattern would complete: a read beyond would be
    // caught by the address sanitizer, and a wrong answer here by the assertion.
    const std::string s = std::string(40, 'x') + "ab";
    ByteBuffer exact(s.data(), s.size() - 1);  // own allocation of exactly 41 bytes
    EXPECT_EQ(
        findBytesIn(exact.data(), exact.size(), reinterpret_cast<const std::uint8_t*>("ab"), 2),
        -1);
    // From the back: the block before the first must not be read either.
    ByteBuffer front(s.data() + 1, s.size() - 1);  // "x…xab", 41 bytes
    EXPECT_EQ(findLastBytesIn(front.data(), 1, reinterpret_cast<const std::uint8_t*>("xa"), 2), -1);
    EXPECT_EQ(
        findLastBytesIn(front.data(), front.size(), reinterpret_cast<const std::uint8_t*>("xa"), 2),
        38);
}

TEST(Bytes, ConcatBytes) {
    EXPECT_EQ(concatBytes({B(""), B("")}), B(""));
    EXPECT_EQ(concatBytes({B("a"), B(""), B("bc")}), B("abc"));
    EXPECT_EQ(bufferLength(B("")), 0);
}

TEST(Bytes, ValueSemanticsSurviveWrites) {
    ByteBuffer a = B("hello world");
    ByteBuffer view = a.slice(6, 5);
    ByteBuffer copy = a;
    a.mutableData()[6] = 'W';
    EXPECT_EQ(view, B("world"));
    EXPECT_EQ(copy, B("hello world"));
    EXPECT_EQ(a, B("hello World"));
    // A unique owner is written in place, without a copy.
    ByteBuffer solo = B("abc");
    const std::uint8_t* before = solo.data();
    solo.mutableData()[0] = 'X';
    EXPECT_EQ(solo.data(), before);
    EXPECT_EQ(B("abc").slice(5, 2), B(""));
    EXPECT_EQ(B("abc").slice(1, 99), B("bc"));
}

// Slices of a mapped file know its holes relative to their own start and clipped to their
// bytes; a written copy is the program's own and knows none.
TEST(Bytes, KnownZerosFollowSlices) {
    const std::size_t n = 100;
    const std::shared_ptr<std::uint8_t[]> owner(new std::uint8_t[n]());
    const ByteBuffer file = ByteBuffer::readOnly(owner, n, {{10, 20}, {40, 60}, {90, 100}});
    const auto stretches = [](const ByteBuffer& b) {
        std::vector<std::pair<std::size_t, std::size_t>> all;
        for (const ZeroStretch& z : b.knownZeros()) all.emplace_back(z.from, z.to);
        return all;
    };
    using Stretches = std::vector<std::pair<std::size_t, std::size_t>>;
    EXPECT_EQ(stretches(file), (Stretches{{10, 20}, {40, 60}, {90, 100}}));
    EXPECT_EQ(stretches(file.slice(15, 35)), (Stretches{{0, 5}, {25, 35}}));
    EXPECT_EQ(stretches(file.slice(20, 20)), Stretches{});
    EXPECT_EQ(stretches(file.slice(95, 50)), (Stretches{{0, 5}}));
    ByteBuffer written = file;
    written.mutableData()[0] = 1;
    EXPECT_EQ(stretches(written), Stretches{});
    EXPECT_EQ(stretches(B("abc")), Stretches{});
}

TEST(Bytes, LargeBuffersAreUsableAndIndependent) {
    const std::size_t n = std::size_t{40} << 20;  // above the huge-page threshold
    ByteBuffer big = ByteBuffer::uninitialized(n);
    ASSERT_EQ(big.size(), n);
    std::memset(big.mutableData(), 7, n);
    ByteBuffer tail = big.slice(n - 3, 3);
    big = ByteBuffer();  // the slice keeps the storage alive
    EXPECT_EQ(tail, ByteBuffer({7, 7, 7}));
}

}  // namespace
}  // namespace kerbilo
