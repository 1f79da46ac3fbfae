#include "scan/pe_pictures.h"

#include <algorithm>
#include <unordered_map>

#include "config/hex_codec.h"
#include "picture/byte_reader.h"
#include "picture/decoders.h"
#include "picture/icon_layout.h"
#include "picture/picture_format.h"
#include "runtime/byte_ops.h"
#include "runtime/gbk.h"

namespace kerbilo::pe {
namespace {

using picture_detail::fits;
using picture_detail::le16;
using picture_detail::le32;
using picture_detail::u8;

KERBILO_GBK_TEXT(groupIconKind, "图标资源")
KERBILO_GBK_TEXT(iconKind, "图标图像资源")
KERBILO_GBK_TEXT(groupCursorKind, "光标资源")
KERBILO_GBK_TEXT(cursorKind, "光标图像资源")
KERBILO_GBK_TEXT(bitmapKind, "位图资源")
KERBILO_GBK_TEXT(pictureKind, "图片资源")

// A group's directory: the ICO header's six bytes, then 14-byte entries whose last field is
// the id of the icon (cursor) resource instead of a file offset.
constexpr std::uint64_t kGroupEntrySize = 14;
constexpr std::uint64_t kGroupEntryIdAt = 12;
// A cursor resource starts with its hot spot, two 16-bit words, before the bitmap.
constexpr std::uint64_t kHotSpotSize = 4;
constexpr std::uint64_t kBmpFileHeaderSize = 14;

Bytes spanOf(const ByteBuffer& b) {
    return {b.data(), b.size()};
}

void putLe16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void putLe32(std::uint8_t* p, std::uint32_t v) {
    putLe16(p, v & 0xFFFF);
    putLe16(p + 2, v >> 16);
}

// One image as an ICO or CUR directory entry describes it.
struct IconImage {
    std::uint8_t width = 0;  // 0 means 256
    std::uint8_t height = 0;
    std::uint8_t colours = 0;
    std::uint8_t reserved = 0;
    std::uint16_t planes = 0;    // a cursor's hot spot x
    std::uint16_t bitCount = 0;  // a cursor's hot spot y
    ByteBuffer data;
};

bool isPng(Bytes d) {
    return d.size() >= 24 && std::equal(d.begin(), d.begin() + 8, picture_detail::kPngSignature);
}

std::uint8_t sizeByte(std::uint32_t size) {
    return size >= 256 ? 0 : static_cast<std::uint8_t>(size);
}

// The sizes the bitmap info header has had, from the first to version 5, and the depths a
// bitmap can have: anything else is not a bitmap, whatever its first word says.
bool knownHeaderSize(std::uint32_t size) {
    return size == 12 || size == 40 || size == 52 || size == 56 || size == 64 || size == 108 ||
           size == 124;
}
bool knownBitCount(std::uint32_t bits) {
    return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

// What the image data itself says of its size and depth: a PNG's header, or the bitmap's
// (whose height counts the mask too).
std::optional<IconImage> describeImage(const ByteBuffer& data) {
    const Bytes d = spanOf(data);
    IconImage image;
    image.data = data;
    image.planes = 1;
    if (isPng(d)) {
        const std::uint32_t w = (std::uint32_t{d[16]} << 24) | (std::uint32_t{d[17]} << 16) |
                                (std::uint32_t{d[18]} << 8) | d[19];
        const std::uint32_t h = (std::uint32_t{d[20]} << 24) | (std::uint32_t{d[21]} << 16) |
                                (std::uint32_t{d[22]} << 8) | d[23];
        image.width = sizeByte(w);
        image.height = sizeByte(h);
        image.bitCount = 32;
        return image;
    }
    if (!fits(d, 0, 40) || le32(d, 0) < 40 || !knownHeaderSize(le32(d, 0)) ||
        !knownBitCount(le16(d, 14)))
        return std::nullopt;
    const auto w = static_cast<std::int32_t>(le32(d, 4));
    const auto h = static_cast<std::int32_t>(le32(d, 8));
    if (w <= 0 || h <= 0) return std::nullopt;
    image.width = sizeByte(static_cast<std::uint32_t>(w));
    image.height = sizeByte(static_cast<std::uint32_t>(h / 2));
    image.bitCount = le16(d, 14);
    if (image.bitCount < 8) image.colours = static_cast<std::uint8_t>(1u << image.bitCount);
    return image;
}

// An ICO (type 1) or CUR (type 2) file of the images.
ByteBuffer composeIconFile(std::uint16_t type, const std::vector<IconImage>& images) {
    std::size_t total = ico::kHeaderSize + images.size() * ico::kEntrySize;
    for (const IconImage& i : images) total += i.data.size();
    ByteBuffer file = ByteBuffer::uninitialized(total);
    if (file.size() != total) return {};
    std::uint8_t* p = file.mutableData();
    putLe16(p, 0);
    putLe16(p + ico::kTypeAt, type);
    putLe16(p + ico::kCountAt, static_cast<std::uint32_t>(images.size()));
    std::size_t offset = ico::kHeaderSize + images.size() * ico::kEntrySize;
    for (std::size_t k = 0; k < images.size(); ++k) {
        const IconImage& i = images[k];
        std::uint8_t* e = p + ico::entryAt(k);
        e[0] = i.width;
        e[1] = i.height;
        e[2] = i.colours;
        e[3] = i.reserved;
        putLe16(e + 4, i.planes);
        putLe16(e + 6, i.bitCount);
        putLe32(e + ico::kEntryBytesAt, static_cast<std::uint32_t>(i.data.size()));
        putLe32(e + ico::kEntryOffsetAt, static_cast<std::uint32_t>(offset));
        std::copy(i.data.begin(), i.data.end(), p + offset);
        offset += i.data.size();
    }
    return file;
}

// The images of an ICO or CUR file of that type; nothing when its directory does not hold
// together.
std::optional<std::vector<IconImage>> readIconFile(const ByteBuffer& file, std::uint16_t type) {
    const Bytes d = spanOf(file);
    if (!fits(d, 0, ico::kHeaderSize) || le16(d, ico::kReservedAt) != 0 ||
        le16(d, ico::kTypeAt) != type)
        return std::nullopt;
    const std::uint16_t count = le16(d, ico::kCountAt);
    if (count == 0 || !fits(d, 0, ico::entryAt(count))) return std::nullopt;
    std::vector<IconImage> images;
    for (std::uint16_t k = 0; k < count; ++k) {
        const std::uint64_t e = ico::entryAt(k);
        const std::uint32_t bytes = le32(d, e + ico::kEntryBytesAt);
        const std::uint32_t offset = le32(d, e + ico::kEntryOffsetAt);
        if (bytes == 0 || !fits(d, offset, bytes)) return std::nullopt;
        images.push_back({u8(d, e), u8(d, e + 1), u8(d, e + 2), u8(d, e + 3), le16(d, e + 4),
                          le16(d, e + 6), file.slice(offset, bytes)});
    }
    return images;
}

// Where a bitmap's pixels start after its header, colour masks and palette, counted from
// the header's first byte; 0 when the header is not one of a bitmap.
std::uint64_t dibPixelsAt(Bytes d) {
    const std::uint32_t header = le32(d, 0);
    if (!knownHeaderSize(header)) return 0;
    if (header == 12) {
        if (!fits(d, 0, 12)) return 0;
        const std::uint16_t bits = le16(d, 10);
        if (!knownBitCount(bits)) return 0;
        return 12 + (bits <= 8 ? 3ull << bits : 0);
    }
    if (!fits(d, 0, 40)) return 0;
    const std::uint16_t bits = le16(d, 14);
    if (!knownBitCount(bits)) return 0;
    const std::uint32_t compression = le32(d, 16);
    const std::uint64_t used = le32(d, 32);
    const std::uint64_t palette = used != 0 ? used : (bits <= 8 ? 1ull << bits : 0);
    std::uint64_t masks = 0;
    if (header == 40 && compression == 3) masks = 12;  // BI_BITFIELDS
    if (header == 40 && compression == 6) masks = 16;  // BI_ALPHABITFIELDS
    return header + masks + std::min<std::uint64_t>(palette, 1u << 16) * 4;
}

ByteBuffer composeBmpFile(const ByteBuffer& dib) {
    const std::uint64_t pixels = dibPixelsAt(spanOf(dib));
    if (pixels == 0) return {};
    const std::size_t total = kBmpFileHeaderSize + dib.size();
    ByteBuffer file = ByteBuffer::uninitialized(total);
    if (file.size() != total) return {};
    std::uint8_t* p = file.mutableData();
    p[0] = 'B';
    p[1] = 'M';
    putLe32(p + 2, static_cast<std::uint32_t>(total));
    putLe32(p + 6, 0);
    putLe32(p + 10, static_cast<std::uint32_t>(kBmpFileHeaderSize +
                                               std::min<std::uint64_t>(pixels, dib.size())));
    std::copy(dib.begin(), dib.end(), p + kBmpFileHeaderSize);
    return file;
}

bool isNumber(const ResourceName& n, std::uint16_t id) {
    return !n.named && n.id == id;
}

// The icon (cursor) images by id, for groups to find theirs.
class ImagesById {
  public:
    ImagesById(const Image& image, std::uint16_t type) {
        for (std::size_t i = 0; i < image.resources.size(); ++i) {
            const ResourceEntry& e = image.resources[i];
            if (isNumber(e.type, type) && !e.name.named) byId_.emplace(e.name.id, i);
        }
    }
    // The image of that id in the language, else in any language. A hostile directory may
    // repeat an id without end: only the first few of an id are looked at.
    std::optional<std::size_t> find(const Image& image, std::uint16_t id,
                                    const ResourceName& language) const {
        const auto [from, to] = byId_.equal_range(id);
        std::optional<std::size_t> any;
        int looked = 0;
        for (auto it = from; it != to && looked < 64; ++it, ++looked) {
            if (image.resources[it->second].language == language) return it->second;
            if (!any || it->second < *any) any = it->second;
        }
        return any;
    }

  private:
    std::unordered_multimap<std::uint16_t, std::size_t> byId_;
};

ByteBuffer entryData(const ByteBuffer& bytes, std::int64_t imageOffset, const ResourceEntry& e) {
    return bytes.slice(static_cast<std::size_t>(imageOffset + e.dataOffset), e.size);
}

// What composing groups may cost in one program. Groups are files made of other resources,
// so a hostile directory can make a small file ask for gigabytes (many groups naming one
// large image, thousands of times each) or for billions of lookups; a real program's
// groups come nowhere near these.
struct GroupBudget {
    std::uint64_t entries = 4'000'000;               // group entries looked up, all groups
    std::uint64_t bytes = std::uint64_t{256} << 20;  // bytes composed, all groups
    static constexpr std::uint64_t kGroupBytes = std::uint64_t{16} << 20;  // one group
};

// A group's images as its directory describes them, each found by id; nothing once the
// budget is spent.
ByteBuffer composeGroup(const ByteBuffer& bytes, std::int64_t imageOffset, const Image& image,
                        const ResourceEntry& group, const ImagesById& byId, bool cursors,
                        GroupBudget& budget) {
    const ByteBuffer dir = entryData(bytes, imageOffset, group);
    const Bytes d = spanOf(dir);
    const std::uint16_t type = cursors ? ico::kTypeCursor : ico::kTypeIcon;
    if (!fits(d, 0, ico::kHeaderSize) || le16(d, ico::kTypeAt) != type) return {};
    const std::uint16_t count = le16(d, ico::kCountAt);
    if (count > budget.entries) return {};
    budget.entries -= count;
    std::vector<IconImage> images;
    std::uint64_t total = 0;
    for (std::uint16_t k = 0; k < count; ++k) {
        const std::uint64_t e = ico::kHeaderSize + k * kGroupEntrySize;
        if (!fits(d, e, kGroupEntrySize)) break;
        const auto found = byId.find(image, le16(d, e + kGroupEntryIdAt), group.language);
        if (!found) continue;
        total += image.resources[*found].size;
        if (total > GroupBudget::kGroupBytes || total > budget.bytes) return {};
        ByteBuffer data = entryData(bytes, imageOffset, image.resources[*found]);
        if (!cursors) {
            images.push_back({u8(d, e), u8(d, e + 1), u8(d, e + 2), u8(d, e + 3), le16(d, e + 4),
                              le16(d, e + 6), std::move(data)});
            continue;
        }
        // A cursor's entry has 16-bit sizes, the height counting the mask; the hot spot is
        // the image's own and goes into the file's entry.
        if (data.size() <= kHotSpotSize) continue;
        const Bytes c = spanOf(data);
        images.push_back({sizeByte(le16(d, e)), sizeByte(le16(d, e + 2) / 2u), 0, 0, le16(c, 0),
                          le16(c, 2), data.slice(kHotSpotSize, data.size() - kHotSpotSize)});
    }
    if (images.empty()) return {};
    budget.bytes -= total;
    return composeIconFile(type, images);
}

ByteBuffer composeSingle(const ByteBuffer& data, bool cursor) {
    if (!cursor) {
        const auto image = describeImage(data);
        return image ? composeIconFile(ico::kTypeIcon, {*image}) : ByteBuffer{};
    }
    if (data.size() <= kHotSpotSize) return {};
    auto image = describeImage(data.slice(kHotSpotSize, data.size() - kHotSpotSize));
    if (!image) return {};
    image->colours = 0;
    image->planes = le16(spanOf(data), 0);
    image->bitCount = le16(spanOf(data), 2);
    return composeIconFile(ico::kTypeCursor, {*image});
}

const char* pictureSuffix(PictureFormat format) {
    switch (format) {
        case PictureFormat::Png:
            return "png";
        case PictureFormat::Jpeg:
            return "jpg";
        case PictureFormat::Gif:
            return "gif";
        case PictureFormat::Bmp:
            return "bmp";
        default:
            return nullptr;
    }
}

Text utf16ToText(const std::u16string& s) {
    std::string utf8;
    for (std::size_t i = 0; i < s.size(); ++i) {
        std::uint32_t c = s[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
            s[i + 1] < 0xE000)
            c = 0x10000 + ((c - 0xD800) << 10) + (s[++i] - 0xDC00);
        else if (c >= 0xD800 && c < 0xE000)
            c = 0xFFFD;
        if (c < 0x80) {
            utf8 += static_cast<char>(c);
        } else if (c < 0x800) {
            utf8 += static_cast<char>(0xC0 | (c >> 6));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            utf8 += static_cast<char>(0xE0 | (c >> 12));
            utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            utf8 += static_cast<char>(0xF0 | (c >> 18));
            utf8 += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            utf8 += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            utf8 += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return utf8ToGbk(utf8);
}

Text nameText(const ResourceName& n) {
    return n.named ? utf16ToText(n.name) : intToText(n.id);
}

Text typeText(const ResourceName& t) {
    if (t.named) return utf16ToText(t.name);
    switch (t.id) {
        case kTypeCursor:
            return "CURSOR";
        case kTypeBitmap:
            return "BITMAP";
        case kTypeIcon:
            return "ICON";
        case kTypeRcData:
            return "RCDATA";
        case kTypeGroupCursor:
            return "GROUP_CURSOR";
        case kTypeGroupIcon:
            return "GROUP_ICON";
        default:
            return intToText(t.id);
    }
}

}  // namespace

const Text& pictureKindName(PictureKind kind) {
    switch (kind) {
        case PictureKind::GroupIcon:
            return groupIconKind();
        case PictureKind::Icon:
            return iconKind();
        case PictureKind::GroupCursor:
            return groupCursorKind();
        case PictureKind::Cursor:
            return cursorKind();
        case PictureKind::Bitmap:
            return bitmapKind();
        case PictureKind::Picture:
            break;
    }
    return pictureKind();
}

Text resourceSource(std::int64_t imageOffset, const ResourceEntry& entry) {
    Text at = imageOffset == 0 ? Text("pe:") : concatText({"pe@0x", formatHex(imageOffset), ":"});
    return concatText(
        {at, typeText(entry.type), "/", nameText(entry.name), "/", nameText(entry.language)});
}

std::vector<FoundPicture> findPictures(const ByteBuffer& bytes, std::int64_t imageOffset,
                                       const Image& image) {
    const ImagesById icons(image, kTypeIcon);
    const ImagesById cursors(image, kTypeCursor);
    GroupBudget budget;
    std::vector<FoundPicture> found;
    for (const ResourceEntry& e : image.resources) {
        FoundPicture p;
        p.entry = &e;
        const ByteBuffer data = entryData(bytes, imageOffset, e);
        const std::uint16_t type = e.type.named ? 0 : e.type.id;
        switch (type) {
            case kTypeGroupIcon:
                p = {PictureKind::GroupIcon, &e,
                     composeGroup(bytes, imageOffset, image, e, icons, false, budget), "ico"};
                break;
            case kTypeIcon:
                p = {PictureKind::Icon, &e, composeSingle(data, false), "ico"};
                break;
            case kTypeGroupCursor:
                p = {PictureKind::GroupCursor, &e,
                     composeGroup(bytes, imageOffset, image, e, cursors, true, budget), "cur"};
                break;
            case kTypeCursor:
                p = {PictureKind::Cursor, &e, composeSingle(data, true), "cur"};
                break;
            case kTypeBitmap:
                p = {PictureKind::Bitmap, &e, composeBmpFile(data), "bmp"};
                break;
            default:
                if (const char* suffix = pictureSuffix(recognisePicture(spanOf(data))))
                    p = {PictureKind::Picture, &e, data, suffix};
                break;
        }
        if (!p.data.empty()) found.push_back(std::move(p));
    }
    return found;
}

// ---- replacing ------------------------------------------------------------------------

namespace {

std::vector<ResourceData> currentResources(const ByteBuffer& imageBytes, const Image& image) {
    std::vector<ResourceData> all;
    all.reserve(image.resources.size());
    for (const ResourceEntry& e : image.resources)
        all.push_back({e.type, e.name, e.language, e.codePage, entryData(imageBytes, 0, e)});
    return all;
}

// The images a replacement file gives an icon (cursor) resource: an ICO (CUR) file's, or a
// PNG file as one icon image.
std::optional<std::vector<IconImage>> replacementImages(const ByteBuffer& file, bool cursors) {
    if (!cursors && isPng(spanOf(file))) {
        auto image = describeImage(file);
        if (!image) return std::nullopt;
        return std::vector<IconImage>{*image};
    }
    return readIconFile(file, cursors ? ico::kTypeCursor : ico::kTypeIcon);
}

// The image as the program stores it: a cursor's hot spot goes before its bitmap.
ByteBuffer storedImage(const IconImage& image, bool cursors) {
    if (!cursors) return image.data;
    std::uint8_t spot[kHotSpotSize];
    putLe16(spot, image.planes);
    putLe16(spot + 2, image.bitCount);
    return concatBytes({ByteBuffer(spot, sizeof spot), image.data});
}

// A group entry's fields for the image (14 bytes, id last).
void writeGroupEntry(std::uint8_t* e, const IconImage& image, std::uint16_t id, bool cursors) {
    const auto described = describeImage(image.data);
    if (!cursors) {
        e[0] = image.width;
        e[1] = image.height;
        e[2] = image.colours;
        e[3] = 0;
        // Some writers leave planes and depth at zero in a file's entry; the group is what
        // the system picks an image by, so it gets the image's own.
        putLe16(e + 4, image.planes != 0 ? image.planes : 1);
        putLe16(e + 6,
                image.bitCount != 0 ? image.bitCount : (described ? described->bitCount : 0));
        putLe32(e + 8, static_cast<std::uint32_t>(image.data.size()));
    } else {
        const std::uint32_t w = image.width == 0 ? 256 : image.width;
        const std::uint32_t h = image.height == 0 ? 256 : image.height;
        putLe16(e, w);
        putLe16(e + 2, h * 2);
        putLe16(e + 4, 1);
        putLe16(e + 6, described ? described->bitCount : 0);
        putLe32(e + 8, static_cast<std::uint32_t>(image.data.size() + kHotSpotSize));
    }
    putLe16(e + kGroupEntryIdAt, id);
}

std::vector<std::uint16_t> groupIds(const ByteBuffer& dir) {
    const Bytes d = spanOf(dir);
    std::vector<std::uint16_t> ids;
    const std::uint16_t count = le16(d, ico::kCountAt);
    for (std::uint16_t k = 0; k < count; ++k) {
        const std::uint64_t e = ico::kHeaderSize + k * kGroupEntrySize;
        if (!fits(d, e, kGroupEntrySize)) break;
        ids.push_back(le16(d, e + kGroupEntryIdAt));
    }
    return ids;
}

Conversion replaceImage(std::vector<ResourceData> all, std::size_t target,
                        const ByteBuffer& replacement, bool cursors) {
    const auto images = replacementImages(replacement, cursors);
    if (!images) return {ConvertStatus::WrongForm, {}};
    // A file of several images gives the one of the size the old image had.
    const auto old =
        describeImage(cursors && all[target].bytes.size() > kHotSpotSize
                          ? all[target].bytes.slice(kHotSpotSize, all[target].bytes.size())
                          : all[target].bytes);
    const IconImage* chosen = &images->front();
    for (const IconImage& i : *images)
        if (old && i.width == old->width && i.height == old->height) {
            chosen = &i;
            break;
        }
    if (!describeImage(chosen->data)) return {ConvertStatus::Damaged, {}};
    all[target].bytes = storedImage(*chosen, cursors);
    if (all[target].name.named) return {ConvertStatus::Converted, std::move(all)};
    const std::uint16_t id = all[target].name.id;
    const std::uint16_t groupType = cursors ? kTypeGroupCursor : kTypeGroupIcon;
    for (ResourceData& r : all) {
        if (!isNumber(r.type, groupType)) continue;
        const std::vector<std::uint16_t> ids = groupIds(r.bytes);
        if (std::find(ids.begin(), ids.end(), id) == ids.end()) continue;
        ByteBuffer dir = r.bytes;
        std::uint8_t* p = dir.mutableData();
        for (std::size_t k = 0; k < ids.size(); ++k)
            if (ids[k] == id)
                writeGroupEntry(p + ico::kHeaderSize + k * kGroupEntrySize, *chosen, id, cursors);
        r.bytes = std::move(dir);
    }
    return {ConvertStatus::Converted, std::move(all)};
}

Conversion replaceGroup(std::vector<ResourceData> all, std::size_t target,
                        const ByteBuffer& replacement, bool cursors) {
    const auto images = replacementImages(replacement, cursors);
    if (!images) return {ConvertStatus::WrongForm, {}};
    for (const IconImage& i : *images)
        if (!describeImage(i.data)) return {ConvertStatus::Damaged, {}};
    const std::uint16_t imageType = cursors ? kTypeCursor : kTypeIcon;
    const std::uint16_t groupType = cursors ? kTypeGroupCursor : kTypeGroupIcon;
    const ResourceName language = all[target].language;
    const std::vector<std::uint16_t> oldIds = groupIds(all[target].bytes);
    std::uint32_t nextId = 1;
    for (const ResourceData& r : all)
        if (isNumber(r.type, imageType) && !r.name.named)
            nextId = std::max<std::uint32_t>(nextId, r.name.id + 1u);
    std::vector<std::uint16_t> ids;
    for (std::size_t k = 0; k < images->size(); ++k) {
        if (k < oldIds.size() && std::count(ids.begin(), ids.end(), oldIds[k]) == 0) {
            ids.push_back(oldIds[k]);
        } else {
            if (nextId > 0xFFFF) return {ConvertStatus::Damaged, {}};
            ids.push_back(static_cast<std::uint16_t>(nextId++));
        }
    }
    const std::size_t dirSize = ico::kHeaderSize + images->size() * kGroupEntrySize;
    ByteBuffer dir = ByteBuffer::uninitialized(dirSize);
    if (dir.size() != dirSize) return {ConvertStatus::Damaged, {}};
    std::uint8_t* p = dir.mutableData();
    putLe16(p, 0);
    putLe16(p + ico::kTypeAt, cursors ? ico::kTypeCursor : ico::kTypeIcon);
    putLe16(p + ico::kCountAt, static_cast<std::uint32_t>(images->size()));
    for (std::size_t k = 0; k < images->size(); ++k)
        writeGroupEntry(p + ico::kHeaderSize + k * kGroupEntrySize, (*images)[k], ids[k], cursors);
    all[target].bytes = std::move(dir);

    // Which ids other groups still name: their images stay.
    std::vector<std::uint16_t> named;
    for (std::size_t i = 0; i < all.size(); ++i)
        if (i != target && isNumber(all[i].type, groupType))
            for (std::uint16_t id : groupIds(all[i].bytes)) named.push_back(id);
    const auto wanted = [&](std::uint16_t id) {
        return std::find(ids.begin(), ids.end(), id) != ids.end();
    };
    std::vector<ResourceData> result;
    std::vector<bool> placed(ids.size(), false);
    for (ResourceData& r : all) {
        if (isNumber(r.type, imageType) && !r.name.named) {
            const std::uint16_t id = r.name.id;
            const bool ours = std::find(oldIds.begin(), oldIds.end(), id) != oldIds.end();
            if (wanted(id)) {
                // The group's image of that id: in its language, or the only one there is.
                const std::size_t k =
                    static_cast<std::size_t>(std::find(ids.begin(), ids.end(), id) - ids.begin());
                if (r.language == language || !placed[k]) {
                    r.bytes = storedImage((*images)[k], cursors);
                    placed[k] = true;
                }
            } else if (ours && std::find(named.begin(), named.end(), id) == named.end()) {
                continue;  // no group names it any more
            }
        }
        result.push_back(std::move(r));
    }
    for (std::size_t k = 0; k < ids.size(); ++k)
        if (!placed[k])
            result.push_back({ResourceName::number(imageType), ResourceName::number(ids[k]),
                              language, 0, storedImage((*images)[k], cursors)});
    return {ConvertStatus::Converted, std::move(result)};
}

// A PNG picture as a bitmap: 24 bits a pixel when it is opaque, else 32 with its alpha,
// rows bottom-up as a bitmap's are.
std::optional<ByteBuffer> bitmapOfPng(const ByteBuffer& file) {
    const Decoded png = decodePng(spanOf(file));
    if (!png) return std::nullopt;
    const kerbilo::Image& image = *png;
    bool opaque = true;
    for (const Pixel p : image.pixels) opaque = opaque && pixelAlpha(p) == 255;
    const int bits = opaque ? 24 : 32;
    const std::size_t row = ((static_cast<std::size_t>(image.width) * bits + 31) / 32) * 4;
    const std::size_t total = 40 + row * static_cast<std::size_t>(image.height);
    ByteBuffer dib = ByteBuffer::uninitialized(total);
    if (dib.size() != total) return std::nullopt;
    std::uint8_t* p = dib.mutableData();
    std::fill(p, p + total, 0);
    putLe32(p, 40);
    putLe32(p + 4, static_cast<std::uint32_t>(image.width));
    putLe32(p + 8, static_cast<std::uint32_t>(image.height));
    putLe16(p + 12, 1);
    putLe16(p + 14, static_cast<std::uint32_t>(bits));
    putLe32(p + 20, static_cast<std::uint32_t>(row * static_cast<std::size_t>(image.height)));
    for (int y = 0; y < image.height; ++y) {
        std::uint8_t* out = p + 40 + row * static_cast<std::size_t>(image.height - 1 - y);
        for (int x = 0; x < image.width; ++x) {
            const Pixel px = image.at(x, y);
            *out++ = static_cast<std::uint8_t>(pixelBlue(px));
            *out++ = static_cast<std::uint8_t>(pixelGreen(px));
            *out++ = static_cast<std::uint8_t>(pixelRed(px));
            if (bits == 32) *out++ = static_cast<std::uint8_t>(pixelAlpha(px));
        }
    }
    return dib;
}

// A .bmp file's bitmap as a program stores it: without the file header, the pixels right
// after the palette; a PNG picture drawn as a bitmap.
std::optional<ByteBuffer> storedBitmap(const ByteBuffer& file) {
    const Bytes d = spanOf(file);
    if (isPng(d)) return bitmapOfPng(file);
    if (d.size() <= kBmpFileHeaderSize || d[0] != 'B' || d[1] != 'M') return std::nullopt;
    ByteBuffer dib = file.slice(kBmpFileHeaderSize, file.size() - kBmpFileHeaderSize);
    const std::uint64_t pixels = dibPixelsAt(spanOf(dib));
    const std::uint64_t offBits = le32(d, 10);
    if (pixels == 0 || pixels > dib.size()) return std::nullopt;
    if (offBits > kBmpFileHeaderSize + pixels && offBits < file.size())
        return concatBytes({dib.slice(0, pixels), file.slice(offBits, file.size() - offBits)});
    return dib;
}

}  // namespace

Conversion replaceResource(const ByteBuffer& imageBytes, const Image& image, std::size_t target,
                           const ByteBuffer& replacement) {
    std::vector<ResourceData> all = currentResources(imageBytes, image);
    const ResourceName& type = all[target].type;
    const std::uint16_t id = type.named ? 0 : type.id;
    switch (id) {
        case kTypeIcon:
            return replaceImage(std::move(all), target, replacement, false);
        case kTypeCursor:
            return replaceImage(std::move(all), target, replacement, true);
        case kTypeGroupIcon:
            return replaceGroup(std::move(all), target, replacement, false);
        case kTypeGroupCursor:
            return replaceGroup(std::move(all), target, replacement, true);
        case kTypeBitmap: {
            auto dib = storedBitmap(replacement);
            if (!dib) return {ConvertStatus::WrongForm, {}};
            all[target].bytes = std::move(*dib);
            return {ConvertStatus::Converted, std::move(all)};
        }
        default:
            all[target].bytes = replacement;
            return {ConvertStatus::Converted, std::move(all)};
    }
}

}  // namespace kerbilo::pe
