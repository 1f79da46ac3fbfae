#include <iterator>

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
    return {false, files.lastFailure()};
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
    struct Field {
        enum class Kind { Text, Number, Missing };
        Field() = default;
        explicit Field(std::string v) : value(std::move(v)), kind(Kind::Text) {}
        Field(std::string v, bool) : value(std::move(v)), kind(Kind::Number) {}
        std::string value;
        Kind kind = Kind::Missing;  // empty in TSV, null in JSON
    };

  public:
    Manifest() {
        for (const char* c : manifestColumns()) {
            if (!tsv_.empty()) tsv_ += '\t';
            tsv_ += c;
        }
        tsv_ += '\n';
    }

    void add(const Document& doc, int n, const Text& kind, const Text& label, const Text& path) {
        const ByteBuffer data = doc.catalogue.data(n);
        // The structure walk, not the decoder: the manifest says nothing of the pane.
        const Inspection what = inspectCatalogued(doc, n, false);
        const bool picture = what.format != PictureFormat::None;
        const auto number = [](std::int64_t v) { return Field{std::to_string(v), true}; };
        const auto count = [](int v) { return v > 0 ? Field{std::to_string(v), true} : Field{}; };
        const Field fields[] = {
            number(n),
            Field{gbkToUtf8(kind)},
            Field{gbkToUtf8(label)},
            number(doc.catalogue.openedOffset(n)),
            number(bufferLength(data)),
            Field{sha256Hex(data.data(), data.size())},
            Field{gbkToUtf8(path)},
            picture ? Field{pictureFormatName(what.format)} : Field{},
            count(what.width),
            count(what.height),
            picture ? count(what.frames) : Field{},
            Field{verdictName(what.verdict)},
        };
        std::string json = "{";
        for (std::size_t i = 0; i < std::size(fields); ++i) {
            const Field& f = fields[i];
            if (i) {
                tsv_ += '\t';
                json += ',';
            }
            tsv_ += tsvField(f.value);
            appendJsonString(json, manifestColumns()[i]);
            json += ':';
            if (f.value.empty() && f.kind != Field::Kind::Text)
                json += "null";
            else if (f.kind == Field::Kind::Number)
                json += f.value;
            else
                appendJsonString(json, f.value);
        }
        tsv_ += '\n';
        jsonl_ += json + "}\n";
    }

    const std::string& tsv() const { return tsv_; }
    const std::string& jsonl() const { return jsonl_; }

  private:
    std::string tsv_;
    std::string jsonl_;
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
    Manifest manifest;
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
        const FileError folderFailure = made ? FileError{} : files.lastFailure();
        const Text label = resourceLabel(catalogue, n);
        const Text path = concatText({folder, "/", label, ".", suffix});
        if (files.writeWholeFile(path, catalogue.data(n))) {
            ++report.written;
            manifest.add(doc, n, catalogue.kindName(catalogue.kindOf(n)), label, path);
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
