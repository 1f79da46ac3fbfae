#pragma once
// Decoders for every recognised format. Each one validates the header before allocating,
// never reads outside the given bytes, never throws, and gives nothing for data it cannot
// decode (truncated, unsupported variant, too large, out of memory).

#include <optional>

#include "picture/image.h"
#include "picture/picture_format.h"
#include "runtime/byte_buffer.h"

namespace kerbilo {

std::optional<Image> decodeBmp(Bytes data, const DecodeLimits& limits = {}) noexcept;
std::optional<Image> decodeJpeg(Bytes data, const DecodeLimits& limits = {}) noexcept;
std::optional<Image> decodePng(Bytes data, const DecodeLimits& limits = {}) noexcept;
// ICO and CUR share one layout; the entry is chosen as the pane has always chosen it.
std::optional<Image> decodeIcon(Bytes data, const DecodeLimits& limits = {}) noexcept;
// Both the 256-colour and the monochrome variant.
std::optional<Image> decodePcx(Bytes data, const DecodeLimits& limits = {}) noexcept;
// The first image of a GIF on its logical screen, transparent where nothing was drawn.
std::optional<Image> decodeGifStill(Bytes data, const DecodeLimits& limits = {}) noexcept;

// Recognises the data and runs the matching decoder; GIFs give their first image.
std::optional<Image> decodePicture(Bytes data, const DecodeLimits& limits = {}) noexcept;

// Index of the directory entry an icon or cursor is shown with, or -1 when the directory
// does not fit in the data.
int chooseIconEntry(Bytes data) noexcept;

// PNG file bytes for an image (alpha kept unless the image is Colour); empty on failure.
ByteBuffer encodePng(const Image& image) noexcept;

inline Bytes bytesOf(const ByteBuffer& buffer) {
    return {buffer.data(), buffer.size()};
}

}  // namespace kerbilo
