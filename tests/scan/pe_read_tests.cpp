// The reader of Windows images: headers of each kind, where an image ends, the resource
// directory's three levels, and directories and headers built to mislead it.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "allocation_count.h"
#include "pe_builder.h"
#include "printers.h"
#include "scan/pe_image.h"

namespace kerbilo::testing {
namespace {

using pe::ResourceName;

ByteBuffer sampleImage(bool plus = false, bool resourcesLast = false) {
    return buildPe(samplePlan(SampleDirectory().raw.done(), plus, resourcesLast));
}

std::optional<pe::Image> readBytes(const ByteBuffer& b, const pe::Limits& limits = {}) {
    return pe::readImage(b.data(), b.size(), limits);
}

// The sample's resources whose numbers are listed, in directory order.
std::string sampleSubset(std::initializer_list<std::size_t> which) {
    const std::vector<pe::ResourceData> all = SampleDirectory::resources();
    std::vector<pe::ResourceData> some;
    for (std::size_t i : which) some.push_back(all[i]);
    return describe(some);
}

ByteBuffer patched(ByteBuffer b, std::size_t at, std::initializer_list<std::uint8_t> bytes) {
    std::uint8_t* p = b.mutableData();
    for (std::uint8_t v : bytes) p[at++] = v;
    return b;
}

TEST(PeHeaders, ReadsEachKnownKind) {
    const struct {
        bool plus;
        std::uint16_t machine;
    } kinds[] = {{false, 0x14c}, {true, 0x8664}, {true, 0xaa64}, {false, 0x1c0}, {false, 0x1c4}};
    for (const auto& k : kinds) {
        SCOPED_TRACE(k.machine);
        PePlan plan = samplePlan(SampleDirectory().raw.done(), k.plus);
        plan.machine = k.machine;
        plan.checksum = 0x1234;
        plan.directories[4] = {0x700, 0x10};
        const ByteBuffer bytes = buildPe(plan);
        const auto image = readBytes(bytes);
        ASSERT_TRUE(image);
        EXPECT_TRUE(pe::looksLikeImage(bytes.data(), bytes.size()));
        const std::int64_t optional = 0x80 + 24;
        const std::int64_t directory = optional + (k.plus ? 112 : 96);
        EXPECT_EQ(image->plus, k.plus);
        EXPECT_EQ(image->machine, k.machine);
        EXPECT_EQ(image->peHeaderOffset, 0x80u);
        EXPECT_EQ(image->optionalHeaderOffset, optional);
        EXPECT_EQ(image->optionalHeaderSize, (k.plus ? 112 : 96) + 128);
        EXPECT_EQ(image->sectionTableOffset, directory + 128);
        EXPECT_EQ(image->fileAlignment, 0x200u);
        EXPECT_EQ(image->sectionAlignment, 0x1000u);
        EXPECT_EQ(image->sizeOfHeaders, 0x400u);
        EXPECT_EQ(image->sizeOfImage, 0x4000u);
        EXPECT_EQ(image->checksum, 0x1234u);
        EXPECT_EQ(image->checksumOffset, optional + 64);
        EXPECT_EQ(image->resourceTable.address, SampleDirectory::kVa);
        EXPECT_EQ(image->resourceTable.size, SampleDirectory::kSize);
        EXPECT_EQ(image->resourceTable.at, directory + 16);
        EXPECT_EQ(image->certificateTable.address, 0x700u);
        EXPECT_EQ(image->certificateTable.at, directory + 32);
        ASSERT_EQ(image->sections.size(), 3u);
        EXPECT_EQ(std::string(image->sections[1].name.data(), 5), ".rsrc");
        EXPECT_EQ(image->sections[1].rawOffset, rawOffsetOf(plan, 1));
        EXPECT_EQ(image->sections[1].rawSize, 0x200u);
        EXPECT_EQ(image->sections[1].virtualSize, SampleDirectory::kSize);
        EXPECT_EQ(image->sections[0].characteristics, 0x60000020u);
        EXPECT_EQ(image->extent, static_cast<std::int64_t>(bytes.size()));
        EXPECT_FALSE(image->resourcesDamaged);
        EXPECT_EQ(image->resources.size(), 5u);
    }
}

TEST(PeHeaders, RefusesWhatIsNotAKnownImage) {
    const ByteBuffer good = sampleImage();
    const std::size_t pe = 0x80;
    const auto withPlan = [](const std::function<void(PePlan&)>& change) {
        PePlan plan = samplePlan(SampleDirectory().raw.done());
        change(plan);
        return buildPe(plan);
    };
    const struct {
        const char* what;
        ByteBuffer bytes;
    } cases[] = {
        {"too short for a DOS header", good.slice(0, 63)},
        {"no MZ", patched(good, 0, {'Z', 'M'})},
        {"e_lfanew past the end", patched(good, 0x3c, {0xff, 0xff, 0, 0})},
        {"e_lfanew at the last bytes",
         patched(good, 0x3c,
                 {static_cast<std::uint8_t>(good.size() - 8),
                  static_cast<std::uint8_t>((good.size() - 8) >> 8), 0, 0})},
        {"no PE signature", patched(good, pe + 2, {'X'})},
        {"cut inside the file header", good.slice(0, pe + 20)},
        {"cut inside the optional header", good.slice(0, pe + 24 + 60)},
        {"cut inside the section table", good.slice(0, pe + 24 + 224 + 50)},
        {"an unknown machine", withPlan([](PePlan& p) { p.machine = 0x0200; })},
        {"a ROM image's magic", withPlan([](PePlan& p) { p.magic = 0x107; })},
        {"PE32+ magic over a PE32 header that ends early", withPlan([](PePlan& p) {
             p.magic = 0x20b;
             p.optionalHeaderSize = 100;
         })},
        {"optional header shorter than its fixed fields",
         withPlan([](PePlan& p) { p.optionalHeaderSize = 0x40; })},
        {"more sections than the bytes hold", withPlan([](PePlan& p) { p.sectionCount = 0xFFFE; })},
        {"a section table after a lying optional header size past the end",
         withPlan([](PePlan& p) { p.optionalHeaderSize = 0xFFFF; })},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_FALSE(readBytes(c.bytes));
    }
    for (std::size_t i = 0; i < 5; ++i)  // the first four reach no PE header at all
        EXPECT_FALSE(pe::looksLikeImage(cases[i].bytes.data(), cases[i].bytes.size()));
}

// NumberOfRvaAndSizes and SizeOfOptionalHeader both bound the directory; a section table
// read where a lying SizeOfOptionalHeader puts it finds no resource section.
TEST(PeHeaders, DataDirectoryAsFarAsBothCountsHoldIt) {
    const struct {
        const char* what;
        std::uint32_t directoryCount;
        std::uint16_t optionalHeaderSize;
        bool resources, certificate, damaged;
    } cases[] = {
        {"all sixteen", 16, 0, true, true, false},
        {"a count past sixteen", 0xFFFFFFFF, 0, true, true, false},
        {"two entries", 2, 0, false, false, false},
        {"three entries", 3, 0, true, false, false},
        {"a header size for three entries", 16, 96 + 3 * 8, true, false, true},
        {"a header size past the section table", 16, 0x200, true, true, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PePlan plan = samplePlan(SampleDirectory().raw.done());
        plan.directoryCount = c.directoryCount;
        plan.optionalHeaderSize = c.optionalHeaderSize;
        plan.directories[4] = {0x700, 0x10};
        const auto image = readBytes(buildPe(plan));
        ASSERT_TRUE(image);
        EXPECT_EQ(image->resourceTable.at != 0, c.resources);
        EXPECT_EQ(image->certificateTable.at != 0, c.certificate);
        EXPECT_EQ(image->resourcesDamaged, c.damaged);
        EXPECT_EQ(image->resources.size(), c.resources && !c.damaged ? 5u : 0u);
    }
}

// The extent stops at the last raw data, or at the bytes' end when the image is cut short;
// what lies inside a cut image is read all the same.
TEST(PeExtent, LastRawDataOrTheEndOfTheBytes) {
    PePlan plan = samplePlan(SampleDirectory().raw.done(), false, true);
    plan.overlay = ByteBuffer::fromText("an installer's payload");
    const ByteBuffer whole = buildPe(plan);
    const std::int64_t rsrc = rawOffsetOf(plan, 1);
    const std::int64_t end = rawOffsetOf(plan, 2);
    const struct {
        const char* what;
        std::int64_t length, extent;
        std::string resources;
        bool damaged;
    } cases[] = {
        {"with an overlay", static_cast<std::int64_t>(whole.size()), end,
         sampleSubset({0, 1, 2, 3, 4}), false},
        {"without one", end, end, sampleSubset({0, 1, 2, 3, 4}), false},
        {"cut after the third resource's data", rsrc + SampleDirectory::dataAt(3),
         rsrc + SampleDirectory::dataAt(3), sampleSubset({0, 1, 2}), true},
        {"cut inside the directory", rsrc + 0x50, rsrc + 0x50, "", true},
        {"cut after the headers", 0x400, 0x400, "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const ByteBuffer bytes = whole.slice(0, static_cast<std::size_t>(c.length));
        const auto image = readBytes(bytes);
        ASSERT_TRUE(image);
        EXPECT_EQ(image->extent, c.extent);
        EXPECT_EQ(describe(resourcesOf(*image, bytes)), c.resources);
        EXPECT_EQ(image->resourcesDamaged, c.damaged);
    }
}

TEST(PeResources, WalksTypesNamesAndLanguagesInDirectoryOrder) {
    for (bool plus : {false, true}) {
        const PePlan plan = samplePlan(SampleDirectory().raw.done(), plus);
        const ByteBuffer bytes = buildPe(plan);
        const auto image = readBytes(bytes);
        ASSERT_TRUE(image);
        EXPECT_EQ(describe(resourcesOf(*image, bytes)), describe(SampleDirectory::resources()));
        const std::int64_t rsrc = rawOffsetOf(plan, 1);
        ASSERT_EQ(image->resources.size(), 5u);
        for (std::size_t i = 0; i < 5; ++i) {
            const pe::ResourceEntry& r = image->resources[i];
            EXPECT_EQ(r.dataRva, SampleDirectory::kVa + SampleDirectory::dataAt(i));
            EXPECT_EQ(r.dataOffset, rsrc + SampleDirectory::dataAt(i));
            EXPECT_EQ(r.entryOffset,
                      rsrc + SampleDirectory::kEntries + 16 * static_cast<std::int64_t>(i));
            EXPECT_EQ(pe::rvaToOffset(*image, r.dataRva, r.size), r.dataOffset);
        }
        EXPECT_EQ(image->resourceDirectoryBegin, rsrc);
        EXPECT_EQ(image->resourceDirectoryEnd, rsrc + SampleDirectory::kLogoString + 10);
    }
}

// RVAs are found in the raw data the loader maps: VirtualSize bytes of it, or all of it
// when VirtualSize is 0, and never past the file's bytes.
TEST(PeResources, RvaToOffsetOnlyInsideMappedRawData) {
    PePlan plan = samplePlan(SampleDirectory().raw.done());
    plan.sections[0].virtualSize = 0x100;  // raw data 0x200 bytes, of which 0x100 mapped
    const ByteBuffer bytes = buildPe(plan);
    const auto image = readBytes(bytes);
    ASSERT_TRUE(image);
    const std::int64_t text = rawOffsetOf(plan, 0);
    const struct {
        std::uint32_t rva, length;
        std::int64_t offset;
    } cases[] = {
        {0x1000, 0x100, text},  {0x10ff, 1, text + 0xff}, {0x1100, 0, text + 0x100},
        {0x10ff, 2, -1},        {0x0fff, 1, -1},          {0x2000, 16, rawOffsetOf(plan, 1)},
        {0xFFFFFFF0, 0x20, -1}, {0x2000, 0xFFFFFFFF, -1}, {0x1800, 1, -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(pe::rvaToOffset(*image, c.rva, c.length), c.offset) << c.rva << "+" << c.length;
}

// Each case spoils one part of the sample directory: the walk skips that part, says the
// directory is damaged, and still reads every resource the spoiled part does not lead to.
TEST(PeResources, HostileDirectoriesLoseOnlyWhatTheyHide) {
    using S = SampleDirectory;
    const struct {
        const char* what;
        std::function<void(RawDirectory&)> spoil;
        std::string left;
    } cases[] = {
        {"a type leading back to the root",
         [](RawDirectory& d) { d.entry(S::kRoot, 1, 3, kSub | S::kRoot); },
         sampleSubset({0, 3, 4})},
        {"a name table leading to itself",
         [](RawDirectory& d) { d.entry(S::kIconNames, 1, 2, kSub | S::kIconNames); },
         sampleSubset({0, 1, 3, 4})},
        {"a name leading back to the root",
         [](RawDirectory& d) { d.entry(S::kIconNames, 1, 2, kSub | S::kRoot); },
         sampleSubset({0, 1, 3, 4})},
        {"two types sharing a name table",
         [](RawDirectory& d) { d.entry(S::kRoot, 2, 14, kSub | S::kIconNames); },
         sampleSubset({0, 1, 2})},
        {"a table past the section",
         [](RawDirectory& d) { d.entry(S::kRoot, 2, 14, kSub | 0x7FFFFFF0); },
         sampleSubset({0, 1, 2})},
        {"a table straddling the section's end",
         [](RawDirectory& d) { d.entry(S::kRoot, 2, 14, kSub | (S::kSize - 8)); },
         sampleSubset({0, 1, 2})},
        {"a data entry past the section",
         [](RawDirectory& d) { d.entry(S::kIcon2Languages, 0, 1033, 0x7FFF0000); },
         sampleSubset({0, 1, 3, 4})},
        {"a name past the section",
         [](RawDirectory& d) { d.entry(S::kRoot, 0, kSub | 0x7FFFFFFE, kSub | S::kPngNames); },
         sampleSubset({1, 2, 3, 4})},
        {"a name longer than the section", [](RawDirectory& d) { d.put32(S::kLogoString, 0xFFFF); },
         sampleSubset({1, 2, 3, 4})},
        {"data outside every section",
         [](RawDirectory& d) { d.dataEntry(S::kEntries + 16, 0x9000, 20); },
         sampleSubset({0, 2, 3, 4})},
        {"data running past the section's raw data",
         [](RawDirectory& d) { d.dataEntry(S::kEntries + 16, S::kVa + 0x1f0, 0x20); },
         sampleSubset({0, 2, 3, 4})},
        {"data whose end passes 4 GiB",
         [](RawDirectory& d) { d.dataEntry(S::kEntries + 16, 0xFFFFFFF0, 0x20); },
         sampleSubset({0, 2, 3, 4})},
        {"data of 4 GiB",
         [](RawDirectory& d) { d.dataEntry(S::kEntries + 16, S::kVa, 0xFFFFFFFF); },
         sampleSubset({0, 2, 3, 4})},
        {"a leaf in place of a type", [](RawDirectory& d) { d.entry(S::kRoot, 1, 3, S::kEntries); },
         sampleSubset({0, 3, 4})},
        {"a leaf in place of a name",
         [](RawDirectory& d) { d.entry(S::kGroupNames, 0, 1, S::kEntries + 48); },
         sampleSubset({0, 1, 2})},
        {"a table in place of a language",
         [](RawDirectory& d) { d.entry(S::kGroup1Languages, 1, 1033, kSub | S::kIcon1Languages); },
         sampleSubset({0, 1, 2, 3})},
        {"a table declaring more entries than follow it",
         [](RawDirectory& d) {
             d.counts(S::kData + 0xa0, 0xFFFF, 0xFFFF)
                 .entry(S::kRoot, 2, 14, kSub | (S::kData + 0xa0));
         },
         sampleSubset({0, 1, 2})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SampleDirectory sample;
        c.spoil(sample.raw);
        const ByteBuffer bytes = buildPe(samplePlan(sample.raw.done()));
        const auto image = readBytes(bytes);
        ASSERT_TRUE(image);
        EXPECT_TRUE(image->resourcesDamaged);
        EXPECT_EQ(describe(resourcesOf(*image, bytes)), c.left);
    }
}

// Visits and copied name units stop at their limits; what was read before stays.
TEST(PeResources, LimitsStopTheWalk) {
    const ByteBuffer bytes = sampleImage();
    const struct {
        std::size_t visits, names;
        std::string left;
        bool damaged;
    } cases[] = {
        {4'000'000, 16'000'000, sampleSubset({0, 1, 2, 3, 4}), false},
        {20, 16'000'000, sampleSubset({0, 1, 2, 3, 4}), false},  // 8 tables and 12 entries
        {19, 16'000'000, sampleSubset({0, 1, 2, 3}), true},
        {6, 16'000'000, sampleSubset({0}), true},
        {5, 16'000'000, "", true},
        {4'000'000, 14, sampleSubset({0, 1, 2, 3, 4}), false},  // "PNG", "LOGO" read, then copied
        {4'000'000, 13, "", true},
    };
    for (const auto& c : cases) {
        pe::Limits limits;
        limits.maxVisits = c.visits;
        limits.maxNameUnits = c.names;
        const auto image = readBytes(bytes, limits);
        ASSERT_TRUE(image);
        EXPECT_EQ(describe(resourcesOf(*image, bytes)), c.left) << c.visits << " " << c.names;
        EXPECT_EQ(image->resourcesDamaged, c.damaged);
    }
}

// Nine tables declare over a million entries in a section of 4 KiB: the walk reads the few
// the bytes hold, quickly, and reserves nothing for the rest.
TEST(PeResources, AMillionDeclaredEntriesCostOnlyWhatIsThere) {
    RawDirectory d(0x1000);
    std::vector<std::pair<std::uint32_t, std::uint32_t>> types;
    for (std::uint32_t t = 0; t < 8; ++t) types.push_back({t + 1, kSub | (0xF00 + 0x10 * t)});
    d.table(0, types).counts(0, 0xFFFF, 0xFFFF);
    for (std::uint32_t t = 0; t < 8; ++t) d.counts(0xF00 + 0x10 * t, 0xFFFF, 0xFFFF);
    PePlan plan = samplePlan(d.done());
    const ByteBuffer bytes = buildPe(plan);
    const AllocationCount allocated;
    const auto t0 = std::chrono::steady_clock::now();
    const auto image = readBytes(bytes);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    const std::size_t allocatedBytes = allocated.bytes();
    ASSERT_TRUE(image);
    EXPECT_TRUE(image->resourcesDamaged);
    EXPECT_TRUE(image->resources.empty());
    EXPECT_LT(allocatedBytes, 16u * 1024);
    EXPECT_LT(seconds, 0.1);
}

// A directory that names many tables with one long name: each copy counts against the
// limit, so a small file cannot make the reader copy gigabytes of names.
TEST(PeResources, OneLongNameSharedByManyLeavesIsCountedEachTime) {
    RawDirectory d(0x40000);
    const std::uint32_t name = 0x100;
    d.string(name, std::u16string(0xFFFF, u'N'));
    d.table(0, {{kSub | name, kSub | 0x38100}}, 1);
    // One name table of 4000 names, each that long name, each with one language.
    std::vector<std::pair<std::uint32_t, std::uint32_t>> names;
    for (std::uint32_t i = 0; i < 4000; ++i) {
        const std::uint32_t languages = 0x20100 + 24 * i;
        names.push_back({kSub | name, kSub | languages});
        d.table(languages, {{1033, 0x38000}});
    }
    d.table(0x38100, names, 4000);
    d.dataEntry(0x38000, SampleDirectory::kVa + 0x38010, 4);
    const ByteBuffer bytes = buildPe(samplePlan(d.done()));
    const AllocationCount allocated;
    const auto image = readBytes(bytes);
    const std::size_t allocatedBytes = allocated.bytes();
    ASSERT_TRUE(image);
    EXPECT_TRUE(image->resourcesDamaged);
    EXPECT_LT(allocatedBytes, std::size_t{80} << 20);
    EXPECT_LE(image->resources.size(), 16'000'000u / 0xFFFF);
}

TEST(PeResources, AHundredThousandResourcesReadQuickly) {
    const ByteBuffer bytes = manyResourcesImage(100'000);
    const auto t0 = std::chrono::steady_clock::now();
    const auto image = readBytes(bytes);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    ASSERT_TRUE(image);
    EXPECT_FALSE(image->resourcesDamaged);
    ASSERT_EQ(image->resources.size(), 100'000u);
    EXPECT_EQ(describe(image->resources.back().name), "49999");
    EXPECT_LT(seconds, 1.0);
}

// Every prefix of a small image, each in a buffer of exactly its length (so a sanitizer
// sees any read past it): never a resource outside the prefix, all of them once the prefix
// holds the image, and writing resources back either refuses or round-trips.
TEST(PeResources, EveryCutOfASmallImageStaysInsideItsBytes) {
    PePlan plan = samplePlan(SampleDirectory().raw.done(), true, true);
    plan.checksum = 1;
    const ByteBuffer whole = buildPe(plan);
    std::vector<pe::ResourceData> changed = SampleDirectory::resources();
    changed[1].bytes = ByteBuffer::fromText("a longer icon than the one it replaces");
    for (std::size_t length = 0; length <= whole.size(); ++length) {
        SCOPED_TRACE(length);
        const std::vector<std::uint8_t> exact(whole.data(), whole.data() + length);
        const auto image = pe::readImage(exact.data(), exact.size());
        if (!image) {
            ASSERT_LT(length, 0x400u);
            continue;
        }
        ASSERT_LE(image->extent, static_cast<std::int64_t>(length));
        for (const pe::ResourceEntry& r : image->resources) {
            ASSERT_LE(r.dataOffset + r.size, static_cast<std::int64_t>(length));
            ASSERT_LE(r.entryOffset + 16, static_cast<std::int64_t>(length));
            ASSERT_EQ(pe::rvaToOffset(*image, r.dataRva, r.size), r.dataOffset);
        }
        if (length == whole.size()) {
            EXPECT_EQ(image->resources.size(), 5u);
        }
        const pe::WriteResult w = pe::writeResources(exact.data(), exact.size(), *image, changed);
        if (w.status != pe::WriteStatus::Written) continue;
        const ByteBuffer out = pe::applySplices(exact.data(), exact.size(), w.splices);
        const auto again = readBytes(out);
        ASSERT_TRUE(again);
        EXPECT_EQ(describe(resourcesOf(*again, out)), describe(changed));
    }
}

// ---- checksum --------------------------------------------------------------------------

TEST(PeChecksum, SumsWordsWithTheCarryFoldedBack) {
    const struct {
        std::vector<std::uint8_t> bytes;
        std::int64_t field;
        std::uint32_t sum;
    } cases[] = {
        {{}, -1, 0},
        {{0x01, 0x02, 0x03}, -1, 0x0201 + 0x0003 + 3},
        {{0xff, 0xff, 0x02, 0x00}, -1, 0x0002 + 4},  // 0xffff + 2 carries into the low word
        {{0xff, 0xff, 0xff, 0xff}, -1, 0xffff + 4},
        {{0xff, 0xff, 0xff, 0xff, 0x01}, -1, 0x0001 + 5},
        {{0x10, 0x20, 0xaa, 0xbb, 0xcc, 0xdd, 0x01, 0x00}, 2, 0x2010 + 0x0001 + 8},
        {{0x10, 0x20, 0xaa, 0xbb, 0xcc, 0xdd, 0x01, 0x00},
         1,
         0x0010 + 0xdd00 + 0x0001 + 8},       // a field at an odd place
        {{0x10, 0x20, 0xaa}, 1, 0x0010 + 3},  // a field cut by the end
        {{0x10, 0x20}, 7, 0x2010 + 2},        // a field past the end
    };
    for (const auto& c : cases)
        EXPECT_EQ(pe::computeChecksum(c.bytes.data(), c.bytes.size(), c.field), c.sum)
            << c.bytes.size() << " " << c.field;
    // Long runs take the wide path: the same as word by word.
    std::vector<std::uint8_t> big(100'003);
    std::uint32_t x = 1;
    for (std::uint8_t& b : big) b = static_cast<std::uint8_t>((x = x * 1103515245 + 12345) >> 16);
    std::uint64_t words = 0;
    for (std::size_t i = 0; i < big.size(); i += 2) {
        const bool field = i >= 1000 && i < 1004;
        if (!field) words += big[i] | (i + 1 < big.size() ? big[i + 1] << 8 : 0);
        words = (words & 0xffff) + (words >> 16);
    }
    EXPECT_EQ(pe::computeChecksum(big.data(), big.size(), 1000), words + big.size());
}

}  // namespace
}  // namespace kerbilo::testing
