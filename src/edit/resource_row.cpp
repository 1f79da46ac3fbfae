#include "edit/resource_row.h"

#include "runtime/gbk.h"
#include "runtime/sha256.h"
#include "scan/inspection.h"

namespace kerbilo {

namespace {

const char* columnName(RowColumn column) {
    switch (column) {
        case RowColumn::Number:
            return "number";
        case RowColumn::Kind:
            return "kind";
        case RowColumn::Label:
            return "label";
        case RowColumn::Offset:
            return "offset";
        case RowColumn::Length:
            return "length";
        case RowColumn::Format:
            return "format";
        case RowColumn::Width:
            return "width";
        case RowColumn::Height:
            return "height";
        case RowColumn::Frames:
            return "frames";
        case RowColumn::Verdict:
            return "verdict";
        case RowColumn::Extent:
            return "extent";
        case RowColumn::Sha256:
            return "sha256";
        case RowColumn::Path:
            return "path";
        case RowColumn::Source:
            return "source";
        case RowColumn::Reason:
            return "reason";
    }
    return "";
}

// A size or a frame count of 0 is one the walk did not find.
Cell positive(int v) {
    return v > 0 ? Cell::number(v) : Cell::null();
}

}  // namespace

std::vector<std::string> columnNames(const std::vector<RowColumn>& columns) {
    std::vector<std::string> names;
    names.reserve(columns.size());
    for (const RowColumn c : columns) names.emplace_back(columnName(c));
    return names;
}

Judged judgeResource(const Document& doc, int n) {
    const ByteBuffer data = doc.catalogue.data(n);
    return {inspectCatalogued(doc, n, false), sha256Hex(data.data(), data.size())};
}

void ResourceRow::appendCells(const std::vector<RowColumn>& columns,
                              std::vector<Cell>& cells) const {
    const Inspection* what = judged ? &judged->what : nullptr;
    const bool picture = what && what->format != PictureFormat::None;
    for (const RowColumn c : columns) {
        switch (c) {
            case RowColumn::Number:
                cells.push_back(Cell::number(number));
                break;
            case RowColumn::Kind:
                cells.push_back(Cell::text(kind));
                break;
            case RowColumn::Label:
                cells.push_back(Cell::text(label));
                break;
            case RowColumn::Offset:
                cells.push_back(Cell::number(offset));
                break;
            case RowColumn::Length:
                cells.push_back(Cell::number(length));
                break;
            case RowColumn::Format:
                cells.push_back(picture ? Cell::text(pictureFormatName(what->format))
                                        : Cell::null());
                break;
            case RowColumn::Width:
                cells.push_back(what ? positive(what->width) : Cell::null());
                break;
            case RowColumn::Height:
                cells.push_back(what ? positive(what->height) : Cell::null());
                break;
            case RowColumn::Frames:
                // Only a picture has frames to count.
                cells.push_back(picture ? positive(what->frames) : Cell::null());
                break;
            case RowColumn::Verdict:
                cells.push_back(what ? Cell::text(verdictName(what->verdict)) : Cell::null());
                break;
            case RowColumn::Extent:
                cells.push_back(what && what->extent ? Cell::number(*what->extent) : Cell::null());
                break;
            case RowColumn::Sha256:
                cells.push_back(judged ? Cell::text(judged->sha256) : Cell::null());
                break;
            case RowColumn::Path:
                cells.push_back(Cell::text(path));
                break;
            case RowColumn::Source:
                cells.push_back(Cell::text(source));
                break;
            case RowColumn::Reason:
                cells.push_back(what && what->reason != Reason::None
                                    ? Cell::text(describeReason(what->reason, what->reasonItem))
                                    : Cell::null());
                break;
        }
    }
}

ResourceRow ResourceRows::row(int n, std::optional<Judged> judged) {
    const int kind = catalogue_.kindOf(n);
    if (kind != kind_) {
        kind_ = kind;
        kindName_ = gbkToUtf8(catalogue_.kindName(kind));
    }
    ResourceRow r;
    r.number = n;
    r.kind = kindName_;
    // Hexadecimal digits: the same bytes in GBK and UTF-8.
    r.label = resourceLabel(catalogue_, n);
    r.offset = catalogue_.openedOffset(n);
    r.length = catalogue_.dataLength(n);
    r.judged = std::move(judged);
    if (const ResourceOrigin* origin = catalogue_.origin(n)) r.source = gbkToUtf8(origin->source);
    return r;
}

}  // namespace kerbilo
