// Input: any bytes, searched for ZIP archives. Archives lie inside the bytes in order and
// apart, their entries inside them; the search from landmarks finds the same; every entry reads
// under small limits without passing them; and for small inputs, an entry of each sound archive
// written back with new content reads back exactly, with the archive otherwise as it was.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "fuzz_limits.h"
#include "scan/zip_archive.h"

namespace {

using namespace kerbilo;

void check(bool ok) {
    if (!ok) std::abort();
}

const zip::InflateLimits& kLimits = fuzzing::kInflateLimits;

void writeAndReread(const std::uint8_t* data, std::size_t size, const zip::Archive& a,
                    std::size_t index, const ByteBuffer& content) {
    const zip::Rewritten w = zip::replaceEntry(data, size, a, index, content);
    if (w.status != zip::WriteStatus::Written) {
        check(w.splices.empty());
        return;
    }
    for (std::size_t i = 0; i < w.splices.size(); ++i) {
        const Splice& s = w.splices[i];
        check(s.offset >= a.begin && s.oldLength >= 0 && s.offset + s.oldLength <= a.end);
        if (i > 0) check(w.splices[i - 1].offset + w.splices[i - 1].oldLength < s.offset);
    }
    const ByteBuffer out = applySplices(data, size, w.splices);
    const auto again = zip::findArchives(out.data(), out.size());
    const auto same = std::find_if(again.begin(), again.end(),
                                   [&](const zip::Archive& b) { return b.begin == a.begin; });
    check(same != again.end());
    check(!same->damaged && same->entries.size() == a.entries.size());
    std::uint64_t spent = 0;
    const zip::Inflated got =
        zip::readEntry(out.data(), out.size(), same->entries[index], zip::InflateLimits{}, spent);
    check(got.stop == zip::Stop::None && got.bytes == content);
    for (std::size_t i = 0; i < a.entries.size(); ++i)
        check(same->entries[i].name == a.entries[i].name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto archives = zip::findArchives(data, size);
    if (const auto landmarks = findLandmarks(data, size)) {
        const auto same = zip::findArchives(data, size, &*landmarks);
        check(same.size() == archives.size());
        for (std::size_t i = 0; i < same.size(); ++i)
            check(same[i].begin == archives[i].begin && same[i].end == archives[i].end &&
                  same[i].entries.size() == archives[i].entries.size());
    }
    std::int64_t free = 0;
    std::uint64_t spent = 0;
    for (const zip::Archive& a : archives) {
        check(a.begin >= free && a.begin <= a.end && static_cast<std::uint64_t>(a.end) <= size);
        free = a.end;
        check(!a.hasCentralDirectory ||
              (a.centralDirectory >= a.begin && a.endRecord >= a.centralDirectory &&
               a.endRecord + 22 <= a.end));
        std::int64_t entryFree = a.begin;
        for (const zip::Entry& e : a.entries) {
            check(e.localHeader >= entryFree && e.data > e.localHeader && e.data <= a.end);
            entryFree = e.data;
            const std::uint64_t spentBefore = spent;
            const zip::Inflated got = zip::readEntry(data, size, e, kLimits, spent);
            check(got.bytes.size() <= kLimits.maxStreamBytes);
            check(spent == spentBefore + got.bytes.size() && spent <= kLimits.maxTotalBytes);
            check(got.consumed <= size - static_cast<std::uint64_t>(e.data));
            if (got.stop == zip::Stop::None) check(got.bytes.size() == e.size);
        }
    }
    if (size > (1 << 16)) return 0;
    for (const zip::Archive& a : archives) {
        if (a.damaged || !a.hasCentralDirectory) continue;
        for (std::size_t i = 0; i < a.entries.size() && i < 3; ++i) {
            writeAndReread(data, size, a, i, ByteBuffer::fromText("new content"));
            writeAndReread(data, size, a, i, ByteBuffer(data, std::min<std::size_t>(size, 300)));
        }
    }
    return 0;
}
