#pragma once
// Small Windows images put together byte by byte, for the reader and writer tests and the
// fuzz seeds: headers as a plan gives them (true or lying), and resource directories
// written at offsets the test chooses, including ones no resource compiler would write.

#include <array>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "runtime/byte_buffer.h"
#include "scan/pe_image.h"

namespace kerbilo::testing {

struct PeSectionPlan {
    std::string name;
    std::uint32_t va = 0;
    std::uint32_t virtualSize = 0;  // 0: the raw bytes' length
    ByteBuffer raw;                 // padded with zeros to the file alignment
    std::uint32_t characteristics = 0x40000040;
};

struct PePlan {
    bool plus = false;
    std::uint16_t machine = 0x14c;
    std::uint16_t magic = 0;  // 0: as `plus` says
    std::uint32_t lfanew = 0x80;
    std::uint32_t fileAlignment = 0x200;
    std::uint32_t sectionAlignment = 0x1000;
    std::uint32_t sizeOfHeaders = 0x400;
    std::uint32_t directoryCount = 16;  // NumberOfRvaAndSizes
    // SizeOfOptionalHeader as written; the section table is put after the real directory
    // (fixed part and 16 entries) whatever it says, so a lying value reads garbage.
    std::uint16_t optionalHeaderSize = 0;  // 0: the true size
    std::uint16_t sectionCount = 0xFFFF;   // 0xFFFF: sections.size()
    std::uint32_t checksum = 0;
    std::uint32_t entryPoint = 0;
    std::array<std::pair<std::uint32_t, std::uint32_t>, 16> directories{};
    std::vector<PeSectionPlan> sections;  // raw data in this order after the headers
    ByteBuffer overlay;
};

ByteBuffer buildPe(const PePlan& plan);
// Where buildPe puts section i's raw data.
std::uint32_t rawOffsetOf(const PePlan& plan, std::size_t i);

constexpr std::uint32_t kSub = 0x80000000u;  // an entry's subdirectory or named bit

// A resource section's bytes, written at given offsets.
class RawDirectory {
  public:
    explicit RawDirectory(std::size_t size) : bytes_(size, 0) {}
    // A table at `at` whose entries are (Name, OffsetToData) pairs as stored; it declares
    // `named` of them named and the rest numbered, unless `declared` says otherwise.
    RawDirectory& table(std::uint32_t at,
                        const std::vector<std::pair<std::uint32_t, std::uint32_t>>& entries,
                        std::uint16_t named = 0);
    RawDirectory& counts(std::uint32_t at, std::uint16_t named, std::uint16_t ids);
    RawDirectory& entry(std::uint32_t table, std::size_t i, std::uint32_t name,
                        std::uint32_t target);
    RawDirectory& dataEntry(std::uint32_t at, std::uint32_t rva, std::uint32_t size,
                            std::uint32_t codePage = 0);
    RawDirectory& string(std::uint32_t at, const std::u16string& s);
    RawDirectory& put(std::uint32_t at, const ByteBuffer& b);
    RawDirectory& put32(std::uint32_t at, std::uint32_t v);
    ByteBuffer done() const { return {bytes_.data(), bytes_.size()}; }

  private:
    std::vector<std::uint8_t> bytes_;
};

// A directory of five resources in a section at kSampleVa, three types deep and with names
// at every level but the languages:
//   "PNG"/"LOGO"/1033, 3/1/1033, 3/2/1033, 14/1/1031, 14/1/1033
// The offsets of its parts are here so that tests can spoil them one at a time.
struct SampleDirectory {
    static constexpr std::uint32_t kVa = 0x2000;
    static constexpr std::uint32_t kRoot = 0x000;
    static constexpr std::uint32_t kPngNames = 0x028, kIconNames = 0x040, kGroupNames = 0x060;
    static constexpr std::uint32_t kLogoLanguages = 0x078, kIcon1Languages = 0x090,
                                   kIcon2Languages = 0x0a8, kGroup1Languages = 0x0c0;
    static constexpr std::uint32_t kEntries = 0x0e0;  // five data entries of 16 bytes
    static constexpr std::uint32_t kPngString = 0x130, kLogoString = 0x138;
    static constexpr std::uint32_t kData = 0x150;
    static constexpr std::uint32_t kSize = 0x200;

    RawDirectory raw{kSize};
    SampleDirectory();
    // Data entry i's data: distinct sizes and bytes.
    static ByteBuffer data(std::size_t i);
    static std::uint32_t dataAt(std::size_t i);
    // The five as a writer would be given them, in directory order.
    static std::vector<pe::ResourceData> resources();
};

// A PE32 (or PE32+) image: .text, then .rsrc holding `directory` at kVa, then .reloc
// unless `resourcesLast`; checksum and overlay as given.
PePlan samplePlan(const ByteBuffer& directory, bool plus = false, bool resourcesLast = false);

pe::ResourceName named(const std::u16string& s);

}  // namespace kerbilo::testing

namespace kerbilo::testing {

// Each resource the reader found, with its bytes, as a writer would be given it.
std::vector<pe::ResourceData> resourcesOf(const pe::Image& image, const ByteBuffer& bytes);
// Sorted as the directory lists them; of several with one key, the last given stays.
std::vector<pe::ResourceData> inDirectoryOrder(std::vector<pe::ResourceData> resources);
// One line per resource: type/name/language, code page and bytes; in the order given, or in
// directory order (inDirectoryOrder) when `sorted`. Comparing these shows which resource differs.
std::string describe(std::vector<pe::ResourceData> resources, bool sorted = false);
std::string describe(const pe::ResourceName& name);

}  // namespace kerbilo::testing

namespace kerbilo::testing {

// A PE32+ image whose resources are n numbered RCDATA-like leaves of 4 bytes, as two types
// of n / 2 names each, written by the writer.
ByteBuffer manyResourcesImage(std::size_t n);
// A program of `icons` 16x16 icon images and groups of `perGroup` of them each (ids wrap
// at 65535 into further languages).
ByteBuffer manyIconsImage(std::size_t icons, std::size_t perGroup);

// A PE32+ program holding exactly these resources, put there by the writer (in a section of
// their own after .reloc).
ByteBuffer programWith(const std::vector<pe::ResourceData>& resources);
// The program with a certificate table of `size` bytes appended and named in its data
// directory, and a checksum set: a signed program, as far as the layout goes.
ByteBuffer signedProgram(const ByteBuffer& program, std::uint32_t size = 64);

}  // namespace kerbilo::testing

namespace kerbilo::testing {

inline std::uint32_t le32(const ByteBuffer& b, std::int64_t at) {
    const auto i = static_cast<std::size_t>(at);
    return static_cast<std::uint32_t>(b[i] | (b[i + 1] << 8) | (b[i + 2] << 16)) |
           (static_cast<std::uint32_t>(b[i + 3]) << 24);
}
inline std::uint16_t le16(const ByteBuffer& b, std::int64_t at) {
    const auto i = static_cast<std::size_t>(at);
    return static_cast<std::uint16_t>(b[i] | (b[i + 1] << 8));
}

}  // namespace kerbilo::testing
