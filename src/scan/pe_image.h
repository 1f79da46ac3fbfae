#pragma once
// Windows programs and libraries (PE32 and PE32+): their headers and the resource directory,
// read from bytes that may be hostile, and the resources written back. A program stores its
// icons, cursors and bitmaps without the file headers a signature could find, so the only
// way to them is through its own structures.
//
// Every offset here counts from the image's first byte (its "MZ"), so that a program found
// inside other bytes (a self-extractor, an archive image) reads like one on its own.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "runtime/byte_buffer.h"
#include "runtime/splice.h"

namespace kerbilo::pe {

// A type, a name or a language as the resource directory holds it: a number, or a name of
// UTF-16 code units.
struct ResourceName {
    bool named = false;
    std::uint16_t id = 0;  // when not named
    std::u16string name;   // when named
    static ResourceName number(std::uint16_t id) { return {false, id, {}}; }
    friend bool operator==(const ResourceName&, const ResourceName&) = default;
};
// The directory's order: names first (by code units), then numbers ascending.
bool operator<(const ResourceName& a, const ResourceName& b);

// The standard types this program knows by number.
enum : std::uint16_t {
    kTypeCursor = 1,
    kTypeBitmap = 2,
    kTypeIcon = 3,
    kTypeRcData = 10,
    kTypeGroupCursor = 12,
    kTypeGroupIcon = 14,
};

struct Section {
    std::array<char, 8> name{};
    std::uint32_t virtualSize = 0;
    std::uint32_t virtualAddress = 0;
    std::uint32_t rawSize = 0;
    std::uint32_t rawOffset = 0;
    std::uint32_t characteristics = 0;
};

// One leaf of the directory: type / name / language, and where its data lies.
struct ResourceEntry {
    ResourceName type;
    ResourceName name;
    ResourceName language;
    std::uint32_t dataRva = 0;
    std::uint32_t size = 0;
    std::uint32_t codePage = 0;
    std::int64_t dataOffset = 0;   // the data's first byte; its `size` bytes lie in the bytes
    std::int64_t entryOffset = 0;  // the 16-byte data entry that describes it
};

// Entry i of the optional header's data directory, and where that entry itself lies.
struct DataDirectory {
    std::uint32_t address = 0;  // an RVA, except for the certificate table: a file offset
    std::uint32_t size = 0;
    std::int64_t at = 0;  // offset of the 8-byte directory entry; 0 when the header has none
};

struct Image {
    bool plus = false;  // PE32+
    std::uint16_t machine = 0;
    std::uint32_t peHeaderOffset = 0;  // e_lfanew: the "PE\0\0" signature
    std::int64_t optionalHeaderOffset = 0;
    std::uint16_t optionalHeaderSize = 0;
    std::int64_t sectionTableOffset = 0;
    std::uint32_t fileAlignment = 0;
    std::uint32_t sectionAlignment = 0;
    std::uint32_t sizeOfHeaders = 0;
    std::uint32_t sizeOfImage = 0;
    std::uint32_t checksum = 0;
    std::int64_t checksumOffset = 0;
    DataDirectory resourceTable;     // data directory entry 2
    DataDirectory certificateTable;  // data directory entry 4
    std::vector<Section> sections;
    // The headers and every section's raw data end here: what follows (an installer's
    // payload, a certificate) is the overlay. When raw data runs past the bytes the image was
    // cut short, and the extent is the bytes' end; what lies inside them is still read.
    std::int64_t extent = 0;
    // Every leaf of the resource directory that the walk reached, in directory order
    // (types, then names, then languages, each as the directory lists them), whose data lies
    // inside the bytes.
    std::vector<ResourceEntry> resources;
    // Some of the directory was skipped: a loop, an entry outside the bytes, a limit.
    bool resourcesDamaged = false;
    // The directory's own structures (tables, their entries, names and data entries) lie in
    // [resourceDirectoryBegin, resourceDirectoryEnd); both 0 when none was read. Data that
    // lies in there is not written over in place.
    std::int64_t resourceDirectoryBegin = 0;
    std::int64_t resourceDirectoryEnd = 0;
};

struct Limits {
    // Leaves and directory tables visited before the walk stops (and says it was damaged).
    std::size_t maxVisits = 4'000'000;
    // Code units of names read and copied into the leaves: one long name that many entries
    // or leaves share is counted each time, so a small file cannot ask for gigabytes.
    std::size_t maxNameUnits = 16'000'000;
};

// A quick test at a candidate "MZ": e_lfanew inside the bytes and "PE\0\0" there, with a
// machine and an optional header magic this reader knows. readImage may still refuse.
bool looksLikeImage(const std::uint8_t* data, std::size_t size);

// The image whose first byte is data[0]; `size` is how many bytes are there (the rest of
// the opened bytes, possibly more than the image). Nothing when the headers are not those
// of a PE32 or PE32+ image of a known machine (x86, x64, ARM64, ARM) inside the bytes.
// Never reads outside [data, data + size); linear in what it visits.
std::optional<Image> readImage(const std::uint8_t* data, std::size_t size,
                               const Limits& limits = {});

// The offset of [rva, rva + length) when a section's raw data holds all of it; −1 otherwise.
// A section holds the RVAs of as much of its raw data as the loader maps (VirtualSize bytes,
// all of it when that is 0) and as lies before the extent. Of overlapping sections, which no
// linker writes, the one reaching furthest is taken.
std::int64_t rvaToOffset(const Image& image, std::uint32_t rva, std::uint32_t length);

// The optional header's checksum of data[0, size), with the checksum field at
// checksumOffset counted as zero.
std::uint32_t computeChecksum(const std::uint8_t* data, std::size_t size,
                              std::int64_t checksumOffset);

// ---- writing resources back ------------------------------------------------------------

// One resource as it is to be stored.
struct ResourceData {
    ResourceName type;
    ResourceName name;
    ResourceName language;
    std::uint32_t codePage = 0;
    ByteBuffer bytes;
};

using kerbilo::Splice;

enum class WriteStatus {
    Written,
    NoRoomForSection,  // the section table cannot take another entry (or the data directory
                       // has no entry for resources): nothing to do
    TooLarge,          // the new resources would pass the format's 32-bit limits
    Damaged,           // the resource directory could not be read whole: rewriting it would
                       // lose what was skipped; or a new directory is needed and the image
                       // was cut short, so there is no sound place after it
};

struct WriteResult {
    WriteStatus status = WriteStatus::Written;
    // Sorted by offset and apart, offsets as in the bytes given (before any splice).
    std::vector<Splice> splices;
    bool rebuilt = false;             // a new resource section; else written in place
    bool certificateRemoved = false;  // the signature no longer matched, so it was taken out
};

// The image's resources become exactly `resources` (one per type / name / language).
// `bytes` is what readImage read `image` from. When the set of resources is the same and
// each new one fits where its old one lies, each is written there (the rest of its old
// stretch zeroed) and its data entry's size updated; otherwise a new resource section
// holding every resource is added after the last section's raw data (or the resource
// section grows, when it is the last) and the headers are updated: section table, data
// directory, size of image, the certificate table removed (a signature over other bytes
// is a false one). In both cases the checksum is recomputed when it was set. Of several
// resources with one key, the last given is kept; when every resource already is as given,
// there are no splices at all (and the signature stays).
WriteResult writeResources(const std::uint8_t* bytes, std::size_t size, const Image& image,
                           const std::vector<ResourceData>& resources);

using kerbilo::applySplices;

}  // namespace kerbilo::pe
