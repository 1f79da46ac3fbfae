#include <gtest/gtest.h>

#include <cstring>
#include <map>

#include "icon_files.h"
#include "picture/decoders.h"
#include "runtime/byte_ops.h"
#include "scan/catalogue.h"
#include "scan/pe_pictures.h"

// A namespace of its own: the using-directive must not reach the files a unity build puts
// after this one.
namespace kerbilo::testing::pe_pictures_tests {

using pe::ResourceName;
using namespace icons;

// An image whose resources lie one after the other in its bytes: findPictures and
// replaceResource read only the entries and the bytes they point at.
struct FakeProgram {
    std::vector<std::uint8_t> bytes = std::vector<std::uint8_t>(64, 0xEE);
    pe::Image image;

    void add(std::uint16_t type, std::uint16_t id, const ByteBuffer& data,
             std::uint16_t language = 1033) {
        pe::ResourceEntry e;
        e.type = ResourceName::number(type);
        e.name = ResourceName::number(id);
        e.language = ResourceName::number(language);
        e.dataOffset = static_cast<std::int64_t>(bytes.size());
        e.size = static_cast<std::uint32_t>(data.size());
        bytes.insert(bytes.end(), data.begin(), data.end());
        image.resources.push_back(e);
    }
    ByteBuffer buffer() const { return ByteBuffer(bytes.data(), bytes.size()); }
    std::size_t indexOf(std::uint16_t type, std::uint16_t id) const {
        for (std::size_t i = 0; i < image.resources.size(); ++i)
            if (image.resources[i].type.id == type && image.resources[i].name.id == id) return i;
        return SIZE_MAX;
    }
};

const ByteBuffer* find(const std::vector<pe::ResourceData>& all, std::uint16_t type,
                       std::uint16_t id) {
    for (const pe::ResourceData& r : all)
        if (!r.type.named && r.type.id == type && !r.name.named && r.name.id == id) return &r.bytes;
    return nullptr;
}

// ---- finding ----------------------------------------------------------------------------

TEST(PePictures, AGroupBecomesTheIcoFileItsImagesMake) {
    const ByteBuffer small = dib(16, 16, 4, 1, true);
    const ByteBuffer large = dib(32, 32, 32, 2, true);
    FakeProgram p;
    p.add(3, 1, small);
    p.add(3, 2, large);
    p.add(14, 7, groupDir(1, {{small, 1}, {large, 2}}));
    const auto found = pe::findPictures(p.buffer(), 0, p.image);
    ASSERT_EQ(found.size(), 3u);
    EXPECT_EQ(found[2].kind, pe::PictureKind::GroupIcon);
    EXPECT_EQ(found[2].suffix, "ico");
    EXPECT_EQ(found[2].data, icoFile(1, {small, large}));
    // Each image alone is a one-image icon file.
    EXPECT_EQ(found[0].kind, pe::PictureKind::Icon);
    EXPECT_EQ(found[0].data, icoFile(1, {small}));
}

TEST(PePictures, AGroupPrefersItsOwnLanguageAndSkipsWhatIsMissing) {
    const ByteBuffer english = dib(16, 16, 8, 3, true);
    const ByteBuffer chinese = dib(16, 16, 8, 4, true);
    FakeProgram p;
    p.add(3, 1, english, 1033);
    p.add(3, 1, chinese, 2052);
    p.add(14, 1, groupDir(1, {{chinese, 1}, {chinese, 9}}), 2052);  // no image 9
    const auto found = pe::findPictures(p.buffer(), 0, p.image);
    ASSERT_EQ(found.back().kind, pe::PictureKind::GroupIcon);
    EXPECT_EQ(found.back().data, icoFile(1, {chinese}));
}

TEST(PePictures, CursorsKeepTheirHotSpotInTheFilesDirectory) {
    const ByteBuffer bitmap = dib(32, 32, 1, 5, true);
    FakeProgram p;
    p.add(1, 4, withHotSpot(3, 29, bitmap));
    p.add(12, 1, groupDir(2, {{withHotSpot(3, 29, bitmap), 4}}));
    const auto found = pe::findPictures(p.buffer(), 0, p.image);
    ASSERT_EQ(found.size(), 2u);
    for (const pe::FoundPicture& f : found) {
        EXPECT_EQ(f.suffix, "cur");
        EXPECT_EQ(f.data, icoFile(2, {bitmap}, {{3, 29}}));
    }
}

TEST(PePictures, ABitmapGainsAFileHeaderPointingPastItsPalette) {
    struct Case {
        int bits;
        std::uint32_t pixelsAt;
    };
    for (const Case c : {Case{1, 14 + 40 + 8}, Case{4, 14 + 40 + 64}, Case{8, 14 + 40 + 1024},
                         Case{24, 14 + 40}, Case{32, 14 + 40}}) {
        FakeProgram p;
        const ByteBuffer bitmap = dib(5, 3, c.bits, 6, false);
        p.add(2, 1, bitmap);
        const auto found = pe::findPictures(p.buffer(), 0, p.image);
        ASSERT_EQ(found.size(), 1u) << c.bits;
        const ByteBuffer& bmp = found[0].data;
        EXPECT_EQ(bmp[0], 'B');
        EXPECT_EQ(get32(bmp, 2), bmp.size());
        EXPECT_EQ(get32(bmp, 10), c.pixelsAt) << c.bits;
        EXPECT_EQ(bmp.slice(14, bmp.size()), bitmap);
        const auto decoded = decodeBmp({bmp.data(), bmp.size()});
        ASSERT_TRUE(decoded) << c.bits;
        EXPECT_EQ(decoded->width, 5);
    }
}

TEST(PePictures, PicturesKeptWholeAreFoundByContentAndOtherDataIsNot) {
    FakeProgram p;
    p.add(10, 1, pngFile(4, 4));
    p.add(10, 2, ByteBuffer::fromText("just some text, not a picture"));
    p.add(16, 1, ByteBuffer::fromText("VS_VERSION_INFO and so on"));
    const auto found = pe::findPictures(p.buffer(), 0, p.image);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].kind, pe::PictureKind::Picture);
    EXPECT_EQ(found[0].suffix, "png");
}

