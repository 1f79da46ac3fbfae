// Deflate data walked without inflating it, inflated under limits, and deflated: the parts
// of zlib's work that the ZIP reader, the stream finder and the writer share.
//
// The walk decodes a Huffman code by one lookup in a table of its first nine bits, or, for
// longer codes, one bit at a time as the reference decoder in zlib's contrib does. Each
// step consumes bits and each block's tables cost a bounded amount, so its cost is linear
// in the compressed bytes whatever they claim to inflate to.

#include <zlib.h>

#include <algorithm>
#include <array>
#include <limits>

#include "scan/zip_detail.h"

namespace kerbilo::zip::detail {

namespace {

constexpr int kMaxBits = 15;
constexpr int kMaxLitLen = 288;
constexpr int kMaxDist = 32;  // the fixed code names 32 distances, of which 30 are valid

constexpr int kFastBits = 9;  // codes this long or shorter decode by one lookup

// A canonical Huffman code: how many codes of each length, the symbols in code order, and
// for each value of the next kFastBits bits the symbol and length of a code that short
// (0 where the code is longer, or unused).
// Plain arrays: the walk's inner loop indexes them, and builds that do not inline (the
// sanitizers' -O1) would call std::array's operator[] there.
struct Huffman {
    std::uint16_t count[kMaxBits + 1];
    std::uint16_t symbol[kMaxLitLen];
    std::uint16_t fast[1 << kFastBits];
};

// Builds the code from the lengths. Returns <0 when over-subscribed, 0 when complete, >0
// when incomplete (codes left unused); `longest` is the longest length in use.
int buildHuffman(Huffman& h, const std::uint8_t* lengths, int n, int& longest) {
    std::fill(std::begin(h.count), std::end(h.count), 0);
    for (int s = 0; s < n; ++s) ++h.count[lengths[s]];
    longest = 0;
    for (int len = 1; len <= kMaxBits; ++len)
        if (h.count[len]) longest = len;
    if (h.count[0] == n) {  // no codes at all
        std::fill(std::begin(h.fast), std::end(h.fast), 0);
        return 0;
    }
    int left = 1;
    for (int len = 1; len <= kMaxBits; ++len) {
        left <<= 1;
        left -= h.count[len];
        if (left < 0) return left;
    }
    // Most code sets of random bytes end above; the table is cleared only for the others.
    std::fill(std::begin(h.fast), std::end(h.fast), 0);
    std::array<std::uint16_t, kMaxBits + 1> offs{};
    for (int len = 1; len < kMaxBits; ++len)
        offs[len + 1] = static_cast<std::uint16_t>(offs[len] + h.count[len]);
    for (int s = 0; s < n; ++s)
        if (lengths[s] != 0) h.symbol[offs[lengths[s]]++] = static_cast<std::uint16_t>(s);
    // Codes are sent first bit first, and the reader holds the next bit lowest: a code's
    // entries are at its bits reversed, whatever the bits after it.
    unsigned code = 0;
    int index = 0;
    for (int len = 1; len <= kFastBits; ++len, code <<= 1) {
        for (int k = 0; k < h.count[len]; ++k, ++code) {
            unsigned reversed = 0;
            for (int b = 0; b < len; ++b) reversed |= ((code >> b) & 1u) << (len - 1 - b);
            const auto entry = static_cast<std::uint16_t>(len << 9 | h.symbol[index++]);
            for (unsigned j = reversed; j < (1u << kFastBits); j += 1u << len) h.fast[j] = entry;
        }
    }
    return left;
}

// zlib takes a complete code, or an incomplete one of a single 1-bit code; a distance code
// may also be empty (a block of literals only).
bool acceptable(int left, int longest, bool mayBeEmpty) {
    if (left < 0) return false;
    if (longest == 0) return mayBeEmpty;
    return left == 0 || longest == 1;
}

struct FixedCodes {
    Huffman lit, dist;
    FixedCodes() {
        std::uint8_t lengths[kMaxLitLen];
        int s = 0;
        for (; s < 144; ++s) lengths[s] = 8;
        for (; s < 256; ++s) lengths[s] = 9;
        for (; s < 280; ++s) lengths[s] = 7;
        for (; s < kMaxLitLen; ++s) lengths[s] = 8;
        int longest = 0;
        buildHuffman(lit, lengths, kMaxLitLen, longest);
        std::fill(lengths, lengths + kMaxDist, 5);
        buildHuffman(dist, lengths, kMaxDist, longest);
    }
};

constexpr std::uint16_t kLengthBase[29] = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                           15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                           67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                           2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::uint16_t kDistBase[30] = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                         6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr std::uint8_t kCodeLengthOrder[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                               11, 4,  12, 3, 13, 2, 14, 1, 15};

// Bits least significant first. Reading past the end gives zeros and sets `ran_out`, which
// the walk checks before it trusts what it read.
class BitReader {
  public:
    BitReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    [[gnu::always_inline]] bool ranOut() const { return ranOut_; }

