#include <cstring>

#include "picture/byte_reader.h"
#include "picture/icon_layout.h"
#include "picture/picture_format.h"

namespace kerbilo {

using namespace picture_detail;

PictureFormat recognisePicture(Bytes data) noexcept {
    if (data.size() < 8) return PictureFormat::None;
    const std::uint8_t* d = data.data();
    if (d[0] == 0x42 && d[1] == 0x4D) return PictureFormat::Bmp;
    if (d[0] == 0xFF && d[1] == 0xD8) return PictureFormat::Jpeg;
    if (d[0] == 0x89 && d[1] == 0x50 && d[2] == 0x4E && d[3] == 0x47) return PictureFormat::Png;
    if (le16(data, ico::kReservedAt) == 0 && le16(data, ico::kCountAt) > 0) {
        if (le16(data, ico::kTypeAt) == ico::kTypeIcon) return PictureFormat::Ico;
        if (le16(data, ico::kTypeAt) == ico::kTypeCursor) return PictureFormat::Cur;
    }
    if (std::memcmp(d, "GIF87a", 6) == 0 || std::memcmp(d, "GIF89a", 6) == 0)
        return PictureFormat::Gif;
    if (d[0] == 0x0A && d[1] <= 5 && d[2] == 0x01 && d[3] == 0x08) return PictureFormat::Pcx256;
    if (d[0] == 0x0A && d[1] == 0x03 && d[2] == 0x01 && d[3] == 0x01) return PictureFormat::PcxMono;
    return PictureFormat::None;
}

const char* pictureFormatName(PictureFormat format) noexcept {
    switch (format) {
        case PictureFormat::Bmp:
            return "BMP";
        case PictureFormat::Jpeg:
            return "JPEG";
        case PictureFormat::Png:
            return "PNG";
        case PictureFormat::Ico:
            return "ICO";
        case PictureFormat::Cur:
            return "CUR";
        case PictureFormat::Gif:
            return "GIF";
        case PictureFormat::Pcx256:
        case PictureFormat::PcxMono:
            return "PCX";
        case PictureFormat::None:
            break;
    }
    return "";
}

}  // namespace kerbilo
