#pragma once
// The catalogue as the tree shows it: one group per kind with matches, one node per
// resource labelled with its label position in hexadecimal and carrying its number.

#include "scan/document.h"

namespace kerbilo {

// Adds the group "name格式资源" and one child per resource before+1 … before+added,
// labelled with its label position in hexadecimal; one progress step per child, which
// moves the share over the part of the stage kept for later work.
void publishKindGroup(Services& services, const ResourceCatalogue& catalogue, const Text& name,
                      int before, int added);

// The whole catalogue as a scan publishes it: a group per kind that has resources, in the
// order they were found. For a tree to be shown again after it was emptied.
void publishCatalogue(Services& services, const ResourceCatalogue& catalogue);

// The resource number of tree item `item`, or 0 when it is no resource of this catalogue.
int resourceOfItem(UiServices& ui, const ResourceCatalogue& catalogue, int item);

// The kind name of a resource item: its group's text less "格式资源".
Text kindNameOfItem(UiServices& ui, int item);

}  // namespace kerbilo
