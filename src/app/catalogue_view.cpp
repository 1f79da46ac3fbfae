#include "app/catalogue_view.h"

#include "app/texts.h"
#include "runtime/byte_ops.h"

namespace kerbilo {

void WindowOpenView::taken(const Text& path) {
    ui_.setMenuItemDisabled(MenuItem::Save, true);
    ui_.setWindowTitle(concatText({"Kerbilo - ", path}));
    ui_.clearTree();
    // Nothing of the new file is selected yet, so nothing of the old one may show.
    ui_.setPictureData(Pane::Main, {});
}

void WindowOpenView::kindBegins(const Text& name) {
    ui_.setStatusText(
        concatText({app_text::parsingKindPrefix(), name, app_text::parsingKindSuffix()}));
}

void WindowOpenView::headFound(std::int64_t at) {
    // A file can hold millions of heads: the text's buffer is kept from one to the next.
    const std::size_t prefix = app_text::parsingPrefix().size();
    if (status_.size() < prefix) status_ = app_text::parsingPrefix();
    status_.resize(prefix);
    status_ += intToText(at + 1);
    ui_.setStatusText(status_);
}

void WindowOpenView::kindFound(const ResourceCatalogue& catalogue, int first, int count) {
    publishKindGroup(ui_, progress_, catalogue, first, count);
}

void WindowOpenView::scanned() {
    ui_.setStatusText(app_text::parsingDone());
    if (ui_.treeItemCount() > 0) ui_.expandTreeItem(0);
    ui_.redrawControl(Control::Tree);
}

Text groupText(const ResourceCatalogue& catalogue, int n) {
    // A kind of programs' pictures is named as what it holds ("图标资源"), not by a format
    // a signature stands for.
    const ResourceOrigin* origin = catalogue.origin(n);
    const Text group = origin && origin->program
                           ? catalogue.kindNameOf(n)
                           : concatText({catalogue.kindNameOf(n), app_text::groupSuffix()});
    // Found inside compressed data: a group of its own after the file's, so said.
    if (origin && origin->container < 0)
        return concatText({group, app_text::insideCompressedGroup()});
    return group;
}

void publishKindGroup(UiServices& ui, Progress& progress, const ResourceCatalogue& catalogue,
                      int first, int count) {
    const int group = ui.addTreeItem(-1, groupText(catalogue, first));
    // The part of the kind's stage kept for the tree: a million nodes take seconds.
    progress.beginLaterPart(count);
    for (int i = 0; i < count; ++i) {
        progress.step();
        if (progress.cancelled()) return;  // the open is being undone
        const int n = first + i;
        ui.addTreeItem(group, resourceLabel(catalogue, n), n);
        progress.reached(i + 1);
    }
}

void publishCatalogue(UiServices& ui, const ResourceCatalogue& catalogue) {
    NoProgress quiet;
    for (int first = 1; first <= catalogue.size();) {
        int next = first + 1;
        while (next <= catalogue.size() && !catalogue.startsKind(next)) ++next;
        publishKindGroup(ui, quiet, catalogue, first, next - first);
        first = next;
    }
}

int resourceOfItem(UiServices& ui, const ResourceCatalogue& catalogue, int item) {
    const std::int64_t n = ui.treeItemData(item);
    return catalogue.contains(n) ? static_cast<int>(n) : 0;
}

}  // namespace kerbilo
