#include <memory>
#include <optional>
#include <ostream>
#include <streambuf>
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

// Hands what a stream prints to a file being written.
class WriterStreamBuf final : public std::streambuf {
  public:
    explicit WriterStreamBuf(FileWriter& writer) : writer_(writer) {}

  protected:
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        return writer_.write(std::string_view(s, static_cast<std::size_t>(n))) ? n : 0;
    }
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
        const char ch = traits_type::to_char_type(c);
        return writer_.write(std::string_view(&ch, 1)) ? c : traits_type::eof();
    }

  private:
    FileWriter& writer_;
};

// One manifest file, its rows written as they come: a million resources need no copy of
// their records in memory. It shows under its name only once finished.
class ManifestFile {
  public:
    ManifestFile(FileServices& files, Text path, Listing::Format format,
                 std::vector<std::string> columns)
        : path_(std::move(path)),
          writer_(files.startFile(path_)),
          buf_(*writer_),
          out_(&buf_),
          listing_(out_, format, std::move(columns)) {}

    void row(const std::vector<Cell>& cells) { listing_.row(cells); }
    std::optional<ExportFailure> finish() {
        listing_.finish();
        if (writer_->finish()) return std::nullopt;
        return ExportFailure{path_, writer_->failure(), {}};
    }

  private:
    Text path_;
    std::unique_ptr<FileWriter> writer_;
    WriterStreamBuf buf_;
    std::ostream out_;
    Listing listing_;
};

// The records of the files written, as manifest.tsv and manifest.jsonl hold them; started
// with the first file written, as none is written when no file is.
class Manifest {
  public:
    Manifest(FileServices& files, const Document& doc, const Text& folder, bool jsonLines,
             bool sourceColumn)
        : files_(files),
          doc_(doc),
          folder_(folder),
          rows_(doc.catalogue),
          jsonLines_(jsonLines),
          columns_(columns(sourceColumn)) {}

    // `judged`: what was already found out about resource n, if anything.
    void add(int n, const Text& path, std::optional<Judged> judged = std::nullopt) {
        if (!tsv_) {
            tsv_.emplace(files_, concatText({folder_, "/manifest.tsv"}), Listing::Format::Tsv,
                         columnNames(columns_));
            if (jsonLines_)
                jsonl_.emplace(files_, concatText({folder_, "/manifest.jsonl"}),
                               Listing::Format::Jsonl, columnNames(columns_));
        }
        ResourceRow row = rows_.row(n, judged ? std::move(judged) : judgeResource(doc_, n));
        row.path = gbkToUtf8(path);
        cells_.clear();
        row.appendCells(columns_, cells_);
        tsv_->row(cells_);
        if (jsonl_) jsonl_->row(cells_);
    }

    // Puts the manifests under their names: the TSV one, then the JSON Lines one. Why the
    // first that could not be, if one could not.
    std::optional<ExportFailure> finish() {
        if (!tsv_) return std::nullopt;
        if (std::optional<ExportFailure> failed = tsv_->finish()) return failed;
        return jsonl_ ? jsonl_->finish() : std::nullopt;
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
    FileServices& files_;
    const Document& doc_;
    Text folder_;
    ResourceRows rows_;
    bool jsonLines_;
    std::vector<RowColumn> columns_;
    std::vector<Cell> cells_;
    std::optional<ManifestFile> tsv_;
    std::optional<ManifestFile> jsonl_;
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
    Manifest manifest(files, doc, folder, options.jsonLinesManifest,
                      options.sourceColumn || kindsFile.structureScan());
    // The progress counts what the tree shows: each kind's group, then its resources.
    int groups = 0;
    for (int n = 1; n <= catalogue.size(); ++n) groups += catalogue.startsKind(n);
    services.progress.beginStage(1.0, catalogue.size() + groups);
    Text suffix;
    // Only a catalogue with programs' pictures can name one path twice by design.
    const bool structures = catalogue.hasOrigins();
    std::unordered_set<Text> taken;
    // Made once, before the first file (none when nothing is kept): it usually exists after
    // the first export, and that failure is harmless. Its reason is kept in case a write
    // fails too and no folder is there: then it is the cause.
    bool tried = false;
    bool made = false;
    FileError folderFailure;
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
        // Judged once: the manifest records what the choice was made on.
        std::optional<Judged> judged;
        if (options.verdicts) {
            judged = judgeResource(doc, n);
            if (!options.verdicts->has(judged->what.verdict)) continue;
        }
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
        if (!tried) {
            tried = true;
            made = files.createDirectory(folder);
            folderFailure = made ? FileError{} : files.lastFailure();
        }
        bool written = files.writeWholeFile(path, catalogue.data(n));
        // The folder went away meanwhile: made again, as each file would have it.
        if (!written && !files.pathExists(folder)) {
            made = files.createDirectory(folder);
            folderFailure = made ? FileError{} : files.lastFailure();
            if (made) written = files.writeWholeFile(path, catalogue.data(n));
        }
        if (written) {
            ++report.written;
            manifest.add(n, path, std::move(judged));
        } else if (!made && !files.pathExists(folder)) {
            report.failures.push_back({path, folderFailure, folder});
        } else {
            report.failures.push_back({path, files.lastFailure(), {}});
        }
        if (options.written) options.written(n);
    }
    report.manifestFailure = manifest.finish();
    return report;
}

}  // namespace kerbilo
