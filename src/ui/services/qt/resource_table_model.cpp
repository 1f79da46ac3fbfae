#include "ui/services/qt/resource_table_model.h"

#include <algorithm>

#include "ui/services/qt/qt_text.h"

namespace kerbilo {

namespace {

constexpr int kPollMs = 30;

bool numeric(TableColumn column) {
    return column == TableColumn::Number || column == TableColumn::Size ||
           column == TableColumn::Frames;
}

}  // namespace

ResourceTableModel::ResourceTableModel(std::function<const Document*()> document, QObject* parent)
    : QAbstractTableModel(parent), document_(std::move(document)) {
    poll_.setInterval(kPollMs);
    connect(&poll_, &QTimer::timeout, this, [this] { collect(); });
    connect(&feed_, &QTimer::timeout, this, [this] { feed(); });
    reload();
}

const Document* ResourceTableModel::document() const {
    return document_ ? document_() : nullptr;
}

void ResourceTableModel::reload() {
    ++generation_;
    inspector_.forget();
    const Document* doc = document();
    const int count = doc ? doc->catalogue.size() : 0;
    facts_.assign(static_cast<std::size_t>(count) + 1, std::nullopt);
    asked_.assign(static_cast<std::size_t>(count) + 1, 0);
    resortPending_ = false;
    feedFrom_ = 0;
    feed_.stop();
    if (needsInspection(static_cast<TableColumn>(sortColumn_)) || filter_.wantsFacts()) askForAll();
    rebuildRows();
}

void ResourceTableModel::askForAll() {
    feedFrom_ = 1;
    resortPending_ = true;
    if (!feed_.isActive()) feed_.start(0);
}

void ResourceTableModel::feed() {
    constexpr int kRowsATurn = 4000;
    const int count = static_cast<int>(facts_.size()) - 1;
    const int last = std::min(count, feedFrom_ + kRowsATurn - 1);
    for (int n = feedFrom_; n <= last; ++n)
        if (!facts_[static_cast<std::size_t>(n)]) ask(n, false);
    feedFrom_ = last + 1;
    if (feedFrom_ <= count) return;
    feedFrom_ = 0;
    feed_.stop();
    // What is left is collecting: the rows are made again once all have come.
    if (!poll_.isActive()) poll_.start();
}

void ResourceTableModel::rebuildRows() {
    const Document* doc = document();
    const int count = doc ? doc->catalogue.size() : 0;
    std::vector<int> order;
    if (doc && count + 1 == static_cast<int>(facts_.size())) {
        const auto by = static_cast<TableColumn>(sortColumn_);
        order = sortedResources(*doc, by, sortOrder_ == Qt::AscendingOrder, facts_);
        if (!filter_.empty())
            std::erase_if(order, [&](int n) { return !filter_.matches(*doc, n, facts(n)); });
    }
    if (order.size() != order_.size()) {
        // Rows come and go: the views start over, and the window selects again.
        beginResetModel();
        order_ = std::move(order);
        rows_.assign(static_cast<std::size_t>(count) + 1, -1);
        for (std::size_t row = 0; row < order_.size(); ++row)
            rows_[static_cast<std::size_t>(order_[row])] = static_cast<int>(row);
        endResetModel();
    } else {
        emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
        const QModelIndexList before = persistentIndexList();
        std::vector<int> resources;
        resources.reserve(static_cast<std::size_t>(before.size()));
        for (const QModelIndex& i : before) resources.push_back(resourceAt(i.row()));
        order_ = std::move(order);
        rows_.assign(static_cast<std::size_t>(count) + 1, -1);
        for (std::size_t row = 0; row < order_.size(); ++row)
            rows_[static_cast<std::size_t>(order_[row])] = static_cast<int>(row);
        QModelIndexList after;
        after.reserve(before.size());
        for (qsizetype i = 0; i < before.size(); ++i)
            after.push_back(
                index(rowOf(resources[static_cast<std::size_t>(i)]), before[i].column()));
        changePersistentIndexList(before, after);
        emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    }
    if (rowsChanged) rowsChanged();
}

void ResourceTableModel::setFilter(ResourceFilter filter) {
    filter_ = std::move(filter);
    if (filter_.wantsFacts()) askForAll();
    rebuildRows();
}

int ResourceTableModel::resourceAt(int row) const {
    return row >= 0 && row < static_cast<int>(order_.size()) ? order_[static_cast<std::size_t>(row)]
                                                             : 0;
}

int ResourceTableModel::rowOf(int n) const {
    return n > 0 && n < static_cast<int>(rows_.size()) ? rows_[static_cast<std::size_t>(n)] : -1;
}

const Inspection* ResourceTableModel::facts(int n) const {
    if (n <= 0 || n >= static_cast<int>(facts_.size())) return nullptr;
    const auto& f = facts_[static_cast<std::size_t>(n)];
    return f ? &*f : nullptr;
}

int ResourceTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(order_.size());
}

int ResourceTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kTableColumnCount;
}

QVariant ResourceTableModel::data(const QModelIndex& index, int role) const {
    const auto column = static_cast<TableColumn>(index.column());
    if (role == Qt::TextAlignmentRole)
        return numeric(column) ? QVariant(Qt::AlignRight | Qt::AlignVCenter)
                               : QVariant(Qt::AlignLeft | Qt::AlignVCenter);
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) return {};
    const Document* doc = document();
    const int n = resourceAt(index.row());
    // While an open runs the document is being rebuilt under the rows shown so far.
    if (!doc || n == 0 || n > doc->catalogue.size()) return {};
    const Inspection* known = facts(n);
    // The row's tooltip tells the whole verdict with its reason, as the tree's does.
    if (role == Qt::ToolTipRole)
        return known ? QVariant(toQt(describeInspection(*known, doc->catalogue.dataLength(n))))
                     : QVariant();
    if (needsInspection(column) && !known) ask(n, true);
    return toQt(tableCell(*doc, n, column, known));
}

QVariant ResourceTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= kTableColumnCount)
        return {};
    return toQt(tableColumnTitle(static_cast<TableColumn>(section)));
}

void ResourceTableModel::ask(int n, bool urgent) const {
    const Document* doc = document();
    if (!doc || n <= 0 || n > doc->catalogue.size() || n >= static_cast<int>(asked_.size())) return;
    auto& asked = asked_[static_cast<std::size_t>(n)];
    // 1: asked with the rest, 2: asked for the screen. A row asked with the rest moves up
    // once when it comes on screen; a row on screen is asked once however often it paints.
    const char wanted = urgent ? 2 : 1;
    if (asked >= wanted) return;
    asked = wanted;
    inspector_.ask(generation_, n, inspectionInput(*doc, n), urgent);
    if (!poll_.isActive()) poll_.start();
}

void ResourceTableModel::collect() {
    std::vector<int> arrived;
    for (BackgroundInspector::Result& r : inspector_.take()) {
        if (r.generation != generation_ || r.n >= static_cast<int>(facts_.size())) continue;
        facts_[static_cast<std::size_t>(r.n)] = std::move(r.facts);
        arrived.push_back(r.n);
    }
    for (const int n : arrived) {
        const int row = rowOf(n);
        if (row >= 0)
            emit dataChanged(index(row, static_cast<int>(TableColumn::Format)),
                             index(row, static_cast<int>(TableColumn::Verdict)));
        if (factsArrived) factsArrived(n);
    }
    if (!inspector_.idle() || feedFrom_ != 0) return;
    poll_.stop();
    if (resortPending_) {
        resortPending_ = false;
        rebuildRows();
    }
}

void ResourceTableModel::sort(int column, Qt::SortOrder order) {
    if (column < 0 || column >= kTableColumnCount) return;
    sortColumn_ = column;
    sortOrder_ = order;
    // Rows not inspected yet go last; when all are, the order is made again.
    if (needsInspection(static_cast<TableColumn>(column))) askForAll();
    rebuildRows();
}

Qt::ItemFlags ResourceTableModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = QAbstractTableModel::flags(index);
    if (dragData && index.isValid()) f |= Qt::ItemIsDragEnabled;
    return f;
}

QStringList ResourceTableModel::mimeTypes() const {
    return {QStringLiteral("text/uri-list")};
}

QMimeData* ResourceTableModel::mimeData(const QModelIndexList& indexes) const {
    if (!dragData || indexes.isEmpty()) return nullptr;
    return dragData(resourceAt(indexes.front().row()));
}

}  // namespace kerbilo
