#include "scan/inspection.h"

#include <algorithm>

#include "runtime/byte_ops.h"

namespace kerbilo {

InspectionInput inspectionInput(const Document& doc, int n) {
    const ByteBuffer& bytes = doc.file.bytes;
    ByteBuffer data = doc.catalogue.data(n);
    const std::int64_t length = bufferLength(data);
    // A resource found by structure is the file composed from it, not the bytes it was
    // found at (an icon's image without its directory): that file is what is judged.
    if (doc.catalogue.origin(n)) return {data, length, data};
    const auto from = static_cast<std::size_t>(
        std::min<std::int64_t>(doc.catalogue.slot(n).offset, bufferLength(bytes)));
    return {bytes.slice(from, bytes.size() - from), length, std::move(data)};
}

Inspection inspectInput(const InspectionInput& input, bool decode) {
    const ByteBuffer& from = input.fromResourceStart;
    return inspectResource({from.data(), from.size()}, input.length,
                           {input.data.data(), input.data.size()}, {}, decode);
}

Inspection inspectCatalogued(const Document& doc, int n, bool decode) {
    return inspectInput(inspectionInput(doc, n), decode);
}

}  // namespace kerbilo
