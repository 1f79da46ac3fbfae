// Replacing a picture found inside compressed data: the innermost content takes the new
// bytes, each container on the way out is written anew around it (an archive's entry
// recompressed and its directory rewritten, a bare stream recompressed in place), and the
// file takes the outermost splices. The other pictures of the same outermost container
// are read again through their steps.

#include <algorithm>

#include "edit/edit.h"
#include "runtime/byte_ops.h"
#include "scan/container_scan.h"

namespace kerbilo {

namespace {

PutStatus zipStatus(zip::WriteStatus status) {
    switch (status) {
        case zip::WriteStatus::Written:
            return PutStatus::Put;
        case zip::WriteStatus::NoRoom:
            return PutStatus::NoRoomInStream;
        case zip::WriteStatus::Encrypted:
        case zip::WriteStatus::Unsupported:
        case zip::WriteStatus::Damaged:
            break;
    }
    return PutStatus::ContainerDamaged;
}

// The contents from the opened bytes inward along the chain: contents[0] the bytes,
// contents[i + 1] what step i opens, with what it was opened from.
struct Walk {
    std::vector<ByteBuffer> contents;
    std::vector<OpenedStep> steps;
};
std::optional<Walk> walk(const ByteBuffer& bytes, const std::vector<PackedStep>& chain) {
    Walk w;
    w.contents.push_back(bytes);
    for (const PackedStep& step : chain) {
        std::optional<OpenedStep> opened = openStep(w.contents.back(), step);
        if (!opened) return std::nullopt;
        w.contents.push_back(opened->content);
        w.steps.push_back(std::move(*opened));
    }
    return w;
}

// Bytes [at, at + length) of content become data: the whole content when the resource was
// all of it (an entry that is a picture becomes the new picture), else zero-filled when it
// is not longer, so that what follows in the content keeps its place, else in place of them.
ByteBuffer putInto(const ByteBuffer& content, std::int64_t at, std::int64_t length,
                   const ByteBuffer& data) {
    const auto off = static_cast<std::size_t>(at);
    const auto old = static_cast<std::size_t>(length);
    if (off == 0 && old == content.size()) return data;
    if (data.size() <= old) {
        ByteBuffer out = content;
        std::uint8_t* p = out.mutableData();
        if (!p) return {};
        std::copy(data.begin(), data.end(), p + off);
        std::fill(p + off + data.size(), p + off + old, std::uint8_t{0});
        return out;
    }
    return concatBytes({content.slice(0, off), data, content.slice(off + old, content.size())});
}

bool sameChain(const std::vector<PackedStep>& a, const std::vector<PackedStep>& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](const PackedStep& x, const PackedStep& y) {
               return x.stream == y.stream && x.ordinal == y.ordinal && x.entry == y.entry;
           });
}

}  // namespace

