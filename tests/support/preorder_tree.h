#pragma once
// A tree kept as a flat list in depth-first pre-order, which is how the logic addresses
// items. Items are compact (24 bytes; short texts inline) because a file can hold millions
// of nested resources, and appending under the last top-level item, what a scan does, is
// constant time.

#include <cstdint>
#include <deque>
#include <vector>

#include "app/ui_services.h"
#include "runtime/byte_buffer.h"

namespace kerbilo {

class PreorderTree {
  public:
    void clear();
    // Appends as the last child of parent, or as the last top-level item when parent
    // addresses no item; returns the new index. Later items shift by one.
    int add(int parent, const Text& text, std::int64_t data);

    int count() const { return static_cast<int>(items_.size()); }
    bool valid(int i) const { return i >= 0 && i < count(); }
    Text text(int index) const;
    std::int64_t data(int index) const;
    int parent(int index) const;

    // The selection moves with its item when items are inserted before it.
    int selected() const { return valid(selected_) ? selected_ : -1; }
    void select(int index) { selected_ = index; }

  private:
    static constexpr std::size_t kInline = 11;
    static constexpr std::uint8_t kLongText = 0xFF;
    struct Item {
        std::int64_t data;
        std::int32_t parent;
        std::uint8_t length;  // kLongText: text holds an index into longTexts_
        char text[kInline];
    };
    static_assert(sizeof(Item) == 24);

    int depth(int i) const;
    Item makeItem(int parent, const Text& text, std::int64_t data);

    std::deque<Item> items_;
    std::vector<Text> longTexts_;
    int lastTopLevel_ = -1;
    int selected_ = -1;
};

// The tree operations of the UI services over a PreorderTree, for bindings that keep the
// tree themselves instead of in a widget (the console, the test double).
class TreeKeepingUi : public UiServices {
  public:
    void select(int index) { tree_.select(index); }

    void clearTree() override { tree_.clear(); }
    int addTreeItem(int parent, const Text& text, std::int64_t itemData = 0) override {
        return tree_.add(parent, text, itemData);
    }
    int treeItemCount() override { return tree_.count(); }
    Text treeItemText(int index) override { return tree_.text(index); }
    std::int64_t treeItemData(int index) override { return tree_.data(index); }
    int treeItemParent(int index) override { return tree_.parent(index); }
    int selectedTreeItem() override { return tree_.selected(); }
    void selectTreeItem(int index) override { tree_.select(tree_.valid(index) ? index : -1); }

  protected:
    PreorderTree tree_;
};

}  // namespace kerbilo
