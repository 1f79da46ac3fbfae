#pragma once
// The details view's model: one row a resource of the open document, in the columns of
// app/resource_table.h. Rows show at once from the catalogue; format, size, frames and
// verdict fill in as a worker inspects the rows the view asks for, those on screen first.
// The model holds no copy of what was found: it reads the document it is given, and is
// told to start over when the document changes.

#include <QtCore/QAbstractTableModel>
#include <QtCore/QTimer>
#include <functional>
#include <optional>
#include <vector>

#include "app/resource_filter.h"
#include "app/resource_table.h"

namespace kerbilo {

class ResourceTableModel final : public QAbstractTableModel {
  public:
    explicit ResourceTableModel(std::function<const Document*()> document,
                                QObject* parent = nullptr);

    // Another file, or a resource replaced: rows and facts start over, in the same order
    // of the same column.
    void reload();
    // The resource in `row`, 0 for none; the row of resource n, −1 when it has none.
    int resourceAt(int row) const;
    int rowOf(int n) const;
    // What inspection said of resource n, when it has said it.
    const Inspection* facts(int n) const;
    // Asks for resource n's facts ahead of every other row (the one selected).
    void request(int n) { ask(n, true); }
    // Only the resources that fit `filter` are rows; words about formats and verdicts have
    // every resource inspected, and the rows follow as the facts come.
    void setFilter(ResourceFilter filter);
    const ResourceFilter& filter() const { return filter_; }
    // Which resources are rows changed (a filter, facts that a filter waited for).
    std::function<void()> rowsChanged;
    // What dragging resource n out of the view carries; unset: rows cannot be dragged.
    std::function<QMimeData*(int n)> dragData;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    // Nothing asked is left to inspect.
    bool idle() const { return inspector_.idle() && !resortPending_ && feedFrom_ == 0; }
    // Called when the facts of resource n have arrived.
    std::function<void(int n)> factsArrived;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    void sort(int column, Qt::SortOrder order) override;

  private:
    const Document* document() const;
    // Asks the worker for resource n's facts, unless asked already.
    void ask(int n, bool urgent) const;
    void collect();
    // The rows again: sorted, then filtered.
    void rebuildRows();
    void askForAll();
    // Asks for the next stretch of rows of askForAll, a few thousand a turn of the event
    // loop: asking for a million at once would stall the window.
    void feed();

    std::function<const Document*()> document_;
    std::vector<int> order_;  // row → resource
    std::vector<int> rows_;   // resource → row
    std::vector<std::optional<Inspection>> facts_;
    mutable std::vector<char> asked_;
    mutable BackgroundInspector inspector_;
    std::uint64_t generation_ = 0;
    int sortColumn_ = 0;
    Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
    bool resortPending_ = false;  // sorted or filtered by facts not all known yet: again then
    ResourceFilter filter_;
    mutable QTimer poll_;
    QTimer feed_;
    int feedFrom_ = 0;  // the next resource askForAll has to ask for; 0: none
};

}  // namespace kerbilo