TEST(PePictures, DamagedEntriesGiveNothingRatherThanGarbage) {
    FakeProgram p;
    p.add(3, 1, ByteBuffer::fromText("short"));
    p.add(14, 1, ByteBuffer({0, 0, 1, 0, 5, 0}));  // five entries, none there
    p.add(2, 1, ByteBuffer::fromText("no bitmap header here at all, not even close"));
    p.add(1, 1, ByteBuffer::fromText("ab"));
    EXPECT_TRUE(pe::findPictures(p.buffer(), 0, p.image).empty());
}

// Groups are made of other resources: many groups naming one large image many times would
// ask a small file for gigabytes, and one long group shared by many leaves for billions of
// lookups. Both stop at a bound.
TEST(PePictures, HostileGroupsCostBoundedMemoryAndTime) {
    const ByteBuffer large = dib(256, 200, 32, 1, true);  // about 250 KiB
    FakeProgram p;
    p.add(3, 1, large);
    std::vector<std::pair<ByteBuffer, std::uint16_t>> fifty(50, {large, 1});
    std::vector<std::pair<ByteBuffer, std::uint16_t>> hundred(100, {large, 1});
    p.add(14, 1, groupDir(1, hundred));  // 25 MiB: more than one group may be
    for (std::uint16_t g = 2; g < 400; ++g) p.add(14, g, groupDir(1, fifty));  // 12 MiB each
    std::uint64_t composed = 0;
    int groups = 0;
    for (const pe::FoundPicture& f : pe::findPictures(p.buffer(), 0, p.image)) {
        if (f.kind != pe::PictureKind::GroupIcon) continue;
        composed += f.data.size();
        ++groups;
        EXPECT_NE(f.entry->name.id, 1) << "a group of 25 MiB";
    }
    EXPECT_LE(composed, std::uint64_t{260} << 20);
    EXPECT_GE(groups, 15);  // the first groups are still there

    FakeProgram shared;
    shared.add(3, 1, dib(16, 16, 4, 1, true));
    std::vector<std::pair<ByteBuffer, std::uint16_t>> longest(65535, {dib(16, 16, 4, 1, true), 1});
    shared.add(14, 1, groupDir(1, longest));
    for (int i = 0; i < 200; ++i) shared.image.resources.push_back(shared.image.resources.back());
    std::size_t listed = 0;
    for (const pe::FoundPicture& f : pe::findPictures(shared.buffer(), 0, shared.image))
        listed += f.kind == pe::PictureKind::GroupIcon;
    EXPECT_LE(listed, 62u);  // 4,000,000 lookups: 61 groups of 65,535
}