    // The bits held, the next lowest, and how many; at least n after fillTo(n) unless the
    // input ends first.
    [[gnu::always_inline]] std::uint64_t held() const { return buffer_; }
    [[gnu::always_inline]] int heldCount() const { return have_; }
    [[gnu::always_inline]] void fillTo(int n) {
        if (have_ < n) refill();
    }
    // Drops n of the bits held.
    [[gnu::always_inline]] void drop(int n) {
        buffer_ = n >= 64 ? 0 : buffer_ >> n;
        have_ -= n;
    }
    // Bits read so far.
    [[gnu::always_inline]] std::uint64_t bitPosition() const {
        return std::uint64_t{pos_} * 8 - static_cast<std::uint64_t>(have_);
    }

    [[gnu::always_inline]] std::uint32_t bits(int n) {
        if (have_ < n) refill();
        if (have_ < n) {
            ranOut_ = true;
            have_ = 0;
            buffer_ = 0;
            return 0;
        }
        const auto v = static_cast<std::uint32_t>(buffer_ & ((std::uint64_t{1} << n) - 1));
        buffer_ >>= n;
        have_ -= n;
        return v;
    }

    // The next symbol of `h`; −1 for a code the set leaves unused.
    [[gnu::always_inline]] int decode(const Huffman& h) {
        if (have_ < kFastBits) refill();
        if (have_ >= kFastBits) {
            const std::uint16_t entry = h.fast[buffer_ & ((1u << kFastBits) - 1)];
            if (entry) {
                const int len = entry >> 9;
                buffer_ >>= len;
                have_ -= len;
                return entry & 0x1FF;
            }
        }
        return decodeSlowly(h);
    }

    // A bit at a time: codes longer than the table's, and the last bits of the input.
    int decodeSlowly(const Huffman& h) {
        int code = 0, first = 0, index = 0;
        for (int len = 1; len <= kMaxBits; ++len) {
            if (have_ == 0) {
                refill();
                if (have_ == 0) {
                    ranOut_ = true;
                    return -1;
                }
            }
            code |= static_cast<int>(buffer_ & 1);
            buffer_ >>= 1;
            --have_;
            const int count = h.count[len];
            if (code - count < first) return h.symbol[index + (code - first)];
            index += count;
            first += count;
            first <<= 1;
            code <<= 1;
        }
        return -1;
    }

    // Drops the bits left of the current byte; the next read starts at a byte.
    void alignToByte() {
        const int drop = have_ % 8;
        buffer_ >>= drop;
        have_ -= drop;
    }

    // Passes n whole bytes, after alignToByte; false when fewer are left.
    bool skipBytes(std::uint64_t n) {
        const std::uint64_t at = position();
        if (n > size_ - at) {
            pos_ = size_;
            have_ = 0;
            buffer_ = 0;
            ranOut_ = true;
            return false;
        }
        pos_ = static_cast<std::size_t>(at + n);
        have_ = 0;
        buffer_ = 0;
        return true;
    }

