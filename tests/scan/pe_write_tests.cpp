// Writing resources back: in place when the set stays and each fits, otherwise a new
// directory in the last section or a section of its own; the signature removed and the
// checksum kept true. Every result is read back by the reader.

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "pe_builder.h"
#include "printers.h"
#include "scan/pe_image.h"

namespace kerbilo::testing {
namespace {

using pe::ResourceData;
using pe::ResourceName;
using pe::WriteStatus;

const ByteBuffer kPayload = ByteBuffer::fromText("installer payload");
const ByteBuffer kCertificate = ByteBuffer::fromText("\x10\0\0\0\0\x02\x02\0signature");

// An image of the sample directory with the given layout: a payload after the image, and a
// certificate after that when signed.
struct Layout {
    bool plus = false;
    bool resourcesLast = false;
    bool checksum = false;
    bool overlay = false;
    bool signedImage = false;
};

PePlan planOf(const Layout& l, const ByteBuffer& directory = SampleDirectory().raw.done()) {
    PePlan plan = samplePlan(directory, l.plus, l.resourcesLast);
    if (l.checksum) plan.checksum = 0x5eed;
    std::string tail;
    if (l.overlay) tail += std::string(kPayload.view());
    if (l.signedImage) {
        plan.directories[4] = {
            rawOffsetOf(plan, plan.sections.size()) + static_cast<std::uint32_t>(tail.size()),
            static_cast<std::uint32_t>(kCertificate.size())};
        tail += std::string(kCertificate.view());
    }
    plan.overlay = ByteBuffer::fromText(tail);
    return plan;
}

struct Rewritten {
    pe::WriteResult result;
    std::optional<pe::Image> before;
    ByteBuffer bytes;
    std::optional<pe::Image> image;
};

// Splices in order, apart, and inside the bytes they were made for.
void expectOrdered(const std::vector<pe::Splice>& splices, std::size_t size) {
    for (std::size_t i = 0; i < splices.size(); ++i) {
        EXPECT_GE(splices[i].offset, 0);
        EXPECT_LE(splices[i].offset + splices[i].oldLength, static_cast<std::int64_t>(size));
        if (i > 0) {
            EXPECT_LT(splices[i - 1].offset + splices[i - 1].oldLength, splices[i].offset);
        }
    }
}

Rewritten rewrite(const ByteBuffer& bytes, const std::vector<ResourceData>& set) {
    Rewritten r;
    r.before = pe::readImage(bytes.data(), bytes.size());
    if (!r.before) {
        ADD_FAILURE() << "not an image";
        return r;
    }
    r.result = pe::writeResources(bytes.data(), bytes.size(), *r.before, set);
    expectOrdered(r.result.splices, bytes.size());
    r.bytes = pe::applySplices(bytes.data(), bytes.size(), r.result.splices);
    r.image = pe::readImage(r.bytes.data(), r.bytes.size());
    return r;
}

std::vector<ResourceData> sample() {
    return SampleDirectory::resources();
}
ByteBuffer filled(std::size_t n, std::uint8_t v) {
    return ByteBuffer(std::string(n, static_cast<char>(v)).data(), n);
}

// Changes to the sample's resources, and whether they fit in place.
struct Change {
    const char* what;
    std::function<void(std::vector<ResourceData>&)> apply;
    bool inPlace;
};
const Change kChanges[] = {
    {"one shorter, one as long",
     [](std::vector<ResourceData>& s) {
         s[1].bytes = filled(12, 0xee);
         s[3].bytes = filled(16, 0x77);
     },
     true},
    {"a new code page", [](std::vector<ResourceData>& s) { s[2].codePage = 936; }, true},
    {"one emptied", [](std::vector<ResourceData>& s) { s[4].bytes = {}; }, true},
    {"one longer", [](std::vector<ResourceData>& s) { s[2].bytes = filled(300, 0x33); }, false},
    {"one more",
     [](std::vector<ResourceData>& s) {
         s.push_back({ResourceName::number(3), ResourceName::number(7), ResourceName::number(2052),
                      0, filled(40, 0x44)});
     },
     false},
    {"one fewer", [](std::vector<ResourceData>& s) { s.erase(s.begin() + 3); }, false},
    {"one renamed", [](std::vector<ResourceData>& s) { s[0].name = named(u"BANNER"); }, false},
    {"none", [](std::vector<ResourceData>& s) { s.clear(); }, false},
    {"large", [](std::vector<ResourceData>& s) { s[0].bytes = filled(0x12345, 0x99); }, false},
};

// Every layout and change: the new set reads back exactly, the checksum is true when it was
// set, the signature is gone, the payload follows the image still, and the new directory
// lands where the layout says.
TEST(PeWriteRoundTrip, EveryLayoutAndChangeReadsBack) {
    for (int bits = 0; bits < 32; ++bits) {
        const Layout layout{(bits & 1) != 0, (bits & 2) != 0, (bits & 4) != 0, (bits & 8) != 0,
                            (bits & 16) != 0};
        const PePlan plan = planOf(layout);
        const ByteBuffer bytes = buildPe(plan);
        for (const Change& change : kChanges) {
            SCOPED_TRACE(std::string(change.what) + " layout " + std::to_string(bits));
            std::vector<ResourceData> set = sample();
            change.apply(set);
            const Rewritten r = rewrite(bytes, set);
            ASSERT_EQ(r.result.status, WriteStatus::Written);
            ASSERT_TRUE(r.image);
            EXPECT_FALSE(r.image->resourcesDamaged);
            EXPECT_EQ(describe(resourcesOf(*r.image, r.bytes)), describe(set, true));
            EXPECT_EQ(r.result.rebuilt, !change.inPlace);
            EXPECT_EQ(r.result.certificateRemoved, layout.signedImage);
            EXPECT_EQ(r.image->certificateTable.address, 0u);
            EXPECT_EQ(r.image->certificateTable.size, 0u);
            if (layout.checksum)
                EXPECT_EQ(r.image->checksum, pe::computeChecksum(r.bytes.data(), r.bytes.size(),
                                                                 r.image->checksumOffset));
            else
                EXPECT_EQ(r.image->checksum, 0u);
            // What followed the image follows it still, without the certificate.
            EXPECT_EQ(r.bytes.slice(static_cast<std::size_t>(r.image->extent), r.bytes.size()),
                      layout.overlay ? kPayload : ByteBuffer{});
            const std::size_t sections =
                plan.sections.size() + (r.result.rebuilt && !layout.resourcesLast);
            EXPECT_EQ(r.image->sections.size(), sections);
            // The loader's view: SizeOfImage covers every section, the last one exactly.
            const pe::Section& last = r.image->sections.back();
            EXPECT_EQ(r.image->sizeOfImage,
                      (last.virtualAddress + last.virtualSize + 0xfffu) & ~0xfffu);
            EXPECT_EQ(r.image->extent, static_cast<std::int64_t>(last.rawOffset + last.rawSize));
        }
    }
}

// Written in place, an image differs from the old one only in the changed data, the sizes
// and code pages of their data entries, and the checksum.
TEST(PeWriteInPlace, ChangesNothingButDataEntriesAndChecksum) {
    for (bool plus : {false, true}) {
        const ByteBuffer bytes = buildPe(planOf({plus, false, true, true, false}));
        std::vector<ResourceData> set = sample();
        kChanges[0].apply(set);
        kChanges[1].apply(set);
        const Rewritten r = rewrite(bytes, set);
        ASSERT_EQ(r.result.status, WriteStatus::Written);
        ASSERT_FALSE(r.result.rebuilt);
        ASSERT_EQ(r.bytes.size(), bytes.size());
        std::vector<std::pair<std::int64_t, std::int64_t>> allowed = {
            {r.before->checksumOffset, 4}};
        for (std::size_t i : {1, 2, 3}) {
            const pe::ResourceEntry& e = r.before->resources[i];
            allowed.push_back({e.dataOffset, e.size});
            allowed.push_back({e.entryOffset + 4, 8});
        }
        std::size_t changed = 0;
        for (std::size_t at = 0; at < bytes.size(); ++at) {
            if (bytes[at] == r.bytes[at]) continue;
            ++changed;
            const auto i = static_cast<std::int64_t>(at);
            EXPECT_TRUE(
                std::any_of(allowed.begin(), allowed.end(),
                            [&](const auto& a) { return i >= a.first && i < a.first + a.second; }))
                << "byte " << at << " changed";
        }
        EXPECT_GT(changed, 0u);
        // The shortened resource's old tail is zeros.
        const pe::ResourceEntry& shortened = r.before->resources[1];
        EXPECT_EQ(r.bytes.slice(static_cast<std::size_t>(shortened.dataOffset) + 12, 8),
                  filled(8, 0));
    }
}

TEST(PeWriteInPlace, TheSameResourcesWriteNothing) {
    const ByteBuffer bytes = buildPe(planOf({false, false, true, true, true}));
    const Rewritten r = rewrite(bytes, sample());
    EXPECT_EQ(r.result.status, WriteStatus::Written);
    EXPECT_TRUE(r.result.splices.empty());
    EXPECT_FALSE(r.result.certificateRemoved);
}

// In place would write one stretch for two resources, data over the directory's own
// structures, or a size into a name: the directory is written anew instead.
TEST(PeWriteInPlace, SharedOrMisplacedDataIsRebuilt) {
    using S = SampleDirectory;
    const struct {
        const char* what;
        std::function<void(RawDirectory&)> change;
    } cases[] = {
        {"two leaves, one data entry",
         [](RawDirectory& d) { d.entry(S::kIcon2Languages, 0, 1033, S::kEntries + 16); }},
        {"two data entries, one stretch",
         [](RawDirectory& d) { d.dataEntry(S::kEntries + 32, S::kVa + S::dataAt(1), 20); }},
        {"data over the root table",
         [](RawDirectory& d) { d.dataEntry(S::kEntries + 32, S::kVa, 7); }},
        {"a name over another data entry's size",
         [](RawDirectory& d) {
             d.entry(S::kPngNames, 0, kSub | (S::kEntries + 16 + 4), kSub | S::kLogoLanguages);
         }},
        {"data over its own data entry",
         [](RawDirectory& d) { d.dataEntry(S::kEntries + 32, S::kVa + S::kEntries + 32, 7); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SampleDirectory d;
        c.change(d.raw);
        const ByteBuffer bytes = buildPe(planOf({}, d.raw.done()));
        const auto before = pe::readImage(bytes.data(), bytes.size());
        ASSERT_TRUE(before);
        std::vector<ResourceData> set = resourcesOf(*before, bytes);
        for (ResourceData& r : set) r.bytes = r.bytes.slice(0, 2);  // every one fits in place
        const Rewritten r = rewrite(bytes, set);
        ASSERT_EQ(r.result.status, WriteStatus::Written);
        EXPECT_TRUE(r.result.rebuilt);
        ASSERT_TRUE(r.image);
        EXPECT_EQ(describe(resourcesOf(*r.image, r.bytes)), describe(set, true));
    }
}

// The last section grows (or shrinks) in place of its old raw data; everything before it
// keeps its bytes.
TEST(PeRebuild, TheLastSectionTakesTheNewDirectory) {
    const PePlan plan = planOf({false, true, true, true, false});
    const ByteBuffer bytes = buildPe(plan);
    for (std::size_t grow : {std::size_t{300}, std::size_t{0x3000}}) {
        std::vector<ResourceData> set = sample();
        set[2].bytes = filled(grow, 0x33);
        const Rewritten r = rewrite(bytes, set);
        ASSERT_EQ(r.result.status, WriteStatus::Written);
        ASSERT_TRUE(r.image);
        ASSERT_EQ(r.image->sections.size(), 2u);
        const pe::Section& rsrc = r.image->sections[1];
        EXPECT_EQ(std::string(rsrc.name.data(), 5), ".rsrc");
        EXPECT_EQ(rsrc.virtualAddress, SampleDirectory::kVa);
        EXPECT_EQ(rsrc.rawOffset, rawOffsetOf(plan, 1));
        EXPECT_EQ(rsrc.virtualSize, r.image->resourceTable.size);
        EXPECT_EQ(rsrc.rawSize, (rsrc.virtualSize + 0x1ffu) & ~0x1ffu);
        EXPECT_EQ(rsrc.characteristics, 0x40000040u);
        EXPECT_EQ(r.image->resourceTable.address, SampleDirectory::kVa);
        EXPECT_EQ(r.bytes.slice(0x400, rsrc.rawOffset - 0x400),
                  bytes.slice(0x400, rsrc.rawOffset - 0x400));
        EXPECT_EQ(describe(resourcesOf(*r.image, r.bytes)), describe(set, true));
    }
}

// A resource section that is not last, or that holds more than the directory, stays where
// it is, every byte of it; a new section after the last takes the directory.
TEST(PeRebuild, OtherwiseANewSectionFollowsTheLast) {
    const struct {
        const char* what;
        bool resourcesLast;
        std::function<void(PePlan&)> change;
    } cases[] = {
        {"relocations after the resources", false, [](PePlan&) {}},
        {"no resource section at all", false,
         [](PePlan& p) {
             p.sections.erase(p.sections.begin() + 1);
             p.directories[2] = {};
         }},
        {"another directory inside the resource section", true,
         [](PePlan& p) {
             p.directories[6] = {SampleDirectory::kVa + 0x1f0, 0x10};
         }},
        {"the entry point inside it", true,
         [](PePlan& p) { p.entryPoint = SampleDirectory::kVa + 0x1f8; }},
        {"the directory not at its start", true,
         [](PePlan& p) {
             PeSectionPlan& rsrc = p.sections[1];
             rsrc.raw = ByteBuffer::fromText(std::string(16, '\0') + std::string(rsrc.raw.view()));
             rsrc.va -= 16;
             rsrc.virtualSize += 16;
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PePlan plan = planOf({false, c.resourcesLast, true, true, true});
        c.change(plan);
        const ByteBuffer bytes = buildPe(plan);
        std::vector<ResourceData> set = sample();
        set[2].bytes = filled(300, 0x33);
        const Rewritten r = rewrite(bytes, set);
        ASSERT_EQ(r.result.status, WriteStatus::Written);
        ASSERT_TRUE(r.image);
        EXPECT_EQ(describe(resourcesOf(*r.image, r.bytes)), describe(set, true));
        ASSERT_EQ(r.image->sections.size(), plan.sections.size() + 1);
        const pe::Section& added = r.image->sections.back();
        const pe::Section& before = r.before->sections.back();
        EXPECT_EQ(std::string(added.name.data()), ".rsrc");
        EXPECT_EQ(added.characteristics, 0x40000040u);
        EXPECT_EQ(added.virtualAddress,
                  (before.virtualAddress + before.virtualSize + 0xfffu) & ~0xfffu);
        EXPECT_EQ(added.rawOffset, before.rawOffset + before.rawSize);
        EXPECT_EQ(added.virtualSize, r.image->resourceTable.size);
        EXPECT_EQ(r.image->resourceTable.address, added.virtualAddress);
        // Everything up to the new section is as it was, but for the headers.
        EXPECT_EQ(r.bytes.slice(0x400, added.rawOffset - 0x400),
                  bytes.slice(0x400, added.rawOffset - 0x400));
        EXPECT_EQ(le16(r.bytes, r.image->peHeaderOffset + 6), plan.sections.size() + 1);
    }
}

// Names first, by code units, then numbers ascending, at every level; a key given twice
// keeps the bytes given last.
TEST(PeRebuild, TablesAreSortedAndKeysUnique) {
    const ByteBuffer bytes = buildPe(planOf({}));
    const auto number = ResourceName::number;
    std::vector<ResourceData> set = {
        {number(10), named(u"b"), number(1033), 0, filled(3, 1)},
        {number(3), number(2), named(u"en"), 0, filled(3, 2)},
        {named(u"ZIP"), number(9), number(0), 0, filled(3, 3)},
        {number(10), named(u"B"), number(1033), 0, filled(3, 4)},
        {number(3), number(2), number(1033), 0, filled(3, 5)},
        {named(u"ZIP"), number(9), number(0), 0, filled(4, 6)},
        {number(10), number(1), number(1033), 0, filled(3, 7)},
        {named(u"APNG"), number(1), number(0), 0, filled(3, 8)},
    };
    const Rewritten r = rewrite(bytes, set);
    ASSERT_EQ(r.result.status, WriteStatus::Written);
    ASSERT_TRUE(r.image);
    set.erase(set.begin() + 2);
    EXPECT_EQ(describe(resourcesOf(*r.image, r.bytes)), describe(set, true));
    ASSERT_EQ(r.image->resources.size(), 7u);
    EXPECT_EQ(describe(r.image->resources[0].type), "\"APNG\"");
    EXPECT_EQ(describe(r.image->resources[1].type), "\"ZIP\"");
    EXPECT_EQ(describe(r.image->resources[4].name), "\"B\"");
    EXPECT_EQ(describe(r.image->resources[2].language), "\"en\"");
    // The root declares two named types and two numbered ones.
    const std::int64_t root = r.image->sections.back().rawOffset;
    EXPECT_EQ(le16(r.bytes, root + 12), 2);
    EXPECT_EQ(le16(r.bytes, root + 14), 2);
}

// A refusal leaves the bytes alone.
TEST(PeRebuild, RefusalsSpliceNothing) {
    std::vector<ResourceData> longer = sample();
    longer[2].bytes = filled(300, 0x33);
    std::vector<ResourceData> longName = sample();
    longName[0].name = named(std::u16string(70000, u'x'));
    std::vector<ResourceData> manyNames;
    for (int i = 0; i < 0x10000; ++i)
        manyNames.push_back({ResourceName::number(10),
                             named(std::u16string(1, static_cast<char16_t>(i))),
                             ResourceName::number(0),
                             0,
                             {}});
    SampleDirectory loop;
    loop.raw.entry(SampleDirectory::kRoot, 1, 3, kSub | SampleDirectory::kRoot);
    const ByteBuffer normal = buildPe(planOf({}));
    const struct {
        const char* what;
        ByteBuffer bytes;
        std::vector<ResourceData> set;
        WriteStatus status;
    } cases[] = {
        {"a section table that fills the headers",
         [] {
             PePlan p = planOf({});
             p.sizeOfHeaders = 0x200;
             return buildPe(p);
         }(),
         longer, WriteStatus::NoRoomForSection},
        {"bytes after the section table",
         [&] {
             ByteBuffer b = normal;
             b.mutableData()[0x98 + 224 + 3 * 40 + 8] = 1;
             return b;
         }(),
         longer, WriteStatus::NoRoomForSection},
        {"no resource entry in the data directory",
         [] {
             PePlan p = planOf({});
             p.directoryCount = 2;
             return buildPe(p);
         }(),
         longer, WriteStatus::NoRoomForSection},
        {"a damaged directory", buildPe(planOf({}, loop.raw.done())), sample(),
         WriteStatus::Damaged},
        {"an image cut short", normal.slice(0, normal.size() - 0x100), longer,
         WriteStatus::Damaged},
        {"a name of 70000 code units", normal, longName, WriteStatus::TooLarge},
        {"65536 named entries in one table", normal, manyNames, WriteStatus::TooLarge},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto image = pe::readImage(c.bytes.data(), c.bytes.size());
        ASSERT_TRUE(image);
        const pe::WriteResult w = pe::writeResources(c.bytes.data(), c.bytes.size(), *image, c.set);
        EXPECT_EQ(w.status, c.status);
        EXPECT_TRUE(w.splices.empty());
        EXPECT_FALSE(w.certificateRemoved);
    }
}

}  // namespace
}  // namespace kerbilo::testing
