#include "preorder_tree.h"

#include <cstring>

namespace kerbilo {

void PreorderTree::clear() {
    std::deque<Item>().swap(items_);  // give the memory back, not just the size
    longTexts_.clear();
    lastTopLevel_ = -1;
    selected_ = -1;
}

PreorderTree::Item PreorderTree::makeItem(int parent, const Text& text, std::int64_t data) {
    Item item{data, parent, 0, {}};
    if (text.size() <= kInline) {
        item.length = static_cast<std::uint8_t>(text.size());
        std::memcpy(item.text, text.data(), text.size());
    } else {
        item.length = kLongText;
        const auto index = static_cast<std::uint32_t>(longTexts_.size());
        longTexts_.push_back(text);
        std::memcpy(item.text, &index, sizeof index);
    }
    return item;
}

int PreorderTree::depth(int i) const {
    int d = 0;
    for (int p = items_[static_cast<std::size_t>(i)].parent; p >= 0;
         p = items_[static_cast<std::size_t>(p)].parent)
        ++d;
    return d;
}

int PreorderTree::add(int parent, const Text& text, std::int64_t data) {
    if (!valid(parent)) {
        items_.push_back(makeItem(-1, text, data));
        lastTopLevel_ = count() - 1;
        return lastTopLevel_;
    }
    std::size_t at = items_.size();
    if (parent != lastTopLevel_) {  // rare: a child for an earlier subtree
        const int pd = depth(parent);
        at = static_cast<std::size_t>(parent) + 1;
        while (at < items_.size() && depth(static_cast<int>(at)) > pd) ++at;
    }
    const int index = static_cast<int>(at);
    if (at < items_.size()) {
        for (Item& it : items_)
            if (it.parent >= index) ++it.parent;
        if (lastTopLevel_ >= index) ++lastTopLevel_;
        if (selected_ >= index) ++selected_;
    }
    items_.insert(items_.begin() + index, makeItem(parent, text, data));
    return index;
}

Text PreorderTree::text(int index) const {
    if (!valid(index)) return {};
    const Item& it = items_[static_cast<std::size_t>(index)];
    if (it.length != kLongText) return Text(it.text, it.length);
    std::uint32_t i = 0;
    std::memcpy(&i, it.text, sizeof i);
    return longTexts_[i];
}

std::int64_t PreorderTree::data(int index) const {
    return valid(index) ? items_[static_cast<std::size_t>(index)].data : 0;
}

int PreorderTree::parent(int index) const {
    return valid(index) ? items_[static_cast<std::size_t>(index)].parent : -1;
}

}  // namespace kerbilo