    // Whole bytes not read yet, after alignToByte.
    std::uint64_t bytesLeft() const { return size_ - position(); }

    // Bytes read so far, the one partly read included.
    std::uint64_t position() const { return pos_ - static_cast<std::size_t>(have_ / 8); }

  private:
    void refill() {
        if (pos_ + 8 <= size_) {
            std::uint64_t word = 0;
            for (int i = 0; i < 8; ++i)
                word |= static_cast<std::uint64_t>(data_[pos_ + i]) << (8 * i);
            const int take = (63 - have_) / 8;
            buffer_ |= (take == 8 ? word : word & ((std::uint64_t{1} << (8 * take)) - 1)) << have_;
            pos_ += static_cast<std::size_t>(take);
            have_ += 8 * take;
            return;
        }
        while (have_ <= 56 && pos_ < size_) {
            buffer_ |= static_cast<std::uint64_t>(data_[pos_++]) << have_;
            have_ += 8;
        }
    }

    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
    std::uint64_t buffer_ = 0;
    int have_ = 0;
    bool ranOut_ = false;
};

enum class Step { Ok, Truncated, Invalid };

// The symbols of one Huffman-coded block, up to and including its end code.
//
// When the bits after a match repeat the match's own bits, they decode to the same match,
// whose distance stays valid as the output only grows: a run of them (the whole of a bomb
// of zeros, a few bits per 258 bytes) is counted at once from the bits held.
Step codesOf(BitReader& in, const Huffman& lit, const Huffman& dist, std::uint64_t& output) {
    for (;;) {
        in.fillTo(48);
        const std::uint64_t heldBefore = in.held();
        const int countBefore = in.heldCount();
        const std::uint64_t start = in.bitPosition();
        const int symbol = in.decode(lit);
        if (in.ranOut()) return Step::Truncated;
        if (symbol < 0) return Step::Invalid;
        if (symbol < 256) {
            ++output;
            continue;
        }
        if (symbol == 256) return Step::Ok;
        const int l = symbol - 257;
        if (l >= 29) return Step::Invalid;
        const std::uint32_t length = kLengthBase[l] + in.bits(kLengthExtra[l]);
        const int d = in.decode(dist);
        if (in.ranOut()) return Step::Truncated;
        if (d < 0 || d >= 30) return Step::Invalid;
        const std::uint32_t distance = kDistBase[d] + in.bits(kDistExtra[d]);
        if (in.ranOut()) return Step::Truncated;
        if (distance > output) return Step::Invalid;
        output += length;
        const auto used = static_cast<int>(in.bitPosition() - start);
        if (used > countBefore || used > 32) continue;
        const std::uint64_t match = heldBefore & ((std::uint64_t{1} << used) - 1);
        std::uint64_t repeated = 0;
        for (int shift = 0; shift < 64; shift += used) repeated |= match << shift;
        const std::uint64_t differ =
            (in.held() ^ repeated) |
            (in.heldCount() < 64 ? ~std::uint64_t{0} << in.heldCount() : 0);
        const int same = differ == 0 ? 64 : __builtin_ctzll(differ);
        const int repeats = same / used;
        if (repeats > 0) {
            in.drop(repeats * used);
            output += static_cast<std::uint64_t>(repeats) * length;
        }
    }
}

// The same on copies of the reader and the count, which the compiler can then keep in
// registers through the loop that most of the walk's time is spent in.
Step walkCodes(BitReader& reader, const Huffman& lit, const Huffman& dist, std::uint64_t& total) {
    BitReader in = reader;
    std::uint64_t output = total;
    const Step step = codesOf(in, lit, dist, output);
    reader = in;
    total = output;
    return step;
}

// A dynamic block's code lengths, then its symbols.
Step walkDynamic(BitReader& in, std::uint64_t& output) {
    const int nlen = static_cast<int>(in.bits(5)) + 257;
    const int ndist = static_cast<int>(in.bits(5)) + 1;
    const int ncode = static_cast<int>(in.bits(4)) + 4;
    if (in.ranOut()) return Step::Truncated;
    if (nlen > 286 || ndist > 30) return Step::Invalid;
    std::uint8_t codeLengths[19] = {};
    for (int i = 0; i < ncode; ++i)
        codeLengths[kCodeLengthOrder[i]] = static_cast<std::uint8_t>(in.bits(3));
    if (in.ranOut()) return Step::Truncated;
    Huffman codes, lit, dist;
    int longest = 0;
    int left = buildHuffman(codes, codeLengths, 19, longest);
    if (left != 0 || longest == 0) return Step::Invalid;
    std::uint8_t lengths[kMaxLitLen + kMaxDist] = {};  // cleared only for a code that holds
    for (int i = 0; i < nlen + ndist;) {
        const int symbol = in.decode(codes);
        if (in.ranOut()) return Step::Truncated;
        if (symbol < 0) return Step::Invalid;
        if (symbol < 16) {
            lengths[i++] = static_cast<std::uint8_t>(symbol);
            continue;
        }
        std::uint8_t value = 0;
        int repeat = 0;
        if (symbol == 16) {
            if (i == 0) return Step::Invalid;
            value = lengths[i - 1];
            repeat = 3 + static_cast<int>(in.bits(2));
        } else if (symbol == 17) {
            repeat = 3 + static_cast<int>(in.bits(3));
        } else {
            repeat = 11 + static_cast<int>(in.bits(7));
        }
        if (in.ranOut()) return Step::Truncated;
        if (i + repeat > nlen + ndist) return Step::Invalid;
        while (repeat--) lengths[i++] = value;
    }
    if (lengths[256] == 0) return Step::Invalid;  // no end of block
    left = buildHuffman(lit, lengths, nlen, longest);
    if (!acceptable(left, longest, false)) return Step::Invalid;
    left = buildHuffman(dist, lengths + nlen, ndist, longest);
    if (!acceptable(left, longest, true)) return Step::Invalid;
    return walkCodes(in, lit, dist, output);
}

}  // namespace

DeflateWalk walkDeflate(const std::uint8_t* data, std::size_t size) {
    static const FixedCodes fixed;
    BitReader in(data, size);
    DeflateWalk w;
    for (;;) {
        const std::uint32_t last = in.bits(1);
        const std::uint32_t type = in.bits(2);
        Step step = Step::Ok;
        if (in.ranOut()) {
            step = Step::Truncated;
        } else if (type == 0) {
            in.alignToByte();
            const std::uint32_t length = in.bits(16);
            const std::uint32_t check = in.bits(16);
            if (in.ranOut())
                step = Step::Truncated;
            else if (length != (~check & 0xFFFFu))
                step = Step::Invalid;
            else {
                // A stored block cut short still gives what it holds.
                const std::uint64_t held = in.bytesLeft();
                if (!in.skipBytes(length)) {
                    w.output += held;
                    step = Step::Truncated;
                } else {
                    w.output += length;
                }
            }
        } else if (type == 1) {
            step = walkCodes(in, fixed.lit, fixed.dist, w.output);
        } else if (type == 2) {
            step = walkDynamic(in, w.output);
        } else {
            step = Step::Invalid;
        }
        w.length = in.position();
        if (step == Step::Truncated) {
            w.end = WalkEnd::Truncated;
            w.length = size;
            return w;
        }
        if (step == Step::Invalid) {
            w.end = WalkEnd::Invalid;
            return w;
        }
        if (last) {
            w.end = WalkEnd::End;
            return w;
        }
    }
}

// ---- inflating -------------------------------------------------------------------------

namespace {

// Inflated bytes, grown as they come and never past `ceiling`.
class Sink {
  public:
    explicit Sink(std::uint64_t ceiling) : ceiling_(ceiling) {}