TEST(PePictures, SourcesNameTypeNameAndLanguage) {
    pe::ResourceEntry e;
    e.type = ResourceName::number(14);
    e.name = ResourceName::number(101);
    e.language = ResourceName::number(2052);
    EXPECT_EQ(pe::resourceSource(0, e), "pe:GROUP_ICON/101/2052");
    EXPECT_EQ(pe::resourceSource(0x1A00, e), "pe@0x1A00:GROUP_ICON/101/2052");
    e.type = {true, 0, u"PNG"};
    e.name = {true, 0, u"LOGO"};
    EXPECT_EQ(pe::resourceSource(0, e), "pe:PNG/LOGO/2052");
    e.type = ResourceName::number(23);
    EXPECT_EQ(pe::resourceSource(0, e), "pe:23/LOGO/2052");
}

// ---- replacing --------------------------------------------------------------------------

TEST(PeReplace, AnIconImageTakesTheFilesImageOfItsSizeAndItsGroupsDescribeIt) {
    const ByteBuffer old16 = dib(16, 16, 4, 1, true);
    const ByteBuffer old32 = dib(32, 32, 4, 2, true);
    FakeProgram p;
    p.add(3, 1, old16);
    p.add(3, 2, old32);
    p.add(14, 1, groupDir(1, {{old16, 1}, {old32, 2}}));
    const ByteBuffer new16 = dib(16, 16, 32, 9, true);
    const ByteBuffer new32 = dib(32, 32, 32, 8, true);
    const pe::Conversion c =
        pe::replaceResource(p.buffer(), p.image, p.indexOf(3, 2), icoFile(1, {new16, new32}));
    ASSERT_EQ(c.status, pe::ConvertStatus::Converted);
    EXPECT_EQ(*find(c.resources, 3, 2), new32);
    EXPECT_EQ(*find(c.resources, 3, 1), old16);
    EXPECT_EQ(*find(c.resources, 14, 1), groupDir(1, {{old16, 1}, {new32, 2}}));
}

TEST(PeReplace, AnIconImageTakesAPngAsItIs) {
    const ByteBuffer old = dib(48, 48, 8, 1, true);
    FakeProgram p;
    p.add(3, 1, old);
    p.add(14, 1, groupDir(1, {{old, 1}}));
    const ByteBuffer png = pngFile(256, 256);
    const pe::Conversion c = pe::replaceResource(p.buffer(), p.image, 0, png);
    ASSERT_EQ(c.status, pe::ConvertStatus::Converted);
    EXPECT_EQ(*find(c.resources, 3, 1), png);
    const ByteBuffer& dir = *find(c.resources, 14, 1);
    EXPECT_EQ(dir[6], 0);  // 256 is written 0
    EXPECT_EQ(get16(dir, 6 + 6), 32u);
    EXPECT_EQ(get32(dir, 6 + 8), png.size());
}

