#pragma once
// Files kept with the tests (tests/data, and docs/kinds beside it), wherever ctest runs.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "runtime/byte_buffer.h"

namespace kerbilo::testing {

// tests/data, from KERBILO_TEST_DATA as ctest sets it, else relative to the checkout.
inline std::filesystem::path testData() {
    const char* root = std::getenv("KERBILO_TEST_DATA");
    return root ? std::filesystem::path(root) : std::filesystem::path("tests/data");
}

inline ByteBuffer readTestFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return ByteBuffer::fromText(std::string{std::istreambuf_iterator<char>(in), {}});
}

// A picture written by a real tool, from tests/data/inspect.
inline ByteBuffer fixturePicture(const std::string& name) {
    return readTestFile(testData() / "inspect" / name);
}

// The recommended kinds file of docs/kinds.
inline ByteBuffer recommendedKinds() {
    return readTestFile(testData() / "../../docs/kinds/recommended.config");
}

}  // namespace kerbilo::testing