PutResult putPackedResource(Document& doc, int n, const ByteBuffer& data) {
    ResourceCatalogue& catalogue = doc.catalogue;
    // Not overwritten: putResourceData asked before it came here.
    PutResult result{PutStatus::Put, bufferLength(data), catalogue.slot(n).length};
    const ResourceOrigin origin = *catalogue.origin(n);
    if (origin.innerLength < 0 || origin.chain.empty()) {
        result.status = PutStatus::InsideCompressed;
        return result;
    }
    std::optional<Walk> w = walk(doc.file.bytes, origin.chain);
    if (!w || origin.innerOffset + origin.innerLength > bufferLength(w->contents.back())) {
        result.status = PutStatus::ContainerDamaged;
        return result;
    }
    const bool wholeContent =
        origin.innerOffset == 0 && origin.innerLength == bufferLength(w->contents.back());
    // Inward out: each content, changed, goes back into the one that holds it.
    ByteBuffer changed = putInto(w->contents.back(), origin.innerOffset, origin.innerLength, data);
    std::vector<Splice> outermost;
    for (std::size_t i = origin.chain.size(); i-- > 0;) {
        const ByteBuffer& holder = w->contents[i];
        const OpenedStep& step = w->steps[i];
        zip::Rewritten rewritten;
        if (step.archive)
            rewritten = zip::replaceEntry(holder.data(), holder.size(), *step.archive,
                                          static_cast<std::size_t>(origin.chain[i].entry), changed);
        else
            rewritten = zip::replaceStream(holder.data(), holder.size(), *step.stream, changed);
        if (rewritten.status != zip::WriteStatus::Written) {
            result.status = zipStatus(rewritten.status);
            return result;
        }
        if (i == 0) {
            outermost = rewritten.splices;
            changed = applySplices(holder.data(), holder.size(), rewritten.splices);
        } else {
            changed = applySplices(holder.data(), holder.size(), rewritten.splices);
        }
        if (changed.empty() && !holder.empty()) {
            result.status = PutStatus::OutOfMemory;
            return result;
        }
    }
    doc.file.bytes = std::move(changed);
    // What earlier replacements overwrote stays so; what these splices overwrite in passing
    // is looked at again below.
    std::vector<bool> before(static_cast<std::size_t>(catalogue.size()) + 1, false);
    for (int m = 1; m <= catalogue.size(); ++m)
        before[static_cast<std::size_t>(m)] = catalogue.overwritten(m);
    for (auto s = outermost.rbegin(); s != outermost.rend(); ++s)
        catalogue.rewriteRange(s->offset, s->oldLength, bufferLength(s->bytes));

    // The pictures of the same outermost archive or stream: where their entry lies now (a
    // writer may rewrite more than the one entry), and in the content that changed, moved
    // or overwritten as slots are.
    const PackedStep top = origin.chain.front();
    const ByteBuffer& bytes = doc.file.bytes;
    // Where each entry of the archive (or the stream) lies in the file now.
    std::vector<Slot> entries;
    std::optional<Slot> stream;
    if (!top.stream) {
        const std::vector<zip::Archive> archives = zip::findArchives(bytes.data(), bytes.size());
        if (top.ordinal < static_cast<int>(archives.size()))
            for (const zip::Entry& e : archives[static_cast<std::size_t>(top.ordinal)].entries)
                entries.push_back(
                    {e.localHeader,
                     e.data + static_cast<std::int64_t>(e.compressedSize) - e.localHeader});
    } else if (const std::optional<OpenedStep> opened = openStep(bytes, top)) {
        stream = Slot{opened->stream->offset,
                      static_cast<std::int64_t>(opened->stream->inflated.consumed)};
    }
    const std::int64_t delta = bufferLength(data) - origin.innerLength;
    const std::int64_t oldEnd = origin.innerOffset + origin.innerLength;
    for (int m = 1; m <= catalogue.size(); ++m) {
        const ResourceOrigin* o = catalogue.origin(m);
        if (!o || o->container >= 0 || o->chain.empty() || before[static_cast<std::size_t>(m)])
            continue;
        const PackedStep& first = o->chain.front();
        if (first.stream != top.stream || first.ordinal != top.ordinal) continue;
        std::optional<Slot> outer = stream;
        if (!top.stream && first.entry < static_cast<int>(entries.size()))
            outer = entries[static_cast<std::size_t>(first.entry)];
        if (!outer) {
            catalogue.markOverwritten(m);
            continue;
        }
        if (m == n) {
            const bool whole = wholeContent;
            catalogue.refreshPacked(
                m, *outer, origin.innerOffset,
                whole ? bufferLength(data) : std::max(bufferLength(data), origin.innerLength),
                data);
            continue;
        }
        std::int64_t at = o->innerOffset;
        if (sameChain(o->chain, origin.chain) && o->innerLength >= 0) {
            if (at >= oldEnd) {
                at += std::max<std::int64_t>(delta, 0);
            } else if (at + o->innerLength > origin.innerOffset) {
                catalogue.markOverwritten(m);
                continue;
            }
        }
        catalogue.refreshPacked(m, *outer, at, o->innerLength, catalogue.data(m));
    }
    return result;
}

}  // namespace kerbilo
