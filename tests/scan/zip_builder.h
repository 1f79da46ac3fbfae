#pragma once
// ZIP archives, gzip members and zlib streams put together by hand for the tests, with each
// layout choice a writer may make (data descriptors with and without their signature, ZIP64
// extra fields and end records, offsets counted from another start), and the outside tools
// that check what the writer produced.

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "runtime/byte_buffer.h"

namespace kerbilo::testing {

struct ZipEntryPlan {
    ZipEntryPlan(std::string n, ByteBuffer c, std::uint16_t m = 8)
        : name(std::move(n)), content(std::move(c)), method(m) {}
    // Sizes and CRC after the data, zeros in the local header.
    ZipEntryPlan& withDescriptor(bool signature = true) {
        descriptor = true;
        descriptorSignature = signature;
        return *this;
    }
    ZipEntryPlan& withZip64() {
        zip64 = true;
        return *this;
    }
    ZipEntryPlan& withUtf8() {
        utf8 = true;
        return *this;
    }
    // The data as stored, whatever the method; encrypted sets the flag.
    ZipEntryPlan& storedAs(ByteBuffer data, bool isEncrypted = false) {
        raw = std::move(data);
        encrypted = isEncrypted;
        return *this;
    }

    std::string name;
    ByteBuffer content;
    std::uint16_t method = 8;  // 0 stored, 8 deflate; any other stores `raw`
    bool descriptor = false;
    bool descriptorSignature = true;
    bool zip64 = false;  // sizes (and offset) in ZIP64 extra fields
    bool utf8 = false;
    bool encrypted = false;
    ByteBuffer raw;
    // The uncompressed size and CRC to declare, when not the content's (with `raw` data that
    // would be too large to hold).
    std::optional<std::uint64_t> size;
    std::optional<std::uint32_t> crc;
};

struct ZipPlan {
    std::vector<ZipEntryPlan> entries;
    bool zip64End = false;  // a ZIP64 end record and locator before the end record
    std::string comment;
    // What the archive's offsets count from: this many bytes before its first byte (an
    // archive appended to other bytes whose offsets were fixed to count from their start).
    // Offsets that pass 32 bits this way get ZIP64 fields and end records.
    std::uint64_t base = 0;
};

// The archive, and where each entry's local header, data and central record landed.
struct BuiltZip {
    ByteBuffer bytes;
    std::vector<std::int64_t> localHeaders, data, centralHeaders;
    std::int64_t centralDirectory = 0, endRecord = 0;
};
BuiltZip buildZip(const ZipPlan& plan);

ByteBuffer deflateBytes(const ByteBuffer& b, int level = 6);
ByteBuffer gzipMember(const ByteBuffer& content, const std::string& name = "",
                      const std::string& comment = "", bool headerCrc = false,
                      const ByteBuffer& extra = {});
// windowBits 9..15, written in the header's CINFO.
ByteBuffer zlibStream(const ByteBuffer& content, int level = 6, int windowBits = 15);
std::uint32_t crcOf(const ByteBuffer& b);

// Bytes from a fixed generator: the same for the same seed.
ByteBuffer randomBytes(std::size_t n, std::uint64_t seed);
// Text-like bytes: words of letters, spaces and newlines.
ByteBuffer textBytes(std::size_t n, std::uint64_t seed);
ByteBuffer join(std::initializer_list<ByteBuffer> parts);
ByteBuffer filledBytes(std::size_t n, std::uint8_t v);
// Bytes with data[at, at + part.size()) replaced by `part`.
ByteBuffer overwrite(ByteBuffer b, std::size_t at, const ByteBuffer& part);

// The shell's exit status of a command, its output to `output` when given.
int runCommand(const std::string& command, std::string* output = nullptr);
bool writeFile(const std::string& path, const ByteBuffer& bytes);
ByteBuffer readFile(const std::string& path);

}  // namespace kerbilo::testing
