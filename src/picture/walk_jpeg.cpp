#include <cstring>

#include "picture/walk_detail.h"

namespace kerbilo {

using namespace walk_detail;

namespace {

bool isFrameHeader(std::uint8_t marker) {
    // SOF0 to SOF15 except DHT (C4), JPG (C8) and DAC (CC), which share the range.
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}
bool isRestart(std::uint8_t marker) {
    return marker >= 0xD0 && marker <= 0xD7;
}

// Skips a scan's entropy-coded data from pos: FF 00 is a stuffed data byte, FF D0..D7 a
// restart marker and further FFs are fill; any other FF xx is the next marker, whose FF
// offset is returned. Returns data.size() when no marker follows.
std::uint64_t skipEntropyCodedData(Bytes data, std::uint64_t pos) {
    while (pos < data.size()) {
        const void* ff = std::memchr(data.data() + pos, 0xFF, data.size() - pos);
        if (!ff) return data.size();
        pos = static_cast<std::uint64_t>(static_cast<const std::uint8_t*>(ff) - data.data());
        if (pos + 1 >= data.size()) return data.size();
        const std::uint8_t next = data[pos + 1];
        if (next == 0xFF) {
            ++pos;  // fill before a marker: look at the next FF
        } else if (next == 0x00 || isRestart(next)) {
            pos += 2;
        } else {
            return pos;
        }
    }
    return data.size();
}

}  // namespace

PictureWalk walkJpeg(Bytes data) noexcept {
    PictureWalk walk;
    if (data.size() >= 1 && data[0] != 0xFF) return broken(walk, 0, Reason::NoStartOfImage);
    if (data.size() >= 2 && data[1] != 0xD8) return broken(walk, 0, Reason::NoStartOfImage);
    if (data.size() < 2) return ranOut(walk, data);

    std::uint64_t pos = 2;
    bool sawFrame = false;
    bool sawScan = false;
    for (;;) {
        if (pos >= data.size()) return ranOut(walk, data);
        const std::uint64_t markerAt = pos;
        if (data[pos] != 0xFF) return broken(walk, pos, Reason::ExpectedMarker);
        // Any number of FF fill bytes may precede a marker.
        while (pos < data.size() && data[pos] == 0xFF) ++pos;
        if (pos >= data.size()) return ranOut(walk, data);
        const std::uint8_t marker = data[pos++];

        if (marker == 0xD9) {
            if (!sawFrame || !sawScan) return broken(walk, markerAt, Reason::EndsBeforeScan);
            return ended(walk, pos);
        }
        if (marker == 0x01) continue;  // TEM stands alone
        if (marker == 0x00 || isRestart(marker))
            return broken(walk, markerAt, Reason::MarkerOutOfPlace);
        if (marker == 0xD8) return broken(walk, markerAt, Reason::SecondStartOfImage);
        if (marker < 0xC0) return broken(walk, markerAt, Reason::ReservedMarker);

        // Every other marker starts a segment whose length counts itself.
        if (!fits(data, pos, 2)) return ranOut(walk, data);
        const std::uint16_t length = be16(data, pos);
        if (length < 2) return broken(walk, markerAt, Reason::SegmentLength);
        const std::uint64_t segmentEnd = pos + length;
        if (segmentEnd > data.size()) return ranOut(walk, data);

        if (isFrameHeader(marker) && !sawFrame) {
            if (length < 8) return broken(walk, markerAt, Reason::FrameHeaderShort);
            const int precision = data[pos + 2];
            const int components = data[pos + 7];
            if (components == 0 || length != 8 + 3 * components)
                return broken(walk, markerAt, Reason::FrameHeaderLength);
            // A height of 0 is allowed: a DNL segment after the first scan gives it.
            walk.height = be16(data, pos + 3);
            walk.width = be16(data, pos + 5);
            if (walk.width == 0) return broken(walk, markerAt, Reason::FrameWidthZero);
            walk.bitsPerPixel = precision * components;
            walk.frames = 1;
            walk.headerSound = walk.height > 0 && precision > 0;
            sawFrame = true;
        } else if (marker == 0xDA) {
            if (!sawFrame) return broken(walk, markerAt, Reason::ScanBeforeFrame);
            if (length < 3) return broken(walk, markerAt, Reason::ScanHeaderShort);
            const int components = data[pos + 2];
            if (components < 1 || components > 4 || length != 6 + 2 * components)
                return broken(walk, markerAt, Reason::ScanHeaderLength);
            sawScan = true;
            pos = skipEntropyCodedData(data, segmentEnd);
            if (pos >= data.size()) return ranOut(walk, data);
            continue;
        }
        pos = segmentEnd;
    }
}

}  // namespace kerbilo
