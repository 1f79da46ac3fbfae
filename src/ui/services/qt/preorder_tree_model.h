#pragma once
// A tree addressed both by Qt model indexes and by pre-order position. Children live in
// per-parent blocks; a block of leaves needs no offset table, so the usual shape (a few
// groups of many leaves, always appended to the last group) adds, finds and climbs in
// constant time, and a million leaves cost little more than their texts.

#include <QtCore/QAbstractItemModel>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "runtime/byte_buffer.h"

namespace kerbilo {

class PreorderTreeModel final : public QAbstractItemModel {
  public:
    explicit PreorderTreeModel(QObject* parent = nullptr);
    ~PreorderTreeModel() override;

    void clear();
    int add(int parent, const Text& text, std::int64_t data);
    int count() const { return root_->subtree; }
    Text text(int index) const;
    std::int64_t data(int index) const;
    int parentOf(int index) const;

    QModelIndex modelIndex(int index) const;
    int preorderIndex(const QModelIndex& index) const;

    QModelIndex index(int row, int column, const QModelIndex& parent) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent) const override;
    int columnCount(const QModelIndex&) const override { return 1; }
    bool hasChildren(const QModelIndex& parent) const override;
    QVariant data(const QModelIndex& index, int role) const override;

    // The tooltip of the item at a pre-order index; unset: the item's own text.
    std::function<QString(int index)> toolTip;
    // What dragging the item at a pre-order index out of the view carries; null: it cannot
    // be dragged. Unset: nothing can.
    std::function<QMimeData*(int index)> dragData;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;

  private:
    struct Block;
    struct Node {
        Text text;
        std::int64_t data = 0;
        std::unique_ptr<Block> kids;
    };
    struct Block {
        Block* parentBlock = nullptr;  // null for the top level
        int parentRow = -1;
        std::vector<Node> nodes;
        // Pre-order offset of each row inside the block; empty while every row is a leaf,
        // when the offset is the row itself.
        std::vector<int> starts;
        int subtree = 0;  // items in all rows and their descendants

        int start(int row) const { return starts.empty() ? row : starts[row]; }
    };
    struct Place {
        Block* block;
        int row;
    };

    Place find(int index) const;
    int indexOf(const Block* block, int row) const;
    const Block* blockOf(const QModelIndex& parent) const;

    std::unique_ptr<Block> root_;
};

}  // namespace kerbilo
