#pragma once
// Runs kerbilo-cli commands in-process (names and arguments in UTF-8) against a fresh temporary
// directory that serves as both the program directory and the place of the test's files.

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "cli/cli_session.h"
#include "runtime/file_services.h"

namespace kerbilo::testing {

class CliFixture : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    // Runs "kerbilo-cli args..." and keeps its output.
    int run(std::vector<std::string> args);
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    void write(const std::string& name, const ByteBuffer& data);
    void write(const std::string& name, const std::string& data) {
        write(name, ByteBuffer::fromText(data));
    }
    ByteBuffer read(const std::string& name);
    bool exists(const std::string& name);

    std::string out, err;
    std::string dir_;
    std::unique_ptr<PosixFileServices> files_;
};

ByteBuffer pngResource(std::size_t bodyLength, char fill);

}  // namespace kerbilo::testing
