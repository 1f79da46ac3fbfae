// Input: any bytes, searched for gzip members and zlib streams, the first byte choosing
// ranges to skip. Streams lie inside the bytes, in order, apart and outside the skipped
// ranges, none passing the limits; the search from landmarks finds the same; and for small
// inputs, the first written back with part
// of its content is found there again holding exactly that.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <utility>
#include <vector>

#include "fuzz_limits.h"
#include "scan/zip_archive.h"

namespace {

using namespace kerbilo;

void check(bool ok) {
    if (!ok) std::abort();
}

const zip::InflateLimits& kLimits = fuzzing::kInflateLimits;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::vector<std::pair<std::int64_t, std::int64_t>> skip;
    if (size > 0 && (data[0] & 1)) {
        const auto n = static_cast<std::int64_t>(size);
        skip = {{n / 2, n / 2 + 3}, {n / 5, n / 4}, {-5, 1}};
    }
    std::uint64_t spent = 0;
    const auto streams = zip::findStreams(data, size, kLimits, spent, skip);
    check(spent <= kLimits.maxTotalBytes);
    std::int64_t free = 0;
    for (const zip::Stream& s : streams) {
        const auto end = s.offset + static_cast<std::int64_t>(s.inflated.consumed);
        check(s.offset >= free && end > s.offset && static_cast<std::uint64_t>(end) <= size);
        for (const auto& [b, e] : skip) check(end <= std::max<std::int64_t>(b, 0) || s.offset >= e);
        check(s.inflated.bytes.size() <= kLimits.maxStreamBytes);
        free = end;
    }
    if (const auto landmarks = findLandmarks(data, size)) {
        std::uint64_t again = 0;
        const auto same = zip::findStreams(data, size, kLimits, again, skip, &*landmarks);
        check(same.size() == streams.size() && again == spent);
        for (std::size_t i = 0; i < same.size(); ++i)
            check(same[i].offset == streams[i].offset &&
                  same[i].inflated.consumed == streams[i].inflated.consumed);
    }
    if (size > (1 << 16) || streams.empty()) return 0;
    const zip::Stream& first = streams.front();
    const ByteBuffer content = first.inflated.bytes.slice(0, first.inflated.bytes.size() / 2);
    const zip::Rewritten w = zip::replaceStream(data, size, first, content);
    if (w.status != zip::WriteStatus::Written) {
        check(w.splices.empty());
        return 0;
    }
    check(w.splices.size() == 1 && w.splices[0].offset == first.offset &&
          w.splices[0].oldLength == static_cast<std::int64_t>(first.inflated.consumed) &&
          w.splices[0].bytes.size() == first.inflated.consumed);
    const ByteBuffer out = applySplices(data, size, w.splices);
    const std::int64_t end = first.offset + static_cast<std::int64_t>(first.inflated.consumed);
    const auto again =
        zip::findStreams(out.data(), out.size(), zip::InflateLimits{}, spent,
                         {{0, first.offset}, {end, static_cast<std::int64_t>(size)}});
    check(!again.empty() && again[0].offset == first.offset);
    check(again[0].inflated.stop == zip::Stop::None && again[0].inflated.bytes == content);
    return 0;
}