    // Room for at least one more byte (unless at the ceiling or out of memory): the free
    // bytes from there.
    std::size_t room(std::uint8_t*& at, std::uint64_t first) {
        if (size_ == capacity_) {
            if (capacity_ >= ceiling_) return 0;
            std::uint64_t want =
                capacity_ == 0 ? std::max<std::uint64_t>(first, kMinGrowth) : capacity_ * 2;
            want = std::min<std::uint64_t>(want, ceiling_);
            ByteBuffer bigger = ByteBuffer::uninitialized(static_cast<std::size_t>(want));
            if (bigger.size() != want) {
                failed_ = true;
                return 0;
            }
            if (size_) std::memcpy(bigger.mutableData(), buffer_.data(), size_);
            buffer_ = std::move(bigger);
            out_ = buffer_.mutableData();
            capacity_ = static_cast<std::size_t>(want);
        }
        at = out_ + size_;
        return capacity_ - size_;
    }
    void grew(std::size_t n) { size_ += n; }
    std::size_t size() const { return size_; }
    bool failed() const { return failed_; }

    // The bytes, in a buffer of their own size unless little would be left unused.
    ByteBuffer take() {
        if (size_ == 0) return {};
        if (capacity_ - size_ > size_ / 8 + 4096) return ByteBuffer(out_, size_);
        return buffer_.slice(0, size_);
    }

