#include "scan/tree.h"

#include "config/hex_codec.h"
#include "runtime/byte_ops.h"
#include "scan/texts.h"

namespace kerbilo {

void publishKindGroup(Services& services, const ResourceCatalogue& catalogue, const Text& name,
                      int before, int added) {
    UiServices& ui = services.ui;
    const int group = ui.addTreeItem(-1, concatText({name, scan_text::groupSuffix()}));
    // The part of the kind's stage kept for the tree: a million nodes take seconds.
    services.progress.beginLaterPart(added);
    for (int i = 1; i <= added; ++i) {
        services.progress.step();
        if (services.progress.cancelled()) return;  // the open is being undone
        const int n = before + i;
        ui.addTreeItem(group, formatHex(catalogue.labelPosition(n)), n);
        services.progress.reached(i);
    }
}

void publishCatalogue(Services& services, const ResourceCatalogue& catalogue) {
    // A kind's resources are numbered one after the other, so each run is one group.
    for (int first = 1; first <= catalogue.size();) {
        const int kind = catalogue.kindOf(first);
        int last = first;
        while (last < catalogue.size() && catalogue.kindOf(last + 1) == kind) ++last;
        publishKindGroup(services, catalogue, catalogue.kindName(kind), first - 1,
                         last - first + 1);
        first = last + 1;
    }
}

int resourceOfItem(UiServices& ui, const ResourceCatalogue& catalogue, int item) {
    const std::int64_t n = ui.treeItemData(item);
    return catalogue.contains(n) ? static_cast<int>(n) : 0;
}

Text kindNameOfItem(UiServices& ui, int item) {
    const Text group = ui.treeItemText(ui.treeItemParent(item));
    return leftText(group, textLength(group) - textLength(scan_text::groupSuffix()));
}

}  // namespace kerbilo
