#pragma once
// A fresh folder under /tmp for one test, removed with everything in it afterwards.

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace kerbilo::testing {

class TempFolderTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/kerbilo-test-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        home = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(home, ec);
    }
    // Writes text to a file below the folder, making its parent folders.
    void write(const std::string& rel, const std::string& text) {
        std::filesystem::create_directories(std::filesystem::path(home + "/" + rel).parent_path());
        std::ofstream(home + "/" + rel) << text;
    }
    std::string home;
};

}  // namespace kerbilo::testing
