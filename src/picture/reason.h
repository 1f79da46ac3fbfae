#pragma once
// Why a picture got its verdict, as a code: each front end words it in its own language
// (kerbilo-cli in the English below, which scripts may match; the window in Chinese).

#include <cstdint>
#include <string>

namespace kerbilo {

// X(code, English words); the words never change once released, scripts read them.
#define KERBILO_REASONS(X)                                                             \
    X(None, "")                                                                        \
    X(NotRecognised, "not a recognised picture format")                                \
    X(FileEndsInside, "the data ends inside the picture")                              \
    X(FormatGoesOn, "the picture goes on % bytes past the resource")                   \
    X(BytesAfterEnd, "% bytes after the picture's end")                                \
    X(NoEndOfItsOwn, "the format has no end of its own")                               \
    X(NoTrailer, "no trailer")                                                         \
    X(PixelsUnchecked, "pixel data not checked: too large, or a coding not supported") \
    X(NoPngSignature, "no PNG signature")                                              \
    X(ChunkLength, "chunk length out of range")                                        \
    X(ChunkType, "chunk type is not four letters")                                     \
    X(FirstChunkNotHeader, "first chunk is not IHDR")                                  \
    X(ChunkCrc, "chunk CRC does not match")                                            \
    X(SecondHeader, "second IHDR chunk")                                               \
    X(HeaderLength, "IHDR length is not 13")                                           \
    X(ImageSize, "image size out of range")                                            \
    X(DepthOrColour, "invalid bit depth or colour type")                               \
    X(EndBeforeData, "IEND before any IDAT")                                           \
    X(HeaderMethod, "unknown compression, filter or interlace method")                 \
    X(ZlibEndsEarly, "zlib stream ends early")                                         \
    X(ZlibCorrupt, "zlib stream is corrupt")                                           \
    X(ZlibTooLong, "zlib stream holds more than the rows")                             \
    X(RowFilter, "unknown row filter")                                                 \
    X(NoStartOfImage, "no start-of-image marker")                                      \
    X(ExpectedMarker, "expected a marker")                                             \
    X(EndsBeforeScan, "ends before any scan")                                          \
    X(MarkerOutOfPlace, "marker out of place")                                         \
    X(SecondStartOfImage, "second start-of-image marker")                              \
    X(ReservedMarker, "reserved marker")                                               \
    X(SegmentLength, "segment length below 2")                                         \
    X(FrameHeaderShort, "frame header too short")                                      \
    X(FrameHeaderLength, "frame header length does not fit its components")            \
    X(FrameWidthZero, "frame width is 0")                                              \
    X(ScanBeforeFrame, "scan before the frame header")                                 \
    X(ScanHeaderShort, "scan header too short")                                        \
    X(ScanHeaderLength, "scan header length does not fit its components")              \
    X(EntropyDataCorrupt, "entropy-coded data is corrupt")                             \
    X(EntropyDataEndsEarly, "entropy-coded data ends early")                           \
    X(NoGifSignature, "no GIF signature")                                              \
    X(TrailerBeforeImage, "trailer before any image")                                  \
    X(UnknownBlock, "unknown block")                                                   \
    X(LzwCodeSize, "frame %: LZW code size out of range")                              \
    X(LzwEndsEarly, "frame %: LZW data ends before its last pixel")                    \
    X(LzwCorrupt, "frame %: LZW code out of range")                                    \
    X(LzwTooLong, "frame %: LZW data goes on past its last pixel")                     \
    X(NoBmpSignature, "no BMP signature")                                              \
    X(UnknownHeaderSize, "unknown header size")                                        \
    X(PlaneCount, "plane count is not 1")                                              \
    X(WidthNotPositive, "width is not positive")                                       \
    X(HeightRange, "height out of range")                                              \
    X(BitCount, "invalid bit count")                                                   \
    X(ColourCount, "more colours than the bits can index")                             \
    X(PixelSizeOverflows, "pixel data size overflows")                                 \
    X(CompressedWithoutSize, "compressed image without a size")                        \
    X(UnknownCompression, "unknown compression")                                       \
    X(PixelsOverlapHeaders, "pixel data overlaps the headers")                         \
    X(RleEndsEarly, "run-length data ends before its end-of-bitmap mark")              \
    X(RleOutsideImage, "run-length data moves past the image")                         \
    X(NoIconDirectory, "no icon directory")                                            \
    X(NoIconImage, "directory names no image")                                         \
    X(EntryTooSmall, "entry % is too small to hold an image")                          \
    X(EntryOverlapsDirectory, "entry % overlaps the directory")                        \
    X(EntryNotAnImage, "entry % holds neither a PNG nor a bitmap")                     \
    X(EntryPastFile, "entry % points past the file")                                   \
    X(EntryBitCount, "entry % has an invalid bit count")                               \
    X(EntryColourCount, "entry % names more colours than its bits can index")          \
    X(EntrySizeDisagrees, "entry %'s size disagrees with the directory")               \
    X(EntryPixelsMissing, "entry % ends before its pixel data does")                   \
    X(EntryPngDamaged, "entry %: PNG is damaged")

enum class Reason : std::uint8_t {
#define KERBILO_REASON_CODE(code, words) code,
    KERBILO_REASONS(KERBILO_REASON_CODE)
#undef KERBILO_REASON_CODE
};

// The English words of a reason; a "%" stands for its item (an icon entry or a GIF frame
// counted from 1, or a number of bytes).
const char* reasonWords(Reason reason) noexcept;

// The words with the item put in for "%": "entry 2 points past the file".
std::string describeReason(Reason reason, std::int64_t item);

}  // namespace kerbilo
