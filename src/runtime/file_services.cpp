#include "runtime/file_services.h"

#include "runtime/ini.h"

namespace kerbilo {

namespace {

// Holds the pieces and writes them whole at the end.
class HeldFileWriter final : public FileWriter {
  public:
    HeldFileWriter(FileServices& files, std::string_view path) : files_(files), path_(path) {}

    bool write(std::string_view bytes) override {
        held_.append(bytes);
        return true;
    }
    bool finish() override {
        if (files_.writeWholeFile(path_, ByteBuffer::fromText(held_))) return true;
        failure_ = files_.lastFailure();
        return false;
    }
    FileError failure() const override { return failure_; }

  private:
    FileServices& files_;
    Text path_;
    std::string held_;
    FileError failure_;
};

}  // namespace

std::unique_ptr<FileWriter> FileServices::startFile(std::string_view path) {
    return std::make_unique<HeldFileWriter>(*this, path);
}

Text FileServices::readIniValue(std::string_view path, std::string_view section,
                                std::string_view key, std::string_view defaultValue) {
    path = skipLeadingBlanks(path);
    section = skipLeadingBlanks(section);
    key = skipLeadingBlanks(key);
    if (path.empty() || section.empty() || key.empty()) return {};
    const std::optional<ByteBuffer> content = tryReadWholeFile(path);
    if (!content) return Text(defaultValue);
    return iniLookup(content->view(), section, key).value_or(Text(defaultValue));
}

bool FileServices::writeIniValue(std::string_view path, std::string_view section,
                                 std::string_view key, std::string_view value) {
    path = skipLeadingBlanks(path);
    section = skipLeadingBlanks(section);
    key = skipLeadingBlanks(key);
    if (path.empty() || section.empty() || key.empty()) return false;
    // A line break would end the entry early and write the rest as lines of their own.
    if (hasLineBreak(section) || hasLineBreak(key) || hasLineBreak(value)) return false;
    std::optional<ByteBuffer> content;
    if (pathExists(path)) {
        content = tryReadWholeFile(path);
        // An existing file we cannot read must not be replaced by one holding a single key.
        if (!content) return false;
    }
    const std::string updated =
        iniAssign(content ? content->view() : std::string_view{}, section, key, value);
    return writeWholeFile(path, ByteBuffer::fromText(updated));
}

}  // namespace kerbilo
