#include <sstream>

#include "config/config_files.h"
#include "edit/edit.h"
#include "edit/texts.h"
#include "runtime/byte_ops.h"
#include "runtime/gbk.h"
#include "runtime/sha256.h"
#include "runtime/text_records.h"
#include "scan/inspection.h"

namespace kerbilo {

Text exportSuffix(const KindsFile& kindsFile, const ResourceCatalogue& catalogue, int n) {
    return kindsFile.suffix(catalogue.kindName(catalogue.kindOf(n)));
}

WriteResult exportResourceTo(FileServices& files, const ResourceCatalogue& catalogue, int n,
                             const Text& path) {
    if (files.writeWholeFile(path, catalogue.data(n))) return {true, {}};
    return {false, files.lastError()};
}

const std::vector<const char*>& manifestColumns() {
    static const std::vector<const char*> columns = {"number", "kind",   "label",  "offset",
                                                     "length", "sha256", "path",   "format",
                                                     "width",  "height", "frames", "verdict"};
    return columns;
}

namespace {

// The records of the files written, as manifest.tsv and manifest.jsonl hold them.
class Manifest {
  public:
    explicit Manifest(bool jsonLines) : jsonLines_(jsonLines) {}

    void add(const Document& doc, int n, const Text& kind, const Text& label, const Text& path) {
        const ByteBuffer data = doc.catalogue.data(n);
        // The structure walk, not the decoder: the manifest says nothing of the pane.
        const Inspection what = inspectCatalogued(doc, n, false);
        const bool picture = what.format != PictureFormat::None;
        const auto count = [](int v) { return v > 0 ? Cell::number(v) : Cell::null(); };
        const std::vector<Cell> cells = {
            Cell::number(n),
            Cell::text(gbkToUtf8(kind)),
            Cell::text(gbkToUtf8(label)),
            Cell::number(doc.catalogue.openedOffset(n)),
            Cell::number(bufferLength(data)),
            Cell::text(sha256Hex(data.data(), data.size())),
            Cell::text(gbkToUtf8(path)),
            picture ? Cell::text(pictureFormatName(what.format)) : Cell::null(),
            count(what.width),
            count(what.height),
            picture ? count(what.frames) : Cell::null(),
            Cell::text(verdictName(what.verdict)),
        };
        tsv_.row(cells);
        if (jsonLines_) jsonl_.row(cells);
    }

    std::string tsv() {
        tsv_.finish();
        return tsvOut_.str();
    }
    std::string jsonl() {
        jsonl_.finish();
        return jsonlOut_.str();
    }

  private:
    static std::vector<std::string> columns() {
        return {manifestColumns().begin(), manifestColumns().end()};
    }
    bool jsonLines_;
    std::ostringstream tsvOut_;
    std::ostringstream jsonlOut_;
    Listing tsv_{tsvOut_, Listing::Format::Tsv, columns()};
    Listing jsonl_{jsonlOut_, Listing::Format::Jsonl, columns()};
};

}  // namespace

ExportReport exportAllInto(Services& services, const Document& doc, const Text& outputFolder,
                           const ExportAllOptions& options) {
    ExportReport report;
    report.confirmed = true;
    FileServices& files = services.files;
    Text folder = concatText(
        {outputFolder, "/", options.subfolder.empty() ? doc.file.name : options.subfolder});
    if (options.avoidTakenName && files.pathExists(folder) && !files.isDirectory(folder)) {
        const Text base = concatText({folder, edit_text::takenFolderSuffix()});
        folder = base;
        for (int i = 2; files.pathExists(folder) && !files.isDirectory(folder); ++i)
            folder = concatText({base, intToText(i)});
        report.folderRenamed = true;
    }
    report.folder = folder;
    Manifest manifest(options.jsonLinesManifest);
    const ResourceCatalogue& catalogue = doc.catalogue;
    const KindsFile kindsFile = KindsFile::read(files);
    // The progress counts what the tree shows: each kind's group, then its resources.
    int groups = 0;
    for (int n = 1; n <= catalogue.size(); ++n)
        groups += n == 1 || catalogue.kindOf(n) != catalogue.kindOf(n - 1);
    services.progress.beginStage(1.0, catalogue.size() + groups);
    Text suffix;
    for (int n = 1, item = 0; n <= catalogue.size(); ++n, ++item) {
        if (n == 1 || catalogue.kindOf(n) != catalogue.kindOf(n - 1)) {
            services.progress.reached(item++);
            services.progress.step();
            suffix = exportSuffix(kindsFile, catalogue, n);
        }
        services.progress.reached(item);
        services.progress.step();
        // Usually exists already after the first; that failure is harmless. Its reason is
        // kept in case the write fails too and no folder is there: then it is the cause.
        const bool made = files.createDirectory(folder);
        const Text folderReason = made ? Text() : files.lastError();
        const Text label = resourceLabel(catalogue, n);
        const Text path = concatText({folder, "/", label, ".", suffix});
        if (files.writeWholeFile(path, catalogue.data(n))) {
            ++report.written;
            manifest.add(doc, n, catalogue.kindName(catalogue.kindOf(n)), label, path);
        } else if (!made && !files.pathExists(folder)) {
            report.failures.push_back({path, folderReason, folder});
        } else {
            report.failures.push_back({path, files.lastError(), {}});
        }
        if (options.written) options.written(n);
    }
    if (report.written == 0) return report;
    const Text tsvPath = concatText({folder, "/manifest.tsv"});
    if (!files.writeWholeFile(tsvPath, ByteBuffer::fromText(manifest.tsv()))) {
        report.manifestFailure = ExportFailure{tsvPath, files.lastError(), {}};
    } else if (options.jsonLinesManifest) {
        const Text jsonlPath = concatText({folder, "/manifest.jsonl"});
        if (!files.writeWholeFile(jsonlPath, ByteBuffer::fromText(manifest.jsonl())))
            report.manifestFailure = ExportFailure{jsonlPath, files.lastError(), {}};
    }
    return report;
}

}  // namespace kerbilo
