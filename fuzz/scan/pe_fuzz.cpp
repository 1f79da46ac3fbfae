// Input: any bytes, read as a Windows image. Every resource the reader gives lies inside the
// bytes where rvaToOffset says; and for small images whose directory was read whole, two
// changed sets of resources (one that fits in place, one that needs a new directory) are
// written back and read back exactly, with a true checksum when there was one and anything
// was written.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "scan/pe_image.h"

namespace {

using namespace kerbilo;

void check(bool ok) {
    if (!ok) std::abort();
}

bool keyLess(const pe::ResourceData& a, const pe::ResourceData& b) {
    if (a.type < b.type || b.type < a.type) return a.type < b.type;
    if (a.name < b.name || b.name < a.name) return a.name < b.name;
    return a.language < b.language;
}

// Sorted by key; of several with one key, the last given is kept when `unique`.
std::vector<pe::ResourceData> byKey(std::vector<pe::ResourceData> set, bool unique) {
    std::stable_sort(set.begin(), set.end(), keyLess);
    if (!unique) return set;
    std::vector<pe::ResourceData> out;
    for (std::size_t i = 0; i < set.size(); ++i)
        if (i + 1 == set.size() || keyLess(set[i], set[i + 1])) out.push_back(set[i]);
    return out;
}

void writeAndReread(const std::uint8_t* data, std::size_t size, const pe::Image& image,
                    const std::vector<pe::ResourceData>& set) {
    const pe::WriteResult w = pe::writeResources(data, size, image, set);
    if (w.status != pe::WriteStatus::Written) {
        check(w.splices.empty());
        return;
    }
    for (std::size_t i = 0; i < w.splices.size(); ++i) {
        const pe::Splice& s = w.splices[i];
        check(s.offset >= 0 && s.oldLength >= 0);
        check(static_cast<std::uint64_t>(s.offset + s.oldLength) <= size);
        if (i > 0) check(w.splices[i - 1].offset + w.splices[i - 1].oldLength < s.offset);
    }
    const ByteBuffer out = pe::applySplices(data, size, w.splices);
    const auto again = pe::readImage(out.data(), out.size());
    check(again.has_value());
    check(!again->resourcesDamaged);
    // Written in place, the directory keeps its order, which need not be sorted.
    std::vector<pe::ResourceData> got;
    for (const pe::ResourceEntry& r : again->resources)
        got.push_back({r.type, r.name, r.language, r.codePage,
                       out.slice(static_cast<std::size_t>(r.dataOffset), r.size)});
    got = byKey(std::move(got), false);
    const std::vector<pe::ResourceData> want = byKey(set, true);
    check(got.size() == want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        const pe::ResourceData& g = got[i];
        const pe::ResourceData& w = want[i];
        check(g.type == w.type && g.name == w.name && g.language == w.language);
        check(g.codePage == w.codePage && g.bytes == w.bytes);
    }
    if (image.checksum != 0 && !w.splices.empty())
        check(again->checksum ==
              pe::computeChecksum(out.data(), out.size(), again->checksumOffset));
    if (w.certificateRemoved)
        check(again->certificateTable.address == 0 && again->certificateTable.size == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const bool looks = pe::looksLikeImage(data, size);
    pe::Limits limits;
    limits.maxVisits = 100'000;
    limits.maxNameUnits = 1'000'000;
    const auto image = pe::readImage(data, size, limits);
    if (!image) return 0;
    check(looks);
    check(image->extent >= 0 && static_cast<std::uint64_t>(image->extent) <= size);
    for (const pe::ResourceEntry& r : image->resources) {
        check(r.dataOffset >= 0 && static_cast<std::uint64_t>(r.dataOffset) + r.size <= size);
        check(r.entryOffset >= 0 && static_cast<std::uint64_t>(r.entryOffset) + 16 <= size);
        check(pe::rvaToOffset(*image, r.dataRva, r.size) == r.dataOffset);
    }
    pe::computeChecksum(data, size, image->checksumOffset);
    if (size > (std::size_t{1} << 16) || image->resourcesDamaged) return 0;

    std::vector<pe::ResourceData> set;
    for (const pe::ResourceEntry& r : image->resources)
        set.push_back(
            {r.type, r.name, r.language, r.codePage, ByteBuffer(data + r.dataOffset, r.size / 2)});
    writeAndReread(data, size, *image, set);
    set.push_back({pe::ResourceName::number(pe::kTypeRcData),
                   {true, 0, u"FUZZ"},
                   pe::ResourceName::number(1033),
                   1252,
                   ByteBuffer::fromText("added")});
    if (!set.empty()) set.front().bytes = ByteBuffer(data, std::min<std::size_t>(size, 100));
    writeAndReread(data, size, *image, set);
    return 0;
}
