#include "scan/open.h"

#include <algorithm>
#include <future>
#include <system_error>

#include "config/config_files.h"
#include "runtime/byte_ops.h"
#include "runtime/gbk.h"
#include "scan/scanner.h"
#include "scan/structure_scan.h"

namespace kerbilo {

Text fileNameOf(const Text& path) {
    const std::size_t slash = path.rfind('/');
    Text name = slash == Text::npos ? path : path.substr(slash + 1);
    // The limit is the file system's, on the name's own bytes: a byte that is not UTF-8
    // takes four in the GBK text, so a name of 255 such bytes is 1020 bytes long here.
    if (name.size() > 255 && gbkToUtf8(name).size() > 255) return {};
    return name;
}

namespace {

// How the progress bar divides opening: reading the file, then the scan. Kind by kind,
// each kind takes an equal part, of which filling the tree with its resources takes a
// part; in one sweep, the sweep comes first and then each kind's publishing alike.
constexpr double kReadShare = 0.25;
constexpr double kTreePartOfKind = 0.2;
constexpr double kSweepPartOfScan = 0.6;

}  // namespace

OpenResult openFile(Services& services, Document& doc, const Text& path, const OpenOptions& options,
                    OpenEvents& events) {
    OpenResult result;
    // Read in steps that let the window answer; nothing changes until the read succeeded.
    // A first step lets the window repaint where the file dialog was before reading starts.
    services.progress.beginStage(kReadShare, 0);
    services.progress.step();
    std::optional<ByteBuffer> bytes =
        options.mapFile ? services.files.tryMapWholeFile(path)
                        : services.files.readWholeFileInSteps(path, services.progress);
    if (!bytes || services.progress.cancelled()) {
        result.cancelled = services.progress.cancelled();
        if (!result.cancelled) result.error = services.files.lastFailure();
        return result;
    }
    // Kept until the scan is over: a cancelled open puts it back as if nothing happened.
    Document previous{std::move(doc.file), std::move(doc.catalogue)};
    result.opened = true;
    doc.file = LoadedFile{};
    doc.catalogue = ResourceCatalogue{};
    doc.file.bytes = std::move(*bytes);
    doc.file.name = fileNameOf(path);
    events.taken(path);
    // The kinds as they are now: read once for the whole scan, or once for a whole run.
    const KindsFile kindsFile = options.kinds ? *options.kinds : KindsFile::read(services.files);
    result.kindCount = kindsFile.count();
    doc.catalogue.reset(doc.file.bytes);
    // The file's own archives and streams are looked for on another core while the kinds'
    // sweep runs: on a large file without any, that search is most of what the structure
    // scan costs. The bytes do not change while the open runs.
    const bool structures = options.structureScan || kindsFile.structureScan();
    std::future<LocatedContainers> located;
    if (structures) {
        try {
            located = std::async(std::launch::async,
                                 [bytes = doc.file.bytes, limits = containerScanLimits(kindsFile)] {
                                     return locateContainers(bytes, limits);
                                 });
        } catch (const std::system_error&) {
            // No thread to be had: the scan finds them itself, afterwards.
        }
    }
    // No kind above the highest one named in the file can have a name: a count of a
    // billion with three kinds defined scans three.
    const std::int64_t kinds = std::min<std::int64_t>(result.kindCount, kindsFile.highestNamed());
    result.kindsEncoding = kindsFile.encoding();
    for (std::int64_t k = 1; k <= kinds; ++k)
        if (const Text name = kindsFile.name(static_cast<int>(k));
            !name.empty() && !safeSuffix(kindsFile.suffix(name)))
            result.refusedKinds.push_back(name);
    const double scanShare = 1 - kReadShare;
    if (options.oneSweep) {
        result.kindsScanned = scanKindsInOneSweep(
            services, doc, kindsFile, kinds, options, events,
            {scanShare * kSweepPartOfScan, scanShare * (1 - kSweepPartOfScan), kTreePartOfKind});
    } else {
        for (std::int64_t k = 1; k <= kinds; ++k) {
            services.progress.step();  // skipped kinds let events run too
            services.progress.beginStage(scanShare / static_cast<double>(kinds),
                                         bufferLength(doc.file.bytes), kTreePartOfKind);
            if (services.progress.cancelled()) break;
            if (scanKind(services, doc, kindsFile, static_cast<int>(k), options, events))
                ++result.kindsScanned;
        }
    }
    std::optional<LocatedContainers> found;
    if (located.valid()) found = located.get();  // waited for even when cancelled
    if (!services.progress.cancelled() && structures) {
        scanStructures(services, doc, events,
                       found ? std::optional(std::move(found->programs)) : std::nullopt);
        if (!services.progress.cancelled())
            result.containerStops =
                scanCompressed(services, doc, kindsFile, options, events, std::move(found));
    }
    if (services.progress.cancelled()) {
        doc.file = std::move(previous.file);
        doc.catalogue = std::move(previous.catalogue);
        result.opened = false;
        result.cancelled = true;
        return result;
    }
    events.scanned();
    return result;
}

}  // namespace kerbilo
