#include "scan/container_scan.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "config/hex_codec.h"
#include "runtime/byte_ops.h"
#include "runtime/gbk.h"
#include "scan/pe_pictures.h"
#include "scan/structure_scan.h"

namespace kerbilo {

namespace {

KERBILO_GBK_TEXT(streamLimitKey, "单个数据流解压上限")
KERBILO_GBK_TEXT(totalLimitKey, "解压总量上限")

Text hexOffset(std::int64_t v) {
    return concatText({"0x", formatHex(v)});
}

// Length of the UTF-8 character at s[i], 0 when none starts there.
std::size_t utf8Length(const std::string& s, std::size_t i) {
    const auto c = static_cast<unsigned char>(s[i]);
    std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return 0;
    for (std::size_t k = 1; k < n; ++k)
        if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return 0;
    return n;
}

// A found picture before it has its number: its kind (the kinds file's, in order, then the
// kinds of programs' pictures), where its label points, its bytes and its source.
struct Inner {
    std::vector<PackedStep> chain;
    std::int64_t innerOffset;
    std::int64_t innerLength;
    int kind;
    std::int64_t label;
    std::int64_t slotLength;  // the outermost container's bytes in the file
    ByteBuffer data;
    Text source;
    Text suffix;
};

// A picture's data as its kind gives it: the fills in place of the head's first byte and
// after the tail.
ByteBuffer matchData(const ByteBuffer& bytes, const KindMatch& m, const KindToScan& kind) {
    const auto off = static_cast<std::size_t>(m.offset);
    const auto len = static_cast<std::size_t>(m.stretch);
    if (kind.tailFill.empty() && kind.headFill.size() == 1 && kind.headFill[0] == bytes[off])
        return bytes.slice(off, len);
    return concatBytes({kind.headFill, bytes.slice(off + 1, len - 1), kind.tailFill});
}

class Walker {
  public:
    Walker(Progress& progress, const KindsFile& kindsFile, const OpenOptions& options,
           const ContainerScanLimits& limits)
        : progress_(progress), limits_(limits) {
        for (int k = 1; k <= std::min(kindsFile.count(), kindsFile.highestNamed()); ++k)
            if (auto kind = readKindToScan(kindsFile, progress, k, options)) {
                suffixes_.push_back(kindsFile.suffix(kind->name));
                kinds_.push_back(std::move(*kind));
            }
    }

    // Everything inside the archives and streams of `bytes`; `chain` names bytes (empty for
    // the file), `label` is where the outermost container starts in the file.
    void containersOf(const ByteBuffer& bytes, const Text& chain, int depth,
                      std::optional<LocatedContainers> located = std::nullopt) {
        if (progress_.cancelled()) return;
        std::vector<std::pair<std::int64_t, std::int64_t>> archives;
        if (!located) {
            located.emplace();
            located->archives = zip::findArchives(bytes.data(), bytes.size());
        }
        const std::vector<zip::Archive>& found = located->archives;
        for (std::size_t ordinal = 0; ordinal < found.size(); ++ordinal) {
            const zip::Archive& a = found[ordinal];
            archives.emplace_back(a.begin, a.end);
            if (a.damaged)
                stops.push_back(
                    {link(chain,
                          a.begin == 0 ? Text("zip") : concatText({"zip@", hexOffset(a.begin)})),
                     zip::Stop::None, ContainerStop::Why::ArchiveDamaged});
            const Text at =
                a.begin == 0 ? Text("zip:") : concatText({"zip@", hexOffset(a.begin), ":"});
            for (std::size_t index = 0; index < a.entries.size(); ++index) {
                const zip::Entry& e = a.entries[index];
                const Text source = link(chain, concatText({at, escapedEntryName(e.name, e.utf8)}));
                const std::int64_t label = chain.empty() ? e.localHeader : label_;
                const std::int64_t extent =
                    chain.empty()
                        ? e.data + static_cast<std::int64_t>(e.compressedSize) - e.localHeader
                        : extent_;
                if (e.encrypted) {
                    stops.push_back({source, zip::Stop::Encrypted});
                    continue;
                }
                const zip::Inflated in =
                    zip::readEntry(bytes.data(), bytes.size(), e, limits_.inflate, spent_);
                if (in.stop != zip::Stop::None) stops.push_back({source, in.stop});
                path_.push_back({false, static_cast<int>(ordinal), static_cast<int>(index)});
                inside(in.bytes, source, false, label, extent, depth);
                path_.pop_back();
            }
        }
        if (located->streamsFound)
            spent_ += located->spent;
        else
            located->streams =
                zip::findStreams(bytes.data(), bytes.size(), limits_.inflate, spent_, archives);
        const std::vector<zip::Stream>& streams = located->streams;
        for (std::size_t ordinal = 0; ordinal < streams.size(); ++ordinal) {
            const zip::Stream& s = streams[ordinal];
            const Text source =
                link(chain, concatText({s.kind == zip::StreamKind::Gzip ? "gzip@" : "zlib@",
                                        hexOffset(s.offset)}));
            if (s.inflated.stop != zip::Stop::None) stops.push_back({source, s.inflated.stop});
            path_.push_back({true, static_cast<int>(ordinal), 0});
            inside(s.inflated.bytes, source, true, chain.empty() ? s.offset : label_,
                   chain.empty() ? static_cast<std::int64_t>(s.inflated.consumed) : extent_, depth);
            path_.pop_back();
        }
    }

