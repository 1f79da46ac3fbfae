#include "ui/services/qt/preorder_tree_model.h"

#include <algorithm>

#include "runtime/gbk.h"

namespace kerbilo {

PreorderTreeModel::PreorderTreeModel(QObject* parent)
    : QAbstractItemModel(parent), root_(std::make_unique<Block>()) {}

PreorderTreeModel::~PreorderTreeModel() = default;

void PreorderTreeModel::clear() {
    beginResetModel();
    root_ = std::make_unique<Block>();
    endResetModel();
}

PreorderTreeModel::Place PreorderTreeModel::find(int index) const {
    if (index < 0 || index >= root_->subtree) return {nullptr, -1};
    Block* block = root_.get();
    for (;;) {
        int row = index;
        if (!block->starts.empty()) {
            const auto it = std::upper_bound(block->starts.begin(), block->starts.end(), index);
            row = static_cast<int>(it - block->starts.begin()) - 1;
        }
        const int offset = index - block->start(row);
        if (offset == 0) return {block, row};
        block = block->nodes[row].kids.get();
        index = offset - 1;
    }
}

int PreorderTreeModel::indexOf(const Block* block, int row) const {
    int index = block->start(row);
    while (block->parentBlock) {
        index += 1 + block->parentBlock->start(block->parentRow);
        block = block->parentBlock;
    }
    return index;
}

int PreorderTreeModel::add(int parent, const Text& text, std::int64_t data) {
    const Place at = find(parent);
    Block* block = root_.get();
    QModelIndex parentIndex;
    if (at.block) {
        Node& owner = at.block->nodes[at.row];
        if (!owner.kids) {
            // The owner's block stops being all leaves: its offsets must now be stored.
            if (at.block->starts.empty()) {
                at.block->starts.resize(at.block->nodes.size());
                for (std::size_t i = 0; i < at.block->starts.size(); ++i)
                    at.block->starts[i] = static_cast<int>(i);
            }
            owner.kids = std::make_unique<Block>();
            owner.kids->parentBlock = at.block;
            owner.kids->parentRow = at.row;
        }
        block = owner.kids.get();
        parentIndex = createIndex(at.row, 0, at.block);
    }
    const int row = static_cast<int>(block->nodes.size());
    beginInsertRows(parentIndex, row, row);
    if (!block->starts.empty()) block->starts.push_back(block->subtree);
    block->nodes.push_back(Node{text, data, nullptr});
    // Every enclosing block grows by one; rows after the path shift by one.
    for (Block* b = block; b;) {
        ++b->subtree;
        Block* up = b->parentBlock;
        if (!up) break;
        for (std::size_t r = static_cast<std::size_t>(b->parentRow) + 1; r < up->starts.size(); ++r)
            ++up->starts[r];
        b = up;
    }
    endInsertRows();
    return indexOf(block, row);
}

Text PreorderTreeModel::text(int index) const {
    const Place at = find(index);
    return at.block ? at.block->nodes[at.row].text : Text();
}

std::int64_t PreorderTreeModel::data(int index) const {
    const Place at = find(index);
    return at.block ? at.block->nodes[at.row].data : 0;
}

int PreorderTreeModel::parentOf(int index) const {
    const Place at = find(index);
    if (!at.block || !at.block->parentBlock) return -1;
    return indexOf(at.block->parentBlock, at.block->parentRow);
}

QModelIndex PreorderTreeModel::modelIndex(int index) const {
    const Place at = find(index);
    return at.block ? createIndex(at.row, 0, at.block) : QModelIndex();
}

int PreorderTreeModel::preorderIndex(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != this) return -1;
    return indexOf(static_cast<const Block*>(index.internalPointer()), index.row());
}

const PreorderTreeModel::Block* PreorderTreeModel::blockOf(const QModelIndex& parent) const {
    if (!parent.isValid()) return root_.get();
    const auto* block = static_cast<const Block*>(parent.internalPointer());
    return block->nodes[parent.row()].kids.get();
}

QModelIndex PreorderTreeModel::index(int row, int column, const QModelIndex& parent) const {
    const Block* block = blockOf(parent);
    if (!block || column != 0 || row < 0 || row >= static_cast<int>(block->nodes.size())) return {};
    return createIndex(row, 0, const_cast<Block*>(block));
}

QModelIndex PreorderTreeModel::parent(const QModelIndex& child) const {
    if (!child.isValid()) return {};
    const auto* block = static_cast<const Block*>(child.internalPointer());
    if (!block->parentBlock) return {};
    return createIndex(block->parentRow, 0, block->parentBlock);
}

int PreorderTreeModel::rowCount(const QModelIndex& parent) const {
    if (parent.column() > 0) return 0;
    const Block* block = blockOf(parent);
    return block ? static_cast<int>(block->nodes.size()) : 0;
}

bool PreorderTreeModel::hasChildren(const QModelIndex& parent) const {
    return rowCount(parent) > 0;
}

QVariant PreorderTreeModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole)) return {};
    const auto* block = static_cast<const Block*>(index.internalPointer());
    // Asked only when the pointer rests on one item, so a describer may do real work.
    if (role == Qt::ToolTipRole && toolTip) return toolTip(indexOf(block, index.row()));
    return QString::fromStdString(gbkToUtf8(block->nodes[index.row()].text));
}

Qt::ItemFlags PreorderTreeModel::flags(const QModelIndex& index) const {
    Qt::ItemFlags f = QAbstractItemModel::flags(index);
    // A group is not dragged: only what the window's drag data says can be.
    if (dragData && index.isValid() && data(preorderIndex(index)) != 0) f |= Qt::ItemIsDragEnabled;
    return f;
}

QStringList PreorderTreeModel::mimeTypes() const {
    return {QStringLiteral("text/uri-list")};
}

QMimeData* PreorderTreeModel::mimeData(const QModelIndexList& indexes) const {
    if (!dragData || indexes.isEmpty()) return nullptr;
    return dragData(preorderIndex(indexes.front()));
}

}  // namespace kerbilo
