#pragma once
// What a found resource really is, judged on the file as it now stands: the picture format
// walked from the resource's first byte, and its data as the pane would show it.

#include "picture/inspect.h"
#include "scan/document.h"

namespace kerbilo {

// Resource n (1 ≤ n ≤ catalogue size): walked from its slot in the current copy, its
// length the length of its data, its data decoded as the pane would.
// decode false leaves `decodes` unanswered, which is much cheaper.
Inspection inspectCatalogued(const Document& doc, int n, bool decode = true);

}  // namespace kerbilo