    std::vector<Inner> found;
    std::vector<ContainerStop> stops;
    std::size_t kindCount() const { return kinds_.size(); }
    const KindToScan& kind(std::size_t k) const { return kinds_[k]; }

  private:
    // Whether the content holds an archive, for the depth limit to be said only when it
    // left something unopened.
    static bool holdsContainers(const ByteBuffer& content) {
        return !zip::findArchives(content.data(), content.size()).empty();
    }

    static Text link(const Text& chain, const Text& next) {
        return chain.empty() ? next : concatText({chain, ">", next});
    }
    // A picture at `at` of a container's content: "+0x…" after a stream always, after an
    // entry when it does not start the entry.
    static Text where(const Text& source, bool stream, std::int64_t at) {
        if (!stream && at == 0) return source;
        return concatText({source, "+", hexOffset(at)});
    }

    // The pictures of one container's content, then the containers inside it.
    void inside(const ByteBuffer& content, const Text& source, bool stream, std::int64_t label,
                std::int64_t extent, int depth) {
        if (content.empty() || progress_.cancelled()) return;
        const std::int64_t outerLabel = label_, outerExtent = extent_;
        label_ = label;
        extent_ = extent;
        progress_.step();
        const std::vector<ZeroStretch> none;
        for (std::size_t k = 0; k < kinds_.size(); ++k) {
            const KindToScan& kind = kinds_[k];
            KindSearch(content.data(), content.size(), kind.head, kind.tail, kind.byFormat, none)
                .advance(
                    content.size(), progress_, [](std::int64_t) {},
                    [&](const KindMatch& m) {
                        found.push_back({path_, m.offset, m.stretch, static_cast<int>(k), label,
                                         extent, matchData(content, m, kind),
                                         where(source, stream, m.offset), suffixes_[k]});
                    });
        }
        // Windows programs inside: a self-extractor's payload, a program in an archive.
        for (const std::int64_t at : locatePrograms(content.data(), content.size()))
            if (auto image = pe::readImage(content.data() + at,
                                           content.size() - static_cast<std::size_t>(at))) {
                for (pe::FoundPicture& p : pe::findPictures(content, at, *image))
                    found.push_back(
                        {path_, at, -1, static_cast<int>(kinds_.size()) + static_cast<int>(p.kind),
                         label, extent, std::move(p.data),
                         link(where(source, stream, at), pe::resourceSource(0, *p.entry)),
                         std::move(p.suffix)});
            }
        if (depth + 1 < limits_.maxDepth)
            containersOf(content, source, depth + 1);
        else if (holdsContainers(content))
            stops.push_back({source, zip::Stop::None, ContainerStop::Why::Depth});
        label_ = outerLabel;
        extent_ = outerExtent;
    }