  private:
    static constexpr std::uint64_t kMinGrowth = 64 << 10;
    std::uint64_t ceiling_;
    ByteBuffer buffer_;
    std::uint8_t* out_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
    bool failed_ = false;
};

constexpr std::size_t kZlibChunk = std::size_t{1} << 30;  // what one call of zlib takes
constexpr std::size_t kInflateStep = 64 << 10;

std::uint32_t runCheck(Check check, std::uint32_t value, const std::uint8_t* data,
                       std::size_t size) {
    while (size > 0) {
        const auto n = static_cast<uInt>(std::min(size, kZlibChunk));
        value = check == Check::Crc32 ? static_cast<std::uint32_t>(crc32(value, data, n))
                                      : static_cast<std::uint32_t>(adler32(value, data, n));
        data += n;
        size -= n;
    }
    return value;
}

}  // namespace

std::uint32_t crc32Of(const std::uint8_t* data, std::size_t size) {
    return runCheck(Check::Crc32, static_cast<std::uint32_t>(crc32(0, nullptr, 0)), data, size);
}
std::uint32_t adler32Of(const std::uint8_t* data, std::size_t size) {
    return runCheck(Check::Adler32, static_cast<std::uint32_t>(adler32(0, nullptr, 0)), data, size);
}

RawInflate inflateRaw(const std::uint8_t* data, std::size_t size, const InflateLimits& limits,
                      std::uint64_t spent, Check check, std::uint64_t overhead,
                      std::uint64_t expected) {
    RawInflate r;
    r.check = check == Check::Crc32 ? static_cast<std::uint32_t>(crc32(0, nullptr, 0))
                                    : static_cast<std::uint32_t>(adler32(0, nullptr, 0));
    const std::uint64_t leftOfTotal =
        spent >= limits.maxTotalBytes ? 0 : limits.maxTotalBytes - spent;
    const std::uint64_t cap = std::min<std::uint64_t>(
        {limits.maxStreamBytes, leftOfTotal, std::numeric_limits<std::size_t>::max() / 2});
    const Stop capStop = leftOfTotal < limits.maxStreamBytes ? Stop::TotalLimit : Stop::StreamLimit;
    // The first allocation believes `expected` only as far as deflate's own ratio allows.
    const std::uint64_t believable =
        std::min(expected, size < (std::uint64_t{1} << 50) ? size * 1032 + 64 : expected);
    Sink sink(cap);

    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) {
        r.stop = Stop::Damaged;
        return r;
    }
    std::size_t fed = 0;  // input handed to zlib so far
    int ret = Z_OK;
    bool overCap = false, overRatio = false;
    for (;;) {
        if (z.avail_in == 0 && fed < size) {
            const std::size_t n = std::min(size - fed, kZlibChunk);
            z.next_in = const_cast<Bytef*>(data + fed);
            z.avail_in = static_cast<uInt>(n);
            fed += n;
        }
        std::uint8_t* at = nullptr;
        std::size_t room =
            sink.room(at, std::min<std::uint64_t>(believable, std::uint64_t{64} << 20));
        std::uint8_t spare = 0;
        if (room == 0) {
            // At the ceiling: one byte more that inflates means the stream passes it.
            at = &spare;
            room = 1;
        }
        // Small steps, so that the ratio is checked before much more than it allows is made.
        const std::size_t asked = std::min<std::size_t>(room, kInflateStep);
        z.next_out = at;
        z.avail_out = static_cast<uInt>(asked);
        ret = inflate(&z, Z_NO_FLUSH);
        const std::size_t produced = asked - z.avail_out;
        if (at == &spare) {
            if (produced > 0) overCap = true;
        } else {
            r.check = runCheck(check, r.check, at, produced);
            sink.grew(produced);
        }
        // Passing the ratio by a whole byte's worth, so that a byte read ahead never counts.
        const std::uint64_t read = fed - z.avail_in + overhead;
        // Small things compress far (a blank picture, a run of spaces): the ratio counts
        // only once there is enough for a bomb to matter.
        if (sink.size() > limits.ratioGrace &&
            sink.size() / std::max<std::uint64_t>(limits.maxRatio, 1) > read)
            overRatio = true;
        if (ret == Z_STREAM_END || overCap || overRatio) break;
        if (ret == Z_BUF_ERROR && at == &spare) break;  // at the ceiling, nothing more came
        if (ret != Z_OK && ret != Z_BUF_ERROR) break;
        if (ret == Z_BUF_ERROR && z.avail_in == 0 && fed == size) break;  // input ended
        if (sink.failed()) break;
    }
    r.consumed = fed - z.avail_in;
    inflateEnd(&z);
    if (ret == Z_STREAM_END && !overCap && !overRatio)
        r.stop = Stop::None;
    else if (overRatio)
        r.stop = Stop::RatioLimit;
    else if (overCap || sink.failed())
        r.stop = capStop;
    else if (ret == Z_DATA_ERROR || ret == Z_NEED_DICT || ret == Z_MEM_ERROR ||
             ret == Z_STREAM_ERROR)
        r.stop = Stop::Damaged;
    else
        r.stop = Stop::Truncated;
    r.bytes = sink.take();
    return r;
}

