#include "picture/walk_detail.h"

namespace kerbilo {

using namespace walk_detail;
using picture_detail::le16;

namespace {

constexpr std::uint64_t kPcxHeader = 128;

// PCX has no end marker or length field (the 256-colour palette sits in the file's last
// 769 bytes, wherever that is), so only its header is read for what it tells.
PictureWalk readPcxHeader(Bytes data) {
    PictureWalk walk;
    walk.end = WalkEnd::NoWalker;
    if (!fits(data, 0, kPcxHeader)) return walk;
    const int width = le16(data, 8) - le16(data, 4) + 1;
    const int height = le16(data, 10) - le16(data, 6) + 1;
    if (width > 0 && height > 0) {
        walk.width = width;
        walk.height = height;
    }
    walk.bitsPerPixel = data[3] * data[65];
    walk.frames = 1;
    return walk;
}

}  // namespace

PictureWalk walkPicture(PictureFormat format, Bytes data) noexcept {
    switch (format) {
        case PictureFormat::Png:
            return walkPng(data);
        case PictureFormat::Jpeg:
            return walkJpeg(data);
        case PictureFormat::Gif:
            return walkGif(data);
        case PictureFormat::Bmp:
            return walkBmp(data);
        case PictureFormat::Ico:
        case PictureFormat::Cur:
            return walkIcon(data);
        case PictureFormat::Pcx256:
        case PictureFormat::PcxMono:
            return readPcxHeader(data);
        case PictureFormat::None:
            break;
    }
    return broken(PictureWalk{}, 0, Reason::NotRecognised);
}

}  // namespace kerbilo
