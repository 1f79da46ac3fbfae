#include "picture/decoders.h"

namespace kerbilo {

std::optional<Image> decodePicture(Bytes data, const DecodeLimits& limits) noexcept {
    switch (recognisePicture(data)) {
        case PictureFormat::Bmp:
            return decodeBmp(data, limits);
        case PictureFormat::Jpeg:
            return decodeJpeg(data, limits);
        case PictureFormat::Png:
            return decodePng(data, limits);
        case PictureFormat::Ico:
        case PictureFormat::Cur:
            return decodeIcon(data, limits);
        case PictureFormat::Gif:
            return decodeGifStill(data, limits);
        case PictureFormat::Pcx256:
        case PictureFormat::PcxMono:
            return decodePcx(data, limits);
        case PictureFormat::None:
            break;
    }
    return std::nullopt;
}

}  // namespace kerbilo
