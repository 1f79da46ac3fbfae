#include <sstream>
#include <unordered_set>

#include "config/config_files.h"
#include "edit/edit.h"
#include "edit/resource_row.h"
#include "edit/texts.h"
#include "runtime/byte_ops.h"
#include "runtime/gbk.h"
#include "runtime/text_records.h"

namespace kerbilo {

Text exportSuffix(const KindsFile& kindsFile, const ResourceCatalogue& catalogue, int n) {
    if (const ResourceOrigin* origin = catalogue.origin(n)) return origin->suffix;
    return kindsFile.suffix(catalogue.kindNameOf(n));
}

WriteResult exportResourceTo(FileServices& files, const ResourceCatalogue& catalogue, int n,
                             const Text& path) {
    if (files.writeWholeFile(path, catalogue.data(n))) return {true, {}};
    return {false, files.lastFailure()};
}

namespace {

// The records of the files written, as manifest.tsv and manifest.jsonl hold them.
class Manifest {
  public:
    Manifest(const Document& doc, bool jsonLines, bool sourceColumn)
        : doc_(doc), rows_(doc.catalogue), jsonLines_(jsonLines), columns_(columns(sourceColumn)) {}

    void add(int n, const Text& path) {
        ResourceRow row = rows_.row(n, judgeResource(doc_, n));
        row.path = gbkToUtf8(path);
        std::vector<Cell> cells;
        row.appendCells(columns_, cells);
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
    static std::vector<RowColumn> columns(bool source) {
        using C = RowColumn;
        std::vector<RowColumn> columns = {C::Number, C::Kind,   C::Label,  C::Offset,
                                          C::Length, C::Sha256, C::Path,   C::Format,
                                          C::Width,  C::Height, C::Frames, C::Verdict};
        if (source) columns.push_back(C::Source);
        return columns;
    }
    const Document& doc_;
    ResourceRows rows_;
    bool jsonLines_;
    std::vector<RowColumn> columns_;
    std::ostringstream tsvOut_;
    std::ostringstream jsonlOut_;
    Listing tsv_{tsvOut_, Listing::Format::Tsv, columnNames(columns_)};
    Listing jsonl_{jsonlOut_, Listing::Format::Jsonl, columnNames(columns_)};
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
    const ResourceCatalogue& catalogue = doc.catalogue;
    const KindsFile kindsFile = KindsFile::read(files);
    Manifest manifest(doc, options.jsonLinesManifest,
                      options.sourceColumn || kindsFile.structureScan());
    // The progress counts what the tree shows: each kind's group, then its resources.
    int groups = 0;
    for (int n = 1; n <= catalogue.size(); ++n) groups += catalogue.startsKind(n);
    services.progress.beginStage(1.0, catalogue.size() + groups);
    Text suffix;
    // Only a catalogue with programs' pictures can name one path twice by design.
    const bool structures = catalogue.hasOrigins();
    std::unordered_set<Text> taken;
    for (int n = 1, item = 0; n <= catalogue.size(); ++n, ++item) {
        if (catalogue.startsKind(n)) {
            services.progress.reached(item++);
            services.progress.step();
            suffix = exportSuffix(kindsFile, catalogue, n);
        }
        // A resource found by structure has the suffix of what it was composed as.
        if (const ResourceOrigin* origin = catalogue.origin(n)) suffix = origin->suffix;
        services.progress.reached(item);
        services.progress.step();
        if (options.keep && !options.keep(n)) continue;
        // Usually exists already after the first; that failure is harmless. Its reason is
        // kept in case the write fails too and no folder is there: then it is the cause.
        const bool made = files.createDirectory(folder);
        const FileError folderFailure = made ? FileError{} : files.lastFailure();
        const Text label = resourceLabel(catalogue, n);
        Text path = concatText({folder, "/", label, ".", suffix});
        // The kinds file may have changed since the scan: a suffix that leaves the folder
        // never becomes a path.
        if (!safeSuffix(suffix)) {
            report.failures.push_back({path, FileError{kUnsafeSuffix, 0, {}}, {}});
            if (options.written) options.written(n);
            continue;
        }
        // A program's picture may lie where a signature found one of the same suffix (a PNG
        // kept whole): it gets a name of its own rather than overwrite that file.
        if (structures) {
            if (catalogue.origin(n) && taken.count(path))
                path = concatText({folder, "/", label, "_", intToText(n), ".", suffix});
            taken.insert(path);
        }
        if (files.writeWholeFile(path, catalogue.data(n))) {
            ++report.written;
            manifest.add(n, path);
        } else if (!made && !files.pathExists(folder)) {
            report.failures.push_back({path, folderFailure, folder});
        } else {
            report.failures.push_back({path, files.lastFailure(), {}});
        }
        if (options.written) options.written(n);
    }
    if (report.written == 0) return report;
    const Text tsvPath = concatText({folder, "/manifest.tsv"});
    if (!files.writeWholeFile(tsvPath, ByteBuffer::fromText(manifest.tsv()))) {
        report.manifestFailure = ExportFailure{tsvPath, files.lastFailure(), {}};
    } else if (options.jsonLinesManifest) {
        const Text jsonlPath = concatText({folder, "/manifest.jsonl"});
        if (!files.writeWholeFile(jsonlPath, ByteBuffer::fromText(manifest.jsonl())))
            report.manifestFailure = ExportFailure{jsonlPath, files.lastFailure(), {}};
    }
    return report;
}

}  // namespace kerbilo