ByteBuffer deflateRaw(const std::uint8_t* data, std::size_t size, int level, int windowBits) {
    z_stream z{};
    if (deflateInit2(&z, level, Z_DEFLATED, -windowBits, 8, Z_DEFAULT_STRATEGY) != Z_OK) return {};
    // deflateBound speaks of one call; larger inputs go through in pieces, with stored
    // blocks of 5 bytes' overhead per 16 KiB at worst.
    const std::uint64_t bound =
        std::max<std::uint64_t>(deflateBound(&z, static_cast<uLong>(std::min(size, kZlibChunk))),
                                static_cast<std::uint64_t>(size) + size / 3000 + 64);
    ByteBuffer out = ByteBuffer::uninitialized(static_cast<std::size_t>(bound));
    if (out.size() != bound) {
        deflateEnd(&z);
        return {};
    }
    std::size_t fed = 0, written = 0;
    int ret = Z_OK;
    while (ret == Z_OK) {
        if (z.avail_in == 0 && fed < size) {
            const std::size_t n = std::min(size - fed, kZlibChunk);
            z.next_in = const_cast<Bytef*>(data + fed);
            z.avail_in = static_cast<uInt>(n);
            fed += n;
        }
        const std::size_t room = std::min<std::size_t>(out.size() - written, kZlibChunk);
        if (room == 0) break;
        z.next_out = out.mutableData() + written;
        z.avail_out = static_cast<uInt>(room);
        ret = deflate(&z, fed == size ? Z_FINISH : Z_NO_FLUSH);
        written += room - z.avail_out;
    }
    deflateEnd(&z);
    if (ret != Z_STREAM_END) return {};
    return out.slice(0, written);
}

}  // namespace kerbilo::zip::detail
