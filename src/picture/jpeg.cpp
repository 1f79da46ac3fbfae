#include <csetjmp>
#include <cstdio>
// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>
// The message codes tell what kind of failure a libjpeg error was.
#include <jerror.h>

#include <new>

#include "picture/byte_reader.h"
#include "picture/decoders.h"
#include "picture/pixel_check.h"

namespace kerbilo {

using namespace picture_detail;

namespace {

// Progressive files may hold thousands of tiny scans that take minutes to decode; real
// encoders write a few dozen.
constexpr int kMaxScans = 500;

struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

[[noreturn]] void onError(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}
void onMessage(j_common_ptr, int) {}  // warnings on corrupt data must not reach stderr
void onOutput(j_common_ptr) {}

struct ProgressManager {
    jpeg_progress_mgr base;
    const DecodeLimits* limits;
};

// Called between rows and scans: too many scans, or a picture nobody waits for, ends the
// decode there.
void onProgress(j_common_ptr cinfo) {
    auto* d = reinterpret_cast<j_decompress_ptr>(cinfo);
    auto* progress = reinterpret_cast<ProgressManager*>(cinfo->progress);
    if (progress->limits->stopped()) onError(cinfo);
    if (d->is_decompressor && d->input_scan_number > kMaxScans) onError(cinfo);
}

// What a progressive file's coefficients may take in the pane: 2 bytes a sample, so
// photographs of some 300 megapixels, far more than any camera's.
constexpr long kDecodeMemory = 1024L * 1024 * 1024;

// Every MCU takes at least one bit of the first scan, so data too small for the MCUs the
// header claims ends early, however it is coded: a few hundred bytes claiming 65535 x 65535
// are known to be damaged without decoding (or, progressive, allocating for) them.
bool claimsMoreThanItHolds(const jpeg_decompress_struct& cinfo, std::size_t bytes) {
    const std::uint64_t mcuWidth = 8 * static_cast<std::uint64_t>(cinfo.max_h_samp_factor);
    const std::uint64_t mcuHeight = 8 * static_cast<std::uint64_t>(cinfo.max_v_samp_factor);
    const std::uint64_t mcus = (cinfo.image_width + mcuWidth - 1) / mcuWidth *
                               ((cinfo.image_height + mcuHeight - 1) / mcuHeight);
    return mcus > std::uint64_t{bytes} * 8;
}

// What a libjpeg error means for the user.
DecodeFailure failureOf(int messageCode) {
    switch (messageCode) {
        case JERR_OUT_OF_MEMORY:
            return DecodeFailure::OutOfMemory;
        case JERR_NO_BACKING_STORE:  // over kDecodeMemory
            return DecodeFailure::OverLimits;
        case JERR_INPUT_EMPTY:
        case JERR_INPUT_EOF:
        case JERR_NO_IMAGE:
            return DecodeFailure::Truncated;
        case JERR_NOT_COMPILED:
        case JERR_ARITH_NOTIMPL:
        case JERR_BAD_PRECISION:
        case JERR_CONVERSION_NOTIMPL:
        case JERR_NOTIMPL:
            return DecodeFailure::Unsupported;
        default:
            return DecodeFailure::Corrupt;
    }
}

// A photograph over the pixel limits is still shown: libjpeg decodes it at 1/2, 1/4 or 1/8
// of its size almost as fast as it skips it, and the pane shrinks it to fit anyway. The
// largest of those within the limits is chosen; false when even 1/8 is too large.
bool fitWithinLimits(jpeg_decompress_struct& cinfo, const DecodeLimits& limits) {
    if (limits.allows(cinfo.image_width, cinfo.image_height)) return true;
    for (unsigned denominator : {2u, 4u, 8u}) {
        cinfo.scale_num = 1;
        cinfo.scale_denom = denominator;
        jpeg_calc_output_dimensions(&cinfo);
        if (limits.allows(cinfo.output_width, cinfo.output_height)) return true;
    }
    return false;
}

// Everything that must survive a longjmp lives outside this function's frame (the caller's
// Image and the rows vector are set up before setjmp and only filled after it).
DecodeFailure decodeInto(Bytes data, const DecodeLimits& limits, Image& image,
                         std::vector<std::uint8_t>& row) {
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    ProgressManager progress{};
    progress.limits = &limits;
    cinfo.err = jpeg_std_error(&err.base);
    err.base.error_exit = onError;
    err.base.emit_message = onMessage;
    err.base.output_message = onOutput;
    if (setjmp(err.jump)) {
        const DecodeFailure why = limits.stopped() ? DecodeFailure::Stopped
                                  : cinfo.input_scan_number > kMaxScans
                                      ? DecodeFailure::Unsupported
                                      : failureOf(err.base.msg_code);
        jpeg_destroy_decompress(&cinfo);
        return why;
    }
    jpeg_create_decompress(&cinfo);
    // A progressive file's coefficients are kept whole whatever the output scale; a few
    // hundred bytes may claim 65535 x 65535 of them.
    cinfo.mem->max_memory_to_use = kDecodeMemory;
    progress.base.progress_monitor = onProgress;
    cinfo.progress = &progress.base;
    jpeg_mem_src(&cinfo, data.data(), static_cast<unsigned long>(data.size()));
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) {
        jpeg_destroy_decompress(&cinfo);
        return DecodeFailure::Truncated;
    }
    // A baseline file that ends early still shows, its missing rows grey; a progressive one
    // would first have all its claimed coefficients allocated.
    if (cinfo.progressive_mode && claimsMoreThanItHolds(cinfo, data.size())) {
        jpeg_destroy_decompress(&cinfo);
        return DecodeFailure::Truncated;
    }
    if (!fitWithinLimits(cinfo, limits)) {
        jpeg_destroy_decompress(&cinfo);
        return DecodeFailure::OverLimits;
    }
    const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_BGRX;
    jpeg_start_decompress(&cinfo);
    if (cinfo.output_components != 4) {
        jpeg_destroy_decompress(&cinfo);
        return DecodeFailure::Unsupported;
    }
    if (!allocateImage(image, static_cast<int>(cinfo.output_width),
                       static_cast<int>(cinfo.output_height), ImageKind::Colour)) {
        jpeg_destroy_decompress(&cinfo);
        return DecodeFailure::OutOfMemory;
    }
    try {
        row.resize(std::size_t{cinfo.output_width} * 4);
    } catch (const std::bad_alloc&) {
        jpeg_destroy_decompress(&cinfo);
        return DecodeFailure::OutOfMemory;
    }
    // Adobe writes CMYK inverted; the marker tells which way the file's values run.
    const bool inverted = cinfo.saw_Adobe_marker;
    while (cinfo.output_scanline < cinfo.output_height) {
        const int y = static_cast<int>(cinfo.output_scanline);
        JSAMPROW rows[1] = {row.data()};
        if (jpeg_read_scanlines(&cinfo, rows, 1) != 1) break;
        Pixel* dst = &image.at(0, y);
        const std::uint8_t* s = row.data();
        for (int x = 0; x < image.width; ++x, s += 4) {
            if (!cmyk) {
                dst[x] = makePixel(s[2], s[1], s[0]);
                continue;
            }
            int c = s[0], m = s[1], yy = s[2], k = s[3];
            if (!inverted) {
                c = 255 - c;
                m = 255 - m;
                yy = 255 - yy;
                k = 255 - k;
            }
            dst[x] = makePixel(c * k / 255, m * k / 255, yy * k / 255);
        }
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return DecodeFailure::None;
}

// Warnings are libjpeg's word for damage it decoded past (a corrupt Huffman code, data
// that ends early and is padded with grey): a checked picture counts them.
struct CheckingErrors {
    ErrorManager manager;
    int warnings = 0;
    bool endedEarly = false;
};
// The first warning settles the verdict, so the check stops there: data that ends early
// would otherwise be decoded as grey to the last block of however large a picture the
// header claims.
[[noreturn]] void stopAtWarning(j_common_ptr cinfo, int level) {
    auto* errors = reinterpret_cast<CheckingErrors*>(cinfo->err);
    ++errors->warnings;
    if (cinfo->err->msg_code == JWRN_JPEG_EOF) errors->endedEarly = true;
    std::longjmp(errors->manager.jump, 2);
    (void)level;
}
void countWarning(j_common_ptr cinfo, int level) {
    if (level < 0) stopAtWarning(cinfo, level);  // level 0 and up are trace messages
}

// libjpeg keeps a progressive file's coefficients whole, whatever the output scale: 2 bytes
// a sample, so this takes progressive photographs of some 80 megapixels.
constexpr long kCheckMemory = 256L * 1024 * 1024;

PixelCheck checkInto(Bytes data, std::vector<std::uint8_t>& row) {
    jpeg_decompress_struct cinfo;
    CheckingErrors errors;
    DecodeLimits unlimited;
    ProgressManager progress{};
    progress.limits = &unlimited;
    cinfo.err = jpeg_std_error(&errors.manager.base);
    errors.manager.base.error_exit = onError;
    errors.manager.base.emit_message = countWarning;
    errors.manager.base.output_message = onOutput;
    if (const int jumped = setjmp(errors.manager.jump)) {
        if (jumped == 2) {
            jpeg_destroy_decompress(&cinfo);
            return {errors.endedEarly ? Reason::EntropyDataEndsEarly : Reason::EntropyDataCorrupt,
                    0};
        }
        const int code = errors.manager.base.msg_code;
        const bool scans = cinfo.input_scan_number > kMaxScans;
        jpeg_destroy_decompress(&cinfo);
        if (scans) return {Reason::PixelsUnchecked, 0};
        switch (failureOf(code)) {
            case DecodeFailure::OutOfMemory:
            case DecodeFailure::OverLimits:
            case DecodeFailure::Unsupported:
                return {Reason::PixelsUnchecked, 0};
            case DecodeFailure::Truncated:
                return {Reason::EntropyDataEndsEarly, 0};
            default:
                return {Reason::EntropyDataCorrupt, 0};
        }
    }
    jpeg_create_decompress(&cinfo);
    cinfo.mem->max_memory_to_use = kCheckMemory;
    progress.base.progress_monitor = onProgress;
    cinfo.progress = &progress.base;
    jpeg_mem_src(&cinfo, data.data(), static_cast<unsigned long>(data.size()));
    if (jpeg_read_header(&cinfo, TRUE) != JPEG_HEADER_OK) {
        jpeg_destroy_decompress(&cinfo);
        return {Reason::EntropyDataEndsEarly, 0};
    }
    if (claimsMoreThanItHolds(cinfo, data.size())) {
        jpeg_destroy_decompress(&cinfo);
        return {Reason::EntropyDataEndsEarly, 0};
    }
    // Every coefficient is still Huffman-decoded at an eighth of the size; only the
    // inverse transform and the colour work shrink.
    cinfo.scale_num = 1;
    cinfo.scale_denom = 8;
    cinfo.dct_method = JDCT_IFAST;
    cinfo.do_fancy_upsampling = FALSE;
    cinfo.do_block_smoothing = FALSE;
    jpeg_start_decompress(&cinfo);
    row.resize(std::size_t{cinfo.output_width} * static_cast<std::size_t>(cinfo.output_components));
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW rows[1] = {row.data()};
        if (jpeg_read_scanlines(&cinfo, rows, 1) != 1) break;
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return {};
}

}  // namespace

Decoded decodeJpeg(Bytes data, const DecodeLimits& limits) noexcept {
    if (data.size() < 2 || data[0] != 0xFF || data[1] != 0xD8) return DecodeFailure::NotRecognised;
    if (data.size() < 4) return DecodeFailure::Truncated;
    Image image;
    std::vector<std::uint8_t> row;
    try {
        if (const DecodeFailure why = decodeInto(data, limits, image, row);
            why != DecodeFailure::None)
            return why;
    } catch (...) {
        return DecodeFailure::OutOfMemory;
    }
    return image;
}

namespace picture_detail {

PixelCheck checkJpegPixels(Bytes jpeg) noexcept {
    std::vector<std::uint8_t> row;
    try {
        return checkInto(jpeg, row);
    } catch (...) {
        return {Reason::PixelsUnchecked, 0};
    }
}

}  // namespace picture_detail

}  // namespace kerbilo
