#pragma once
// What a found resource really is: its picture format, size and frame count, whether the
// pane can decode it, and whether the scanner's cut agrees with where the format itself
// ends. The scanner ends a resource at the first tail signature after its head, which on
// real files may be too early (an inner 00 3B in a GIF's LZW data, an EXIF thumbnail's
// FFD9) or too late; the format's own structure settles it.

#include <cstdint>
#include <optional>
#include <string_view>

#include "picture/image.h"
#include "picture/picture_format.h"
#include "picture/reason.h"

namespace kerbilo {

enum class Verdict {
    Complete,       // the format ends exactly where the resource ends, and its pixels decode
    CutShort,       // a whole, decoding picture goes on past the resource's end
    TrailingBytes,  // a whole, decoding picture ends before the resource does
    Damaged,        // the structure does not walk, the file ends inside it, or the pixel
                    // data does not decode
    Unchecked,      // the format has no end of its own (PCX): only `decodes` tells
    NotAPicture     // the resource's bytes are no recognised picture format
};

struct Inspection {
    PictureFormat format = PictureFormat::None;
    Verdict verdict = Verdict::NotAPicture;
    // Bytes from the resource's first byte to the format's own end, when the walk found it.
    std::optional<std::int64_t> extent;
    // Why the verdict is what it is: what is damaged and where, how far the picture goes
    // on, that a GIF has no trailer. None for a plain Complete.
    Reason reason = Reason::None;
    std::int64_t reasonItem = 0;  // the entry, frame or byte count the reason names
    // Only a picture whose header is sound has these; 0 means unknown.
    int width = 0;
    int height = 0;
    int frames = 0;  // GIF images, icon directory entries, APNG frames; otherwise 1
    int bitsPerPixel = 0;
    bool decodes = false;  // the pane's decoder gives an image (a GIF's first one)
};

// fromResourceStart: the opened file's bytes from the resource's first byte to the end of
// the file, so the walk can see past the resource. resourceLength: the resource's length
// as the scanner found it (clamped to fromResourceStart). resourceData: the bytes the
// picture pane shows for the resource; its first bytes decide the format. Complete,
// CutShort and TrailingBytes all mean a picture that walks to its end and whose pixel data
// decodes; anything else with a recognised start is Damaged (a walk that runs out of file
// is a truncated picture or, far more often, other data that starts like one).
// decode false skips the pane's decoder (whether it gives an image: `decodes`), not the
// pixel check the verdict rests on.
Inspection inspectResource(Bytes fromResourceStart, std::int64_t resourceLength, Bytes resourceData,
                           const DecodeLimits& limits = {}, bool decode = true) noexcept;

// Where the picture starting at fromHead[0] ends by its own structure, for the scanner
// to end resources by: the format is recognised from the first bytes and walked. Nothing
// when the format is unknown, has no end of its own (PCX), or the walk does not close.
std::optional<std::int64_t> formatExtent(Bytes fromHead) noexcept;

// One lower-case word for listings that scripts read: "complete", "cut-short",
// "trailing-bytes", "damaged", "unchecked", "not-a-picture".
const char* verdictName(Verdict verdict) noexcept;

// Some verdicts, as `--verdict complete,trailing-bytes` and the window's filter name them.
class VerdictSet {
  public:
    // Names as verdictName gives them, separated by commas; nothing for an empty list or
    // a name that is none of them.
    static std::optional<VerdictSet> parse(std::string_view names);

    void add(Verdict verdict) { bits_ |= bit(verdict); }
    bool has(Verdict verdict) const { return (bits_ & bit(verdict)) != 0; }

  private:
    static unsigned bit(Verdict verdict) { return 1u << static_cast<unsigned>(verdict); }
    unsigned bits_ = 0;
};

}  // namespace kerbilo
