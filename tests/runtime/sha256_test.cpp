#include <gtest/gtest.h>

#include <string>

#include "runtime/sha256.h"

namespace kerbilo {
namespace {

std::string hex(const std::string& s) {
    return sha256Hex(reinterpret_cast<const std::uint8_t*>(s.data()), s.size());
}

// The FIPS 180-2 examples, and lengths around the 56-byte padding edge.
TEST(Sha256, KnownDigests) {
    EXPECT_EQ(hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(hex(std::string(1000000, 'a')),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    EXPECT_EQ(hex(std::string(55, 'x')),
              "d5e285683cd4efc02d021a5c62014694958901005d6f71e89e0989fac77e4072");
    EXPECT_EQ(hex(std::string(64, 'x')),
              "7ce100971f64e7001e8fe5a51973ecdfe1ced42befe7ee8d5fd6219506b5393c");
}

// Pieces of any size give the digest of the whole, on the processor's SHA extensions (where
// there are some) and on the portable rounds alike.
TEST(Sha256, PiecesAndBothRoundsGiveTheSameDigest) {
    std::string data;
    for (int i = 0; i < 1000; ++i) data += static_cast<char>(i * 7);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.data());
    Sha256 reference(false);
    reference.update(bytes, data.size());
    const auto expected = reference.finish();
    for (bool extensions : {false, true})
        for (std::size_t cut : {0u, 1u, 63u, 64u, 65u, 500u, 999u}) {
            Sha256 h(extensions);
            h.update(bytes, cut);
            h.update(bytes + cut, data.size() - cut);
            EXPECT_EQ(h.finish(), expected) << cut << extensions;
        }
    Sha256 portable(false);
    portable.update(reinterpret_cast<const std::uint8_t*>("abc"), 3);
    EXPECT_EQ(portable.finish()[0], 0xba);
}

}  // namespace
}  // namespace kerbilo
