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

// What inspecting resource n takes, held apart from the document (views that share its
// bytes), so that it can be inspected on another thread while the document goes on.
struct InspectionInput {
    ByteBuffer fromResourceStart;
    std::int64_t length = 0;
    ByteBuffer data;
};
InspectionInput inspectionInput(const Document& doc, int n);
Inspection inspectInput(const InspectionInput& input, bool decode = true);

}  // namespace kerbilo
