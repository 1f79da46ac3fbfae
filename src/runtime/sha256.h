#pragma once
// SHA-256 of byte ranges, for listings and manifests that let users check what they
// carved out against other tools' output.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace kerbilo {

class Sha256 {
  public:
    // allowExtensions false keeps to the portable rounds (tests compare the two).
    explicit Sha256(bool allowExtensions = true);
    void update(const std::uint8_t* data, std::size_t n);
    std::array<std::uint8_t, 32> finish();

  private:
    void block(const std::uint8_t* p);
    void blocks(const std::uint8_t* p, std::size_t count);

    std::array<std::uint32_t, 8> state_;
    std::array<std::uint8_t, 64> buffer_{};
    std::size_t buffered_ = 0;
    bool allowExtensions_ = true;
    std::uint64_t length_ = 0;
};

// The digest of data[0, n) as 64 lower-case hexadecimal digits.
std::string sha256Hex(const std::uint8_t* data, std::size_t n);

}  // namespace kerbilo
