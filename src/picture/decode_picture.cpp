#include "picture/decoders.h"

namespace kerbilo {

Decoded decodePicture(Bytes data, const DecodeLimits& limits) noexcept {
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
    return DecodeFailure::NotRecognised;
}

const char* decodeFailureText(DecodeFailure failure) noexcept {
    switch (failure) {
        case DecodeFailure::None:
            return "no failure";
        case DecodeFailure::NotRecognised:
            return "not a picture format";
        case DecodeFailure::Truncated:
            return "the data ends too early";
        case DecodeFailure::Unsupported:
            return "a variant that is not supported";
        case DecodeFailure::OverLimits:
            return "larger than the picture limits";
        case DecodeFailure::OutOfMemory:
            return "out of memory";
        case DecodeFailure::Stopped:
            return "stopped";
        case DecodeFailure::Corrupt:
            break;
    }
    return "corrupt data";
}

}  // namespace kerbilo