TEST(PeReplace, AGroupGetsExactlyTheImagesOfTheFile) {
    const ByteBuffer a = dib(16, 16, 4, 1, true);
    const ByteBuffer b = dib(32, 32, 4, 2, true);
    const ByteBuffer shared = dib(24, 24, 4, 3, true);
    FakeProgram p;
    p.add(3, 1, a);
    p.add(3, 2, b);
    p.add(3, 5, shared);
    p.add(14, 1, groupDir(1, {{a, 1}, {b, 2}, {shared, 5}}));
    p.add(14, 2, groupDir(1, {{shared, 5}}));
    const std::size_t group = p.indexOf(14, 1);

    // More images: the old ids first, then ids after the highest one.
    const ByteBuffer n1 = dib(16, 16, 32, 4, true), n2 = dib(32, 32, 32, 5, true),
                     n3 = dib(48, 48, 32, 6, true), n4 = dib(64, 64, 32, 7, true);
    pe::Conversion more =
        pe::replaceResource(p.buffer(), p.image, group, icoFile(1, {n1, n2, n3, n4}));
    ASSERT_EQ(more.status, pe::ConvertStatus::Converted);
    EXPECT_EQ(*find(more.resources, 14, 1), groupDir(1, {{n1, 1}, {n2, 2}, {n3, 5}, {n4, 6}}));
    EXPECT_EQ(*find(more.resources, 3, 6), n4);
    EXPECT_EQ(*find(more.resources, 3, 5), n3);  // the other group now shows it too

    // Fewer: images no group names any more go, one another group names stays.
    pe::Conversion fewer = pe::replaceResource(p.buffer(), p.image, group, icoFile(1, {n1}));
    ASSERT_EQ(fewer.status, pe::ConvertStatus::Converted);
    EXPECT_EQ(*find(fewer.resources, 14, 1), groupDir(1, {{n1, 1}}));
    EXPECT_EQ(find(fewer.resources, 3, 2), nullptr);
    EXPECT_EQ(*find(fewer.resources, 3, 5), shared);
    EXPECT_EQ(fewer.resources.size(), p.image.resources.size() - 1);
}

TEST(PeReplace, ACursorGroupStoresHotSpotsBeforeItsImages) {
    const ByteBuffer old = dib(32, 32, 1, 1, true);
    FakeProgram p;
    p.add(1, 1, withHotSpot(0, 0, old));
    p.add(12, 1, groupDir(2, {{withHotSpot(0, 0, old), 1}}));
    const ByteBuffer a = dib(32, 32, 1, 2, true), b = dib(48, 48, 32, 3, true);
    const pe::Conversion c = pe::replaceResource(p.buffer(), p.image, p.indexOf(12, 1),
                                                 icoFile(2, {a, b}, {{5, 6}, {7, 8}}));
    ASSERT_EQ(c.status, pe::ConvertStatus::Converted);
    EXPECT_EQ(*find(c.resources, 1, 1), withHotSpot(5, 6, a));
    EXPECT_EQ(*find(c.resources, 1, 2), withHotSpot(7, 8, b));
    EXPECT_EQ(*find(c.resources, 12, 1),
              groupDir(2, {{withHotSpot(5, 6, a), 1}, {withHotSpot(7, 8, b), 2}}));
}

