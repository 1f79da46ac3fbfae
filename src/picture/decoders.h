#pragma once
// Decoders for every recognised format. Each one validates the header before allocating,
// never reads outside the given bytes, never throws, and gives either the picture or the
// reason it cannot (truncated, unsupported variant, over the limits, out of memory).

#include <optional>
#include <utility>

#include "picture/image.h"
#include "picture/picture_format.h"
#include "runtime/byte_buffer.h"

namespace kerbilo {

enum class DecodeFailure {
    None,
    NotRecognised,  // not this format at all
    Truncated,      // the data ends before the picture does
    Unsupported,    // a variant the decoder does not read (compression, bit depth, header)
    OverLimits,     // larger than DecodeLimits allow
    OutOfMemory,
    Corrupt,  // the structure is broken
    Stopped,  // DecodeLimits::stop was set: nobody wants the picture any more
};

// A short English phrase for messages: "the data ends too early" and so on.
const char* decodeFailureText(DecodeFailure failure) noexcept;

// A decoded picture or the reason there is none. Reads like std::optional<Image>.
class Decoded {
  public:
    Decoded(Image image) : image_(std::move(image)) {}  // implicit: either is a result
    Decoded(DecodeFailure failure) : failure_(failure) {}

    bool has_value() const { return image_.has_value(); }
    explicit operator bool() const { return has_value(); }
    Image& operator*() { return *image_; }
    const Image& operator*() const { return *image_; }
    Image* operator->() { return &*image_; }
    const Image* operator->() const { return &*image_; }
    Image& value() { return image_.value(); }

    DecodeFailure failure() const { return failure_; }

  private:
    std::optional<Image> image_;
    DecodeFailure failure_ = DecodeFailure::None;
};

Decoded decodeBmp(Bytes data, const DecodeLimits& limits = {}) noexcept;
Decoded decodeJpeg(Bytes data, const DecodeLimits& limits = {}) noexcept;
Decoded decodePng(Bytes data, const DecodeLimits& limits = {}) noexcept;
// ICO and CUR share one layout; the entry is chosen as the pane has always chosen it.
Decoded decodeIcon(Bytes data, const DecodeLimits& limits = {}) noexcept;
// Both the 256-colour and the monochrome variant.
Decoded decodePcx(Bytes data, const DecodeLimits& limits = {}) noexcept;
// The first image of a GIF on its logical screen, transparent where nothing was drawn.
Decoded decodeGifStill(Bytes data, const DecodeLimits& limits = {}) noexcept;

// Recognises the data and runs the matching decoder; GIFs give their first image.
Decoded decodePicture(Bytes data, const DecodeLimits& limits = {}) noexcept;

// Index of the directory entry an icon or cursor is shown with, or -1 when the directory
// does not fit in the data.
int chooseIconEntry(Bytes data) noexcept;

// PNG file bytes for an image (alpha kept unless the image is Colour); empty on failure.
ByteBuffer encodePng(const Image& image) noexcept;

inline Bytes bytesOf(const ByteBuffer& buffer) {
    return {buffer.data(), buffer.size()};
}

}  // namespace kerbilo
