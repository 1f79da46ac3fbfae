#pragma once
// Structure walkers: each follows one format's own layout (chunks, segments, blocks,
// headers) from the first byte and tells where the format says the picture ends. The
// scanner ends a resource at the first tail signature after its head, which cuts short a
// GIF whose LZW data happens to hold 00 3B or a JPEG whose EXIF thumbnail has its own
// FFD9; a walker finds the real end instead.
//
// Every walker takes the bytes from the picture's first byte to the end of the opened
// file, so it may look past where the scanner ended the resource. It is linear in the
// bytes it walks, allocates nothing, never reads outside `data` and never throws.

#include <cstdint>

#include "picture/image.h"
#include "picture/picture_format.h"
#include "picture/reason.h"

namespace kerbilo {

enum class WalkEnd {
    Ended,    // the structure closed properly; `extent` is valid
    RanOut,   // the data ended while the structure still needed bytes
    Broken,   // something the format does not allow; `reason` says what
    NoWalker  // the format has no end of its own to find (PCX)
};

struct PictureWalk {
    WalkEnd end = WalkEnd::Broken;
    // Ended: bytes from data[0] through the format's last byte. Otherwise where the walk
    // stopped: the offset of the offending structure, or data.size() when it ran out.
    std::int64_t extent = 0;
    Reason reason = Reason::None;  // why it broke or ran out; None when Ended
    std::int64_t reasonItem = 0;   // the entry or frame the reason names, from 1
    // The header was read whole and every field in it is one the format allows, so the
    // size, depth and frame count below are the picture's and not some other data's.
    bool headerSound = false;
    // What the walk learned on the way; zero when it stopped before learning it.
    int width = 0;
    int height = 0;
    int frames = 0;  // GIF images, images in an icon directory, APNG frames; otherwise 1
    int bitsPerPixel = 0;
};

// Chunk by chunk to the end of IEND; every CRC is checked.
PictureWalk walkPng(Bytes data) noexcept;
// Marker by marker, through every scan's entropy-coded data, to the EOI that closes the
// first SOI. Thumbnails inside APPn segments are skipped with their segment.
PictureWalk walkJpeg(Bytes data) noexcept;
// Block by block to the trailer; every image descriptor counts as a frame.
PictureWalk walkGif(Bytes data) noexcept;
// What the headers require, widened to the file-size field when that is plausible.
PictureWalk walkBmp(Bytes data) noexcept;
// ICO and CUR: the end of the furthest image the directory names.
PictureWalk walkIcon(Bytes data) noexcept;

// The walker of `format`; PCX gives NoWalker with the header's size, None gives Broken.
PictureWalk walkPicture(PictureFormat format, Bytes data) noexcept;

}  // namespace kerbilo