    Progress& progress_;
    ContainerScanLimits limits_;
    std::vector<KindToScan> kinds_;
    std::vector<Text> suffixes_;
    std::uint64_t spent_ = 0;
    std::int64_t label_ = 0;
    std::int64_t extent_ = 0;
    std::vector<PackedStep> path_;  // the steps to the content being scanned
};

}  // namespace

LocatedContainers locateContainers(const ByteBuffer& bytes, const ContainerScanLimits& limits) {
    LocatedContainers located;
    const std::optional<Landmarks> landmarks = findLandmarks(bytes.data(), bytes.size());
    const Landmarks* ahead = landmarks ? &*landmarks : nullptr;
    located.programs = locatePrograms(bytes.data(), bytes.size(), ahead);
    located.archives = zip::findArchives(bytes.data(), bytes.size(), ahead);
    std::vector<std::pair<std::int64_t, std::int64_t>> skip;
    for (const zip::Archive& a : located.archives) skip.emplace_back(a.begin, a.end);
    located.streams =
        zip::findStreams(bytes.data(), bytes.size(), limits.inflate, located.spent, skip, ahead);
    located.streamsFound = true;
    return located;
}

std::optional<OpenedStep> openStep(const ByteBuffer& bytes, const PackedStep& step,
                                   const zip::InflateLimits& limits) {
    std::uint64_t spent = 0;
    const std::vector<zip::Archive> archives = zip::findArchives(bytes.data(), bytes.size());
    OpenedStep opened;
    if (!step.stream) {
        if (step.ordinal >= static_cast<int>(archives.size())) return std::nullopt;
        const zip::Archive& a = archives[static_cast<std::size_t>(step.ordinal)];
        if (step.entry >= static_cast<int>(a.entries.size())) return std::nullopt;
        zip::Inflated in =
            zip::readEntry(bytes.data(), bytes.size(),
                           a.entries[static_cast<std::size_t>(step.entry)], limits, spent);
        if (in.stop != zip::Stop::None) return std::nullopt;
        opened.content = std::move(in.bytes);
        opened.archive = a;
        return opened;
    }
    std::vector<std::pair<std::int64_t, std::int64_t>> skip;
    for (const zip::Archive& a : archives) skip.emplace_back(a.begin, a.end);
    std::vector<zip::Stream> streams =
        zip::findStreams(bytes.data(), bytes.size(), limits, spent, skip);
    if (step.ordinal >= static_cast<int>(streams.size())) return std::nullopt;
    zip::Stream& s = streams[static_cast<std::size_t>(step.ordinal)];
    if (s.inflated.stop != zip::Stop::None) return std::nullopt;
    opened.content = s.inflated.bytes;
    opened.stream = std::move(s);
    return opened;
}

Text escapedEntryName(const std::string& name, bool utf8) {
    (void)utf8;  // names without the flag are often UTF-8 all the same; others escape
    std::string out;
    for (std::size_t i = 0; i < name.size();) {
        const auto c = static_cast<unsigned char>(name[i]);
        const std::size_t n = utf8Length(name, i);
        if (n == 0 || c < 0x20 || c == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
            ++i;
            continue;
        }
        out.append(name, i, n);
        i += n;
    }
    return utf8ToGbk(out);
}

ContainerScanLimits containerScanLimits(const KindsFile& kindsFile) {
    ContainerScanLimits limits;
    const auto mib = [&](const Text& key, std::uint64_t& value) {
        const int v = textToInt(kindsFile.setting(key));
        if (v > 0) value = static_cast<std::uint64_t>(v) << 20;
    };
    mib(streamLimitKey(), limits.inflate.maxStreamBytes);
    mib(totalLimitKey(), limits.inflate.maxTotalBytes);
    return limits;
}

std::vector<ContainerStop> scanCompressed(Services& services, Document& doc,
                                          const KindsFile& kindsFile, const OpenOptions& options,
                                          OpenEvents& events,
                                          std::optional<LocatedContainers> located) {
    Walker walker(services.progress, kindsFile, options, containerScanLimits(kindsFile));
    walker.containersOf(doc.file.bytes, {}, 0, std::move(located));
    if (services.progress.cancelled()) return {};
    // Kind by kind, each in the order found: a kind's resources are numbered together.
    std::stable_sort(walker.found.begin(), walker.found.end(),
                     [](const Inner& a, const Inner& b) { return a.kind < b.kind; });
    for (std::size_t i = 0; i < walker.found.size();) {
        const int k = walker.found[i].kind;
        const bool signature = static_cast<std::size_t>(k) < walker.kindCount();
        const Text name = signature ? walker.kind(static_cast<std::size_t>(k)).name
                                    : pe::pictureKindName(static_cast<pe::PictureKind>(
                                          k - static_cast<int>(walker.kindCount())));
        events.kindBegins(name);
        const int kind = doc.catalogue.addKind(name, {}, {});
        const int first = doc.catalogue.size() + 1;
        for (; i < walker.found.size() && walker.found[i].kind == k; ++i) {
            Inner& f = walker.found[i];
            events.headFound(f.label);
            ResourceOrigin origin;
            origin.container = -1;  // inside compressed data
            origin.source = std::move(f.source);
            origin.suffix = std::move(f.suffix);
            origin.program = !signature;
            origin.chain = std::move(f.chain);
            origin.innerOffset = f.innerOffset;
            origin.innerLength = f.innerLength;
            doc.catalogue.appendFound(kind, f.label, std::max<std::int64_t>(f.slotLength, 1),
                                      std::move(f.data), std::move(origin));
        }
        events.kindFound(doc.catalogue, first, doc.catalogue.size() - first + 1);
    }
    return walker.stops;
}

}  // namespace kerbilo
