#pragma once
// The window's tree is a view of the catalogue: one group per kind with resources, named
// "name格式资源", and under it one node per resource, labelled with its label position in
// hexadecimal and carrying its number. Everything the tree shows comes from the catalogue;
// nothing is ever read back from its texts.

#include "app/ui_services.h"
#include "scan/document.h"

namespace kerbilo {

// An open as the window shows it: the title, the Save item, the tree filled kind by kind,
// the status texts and the emptied picture pane, in the order and at the moments they have
// always come.
class WindowOpenView final : public OpenEvents {
  public:
    WindowOpenView(UiServices& ui, Progress& progress) : ui_(ui), progress_(progress) {}

    void taken(const Text& path) override;
    void kindBegins(const Text& name) override;
    void headFound(std::int64_t at) override;
    void kindFound(const ResourceCatalogue& catalogue, int first, int count) override;
    void scanned() override;

  private:
    UiServices& ui_;
    Progress& progress_;
    Text status_;  // "正在解析:" and the last position, reused for every head
};

// Adds the group of resources first … first + count − 1 (one kind) and a node for each; one
// progress step per node, which moves the share over the part of the stage kept for later
// work. Stops early when the progress is cancelled.
void publishKindGroup(UiServices& ui, Progress& progress, const ResourceCatalogue& catalogue,
                      int first, int count);

// The whole catalogue, as the scan published it. For a tree to be shown again.
void publishCatalogue(UiServices& ui, const ResourceCatalogue& catalogue);

// The resource number of tree item `item`, or 0 when it is no resource of this catalogue.
int resourceOfItem(UiServices& ui, const ResourceCatalogue& catalogue, int item);

// The text of the group of resource n's kind: "name格式资源", or the name alone for a kind
// of the structure scan ("图标资源").
Text groupText(const ResourceCatalogue& catalogue, int n);

}  // namespace kerbilo
