#pragma once
// The pictures of a Windows program, as the files a user knows: its icon groups and icons as
// .ico files, its cursors as .cur, its bitmaps as .bmp (each with the directory or file
// header the program does not store), and the PNG, JPEG, GIF and BMP files it keeps whole
// in RCDATA or a type of its own. And the other way: such a file turned into what the
// program stores, for a replacement.

#include <cstdint>
#include <optional>
#include <vector>

#include "runtime/byte_buffer.h"
#include "scan/pe_image.h"

namespace kerbilo::pe {

// The kinds a program's pictures are listed under, in the order they are listed.
enum class PictureKind { GroupIcon, Icon, GroupCursor, Cursor, Bitmap, Picture };
inline constexpr int kPictureKindCount = 6;

// The kind's name in the tree and the listings (GBK): "图标资源", "图标图像资源",
// "光标资源", "光标图像资源", "位图资源", "图片资源".
const Text& pictureKindName(PictureKind kind);

struct FoundPicture {
    PictureKind kind = PictureKind::Picture;
    const ResourceEntry* entry = nullptr;  // in the image read
    ByteBuffer data;                       // the file it is: .ico, .cur, .bmp, .png, …
    Text suffix;                           // "ico", "cur", "bmp", "png", "jpg", "gif"
};

// Every picture among the image's resources, in directory order; image was read from
// bytes[imageOffset, …), and data views those bytes where it is stored whole.
std::vector<FoundPicture> findPictures(const ByteBuffer& bytes, std::int64_t imageOffset,
                                       const Image& image);

// "pe:ICON/1/1033", or "pe@0x1A00:ICON/1/1033" for an image at 0x1A00 of the opened bytes
// (GBK; a named id as its name).
Text resourceSource(std::int64_t imageOffset, const ResourceEntry& entry);

// ---- replacing ------------------------------------------------------------------------

enum class ConvertStatus {
    Converted,
    WrongForm,  // not a file this resource can take (an .ico for a bitmap, say)
    Damaged,    // the file's own structure does not hold together
};

// The image's resources with the one at `target` (an index into image.resources)
// replaced by the file `replacement`:
// - an icon (or cursor) image takes the image of a one-image .ico (.cur) file, or of the
//   entry of a larger file that has its size, or a PNG file as it is; every group naming
//   it describes the new image;
// - an icon (cursor) group takes every image of the .ico (.cur) file: its images keep their
//   ids in order, further ones get new ids, and images no group names any more are
//   dropped;
// - a bitmap takes a .bmp file without its file header;
// - anything else takes the file as it is.
struct Conversion {
    ConvertStatus status = ConvertStatus::Converted;
    std::vector<ResourceData> resources;
};
Conversion replaceResource(const ByteBuffer& imageBytes, const Image& image, std::size_t target,
                           const ByteBuffer& replacement);

}  // namespace kerbilo::pe