TEST(PeReplace, ABitmapLosesTheFileHeaderAndAnyGapBeforeItsPixels) {
    FakeProgram p;
    p.add(2, 1, dib(4, 4, 24, 1, false));
    const ByteBuffer fresh = dib(6, 2, 8, 2, false);
    std::vector<std::uint8_t> bmp = {'B', 'M', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    // The pixels start 6 bytes after the palette, as some writers place them.
    const std::size_t pixels = 40 + 1024;
    bmp.insert(bmp.end(), fresh.begin(), fresh.begin() + pixels);
    bmp.insert(bmp.end(), 6, 0xAA);
    bmp.insert(bmp.end(), fresh.begin() + pixels, fresh.end());
    put32(bmp, 2, static_cast<std::uint32_t>(bmp.size()));
    put32(bmp, 10, static_cast<std::uint32_t>(14 + pixels + 6));
    const pe::Conversion c =
        pe::replaceResource(p.buffer(), p.image, 0, ByteBuffer(bmp.data(), bmp.size()));
    ASSERT_EQ(c.status, pe::ConvertStatus::Converted);
    EXPECT_EQ(*find(c.resources, 2, 1), fresh);
}

TEST(PeReplace, FilesOfTheWrongFormAreRefused) {
    const ByteBuffer icon = dib(16, 16, 4, 1, true);
    FakeProgram p;
    p.add(3, 1, icon);
    p.add(2, 1, dib(4, 4, 24, 1, false));
    p.add(1, 1, withHotSpot(1, 1, icon));
    const ByteBuffer ico = icoFile(1, {icon});
    const ByteBuffer cur = icoFile(2, {icon}, {{1, 1}});
    struct Case {
        std::uint16_t type;
        ByteBuffer file;
        pe::ConvertStatus status;
    };
    const std::vector<Case> cases = {
        {2, ico, pe::ConvertStatus::WrongForm},            // a bitmap takes no icon
        {3, cur, pe::ConvertStatus::WrongForm},            // an icon takes no cursor
        {1, ico, pe::ConvertStatus::WrongForm},            // a cursor takes no icon
        {1, pngFile(4, 4), pe::ConvertStatus::WrongForm},  // nor a PNG
        {3, ByteBuffer({0, 0, 1, 0, 1, 0, 16, 16}), pe::ConvertStatus::WrongForm},  // cut short
        {3, icoFile(1, {ByteBuffer::fromText("not a bitmap at all, but long enough to be one")}),
         pe::ConvertStatus::Damaged},
    };
    for (const Case& c : cases) {
        const pe::Conversion r =
            pe::replaceResource(p.buffer(), p.image, p.indexOf(c.type, 1), c.file);
        EXPECT_EQ(r.status, c.status) << c.type;
        EXPECT_TRUE(r.resources.empty());
    }
}

// ---- the catalogue's view of a rewritten program ---------------------------------------------

TEST(Catalogue, RewriteRangeMovesSlotsAndContainersAsInsertionsAndRemovalsDo) {
    ResourceCatalogue cat;
    cat.reset(ByteBuffer(std::vector<std::uint8_t>(200).data(), 200));
    const int kind = cat.addKind("K", {}, {});
    cat.append(kind, 10, 20);   // 1: [10, 30) ends where the insertion goes
    cat.append(kind, 30, 10);   // 2: starts there
    cat.append(kind, 0, 100);   // 3: around it
    cat.append(kind, 120, 10);  // 4: inside the removal
    cat.append(kind, 150, 10);  // 5: after the removal
    const int program = cat.addContainer({0, 100});
    cat.rewriteRange(30, 0, 16);  // 16 bytes inserted at 30
    EXPECT_EQ(cat.slot(1).offset, 10);
    EXPECT_EQ(cat.slot(1).length, 20);
    EXPECT_EQ(cat.slot(2).offset, 46);
    EXPECT_EQ(cat.slot(3).length, 116);
    EXPECT_EQ(cat.container(program).length, 116);
    cat.rewriteRange(130, 20, 0);  // bytes [130, 150) of the new copy removed
    EXPECT_TRUE(cat.overwritten(4));
    EXPECT_EQ(cat.slot(5).offset, 146);
    for (int n : {1, 2, 3, 5}) EXPECT_FALSE(cat.overwritten(n)) << n;
}

TEST(Catalogue, ResourcesFoundByStructureCarryTheirOriginAndData) {
    ResourceCatalogue cat;
    cat.reset(ByteBuffer::fromText("0123456789"));
    const int sig = cat.addKind("SIG", ByteBuffer::fromText("0"), {});
    cat.append(sig, 0, 4);
    const int icons = cat.addKind("ICONS", {}, {});
    const int program = cat.addContainer({0, 10});
    pe::ResourceName id = pe::ResourceName::number(3);
    cat.appendFound(icons, 5, 3, ByteBuffer::fromText("composed"),
                    {program, "pe:ICON/3/1033", "ico", true, id, id, id, {}, 0, -1});
    EXPECT_EQ(cat.origin(1), nullptr);
    ASSERT_NE(cat.origin(2), nullptr);
    EXPECT_EQ(cat.origin(2)->source, "pe:ICON/3/1033");
    EXPECT_EQ(cat.data(2), ByteBuffer::fromText("composed"));
    EXPECT_EQ(cat.dataLength(2), 8);
    EXPECT_EQ(cat.slot(2).offset, 5);
    cat.markOverwritten(2);
    cat.refreshFound(2, {7, 2}, ByteBuffer::fromText("new"));
    EXPECT_FALSE(cat.overwritten(2));
    EXPECT_EQ(cat.slot(2).offset, 7);
    EXPECT_EQ(cat.data(2), ByteBuffer::fromText("new"));
    // A replaced signature resource owns its data without becoming one found by structure.
    cat.replaceData(1, ByteBuffer::fromText("x"));
    EXPECT_EQ(cat.origin(1), nullptr);
}

}  // namespace kerbilo::testing::pe_pictures_tests
