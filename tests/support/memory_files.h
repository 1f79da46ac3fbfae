#pragma once
// File services over an in-memory file system, with failures a test can switch on.

#include <map>
#include <set>

#include "runtime/file_services.h"

namespace kerbilo::testing {

class MemoryFileServices : public FileServices {
  public:
    explicit MemoryFileServices(Text programDir = "/prog");

    std::map<Text, ByteBuffer> files;
    std::set<Text> directories;  // "/" and the program directory exist from the start
    std::set<Text> unreadable;   // reads of these paths fail
    std::set<Text> unwritable;   // writes to these paths fail
    std::set<Text> uncreatable;  // these folders cannot be made (a read-only file system)
    int writes = 0;              // successful whole-file writes
    std::map<Text, int> reads;   // reads of each path, whether they succeeded or not
    // Reads in steps report this many bytes a step, as a disk read would come in, and let
    // events run between steps.
    std::size_t readStep = std::size_t{4} << 20;

    Text programDirectory() const override { return programDir_; }
    std::optional<ByteBuffer> tryReadWholeFile(std::string_view path) override;
    std::optional<ByteBuffer> readWholeFileInSteps(std::string_view path,
                                                   Progress& progress) override;
    using FileServices::writeWholeFile;
    bool writeWholeFile(std::string_view path, std::span<const ByteBuffer> parts) override;
    bool createDirectory(std::string_view path) override;
    bool pathExists(std::string_view path) override;
    bool isDirectory(std::string_view path) override { return directories.count(Text(path)) > 0; }
    FileError lastFailure() const override { return lastFailure_; }

    // Content of a file as text, empty when absent.
    Text content(const Text& path) const;

  private:
    bool parentExists(std::string_view path) const;

    Text programDir_;
    FileError lastFailure_;
};

}  // namespace kerbilo::testing
