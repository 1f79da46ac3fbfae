#include "scan/inspection.h"

#include <algorithm>

#include "runtime/byte_ops.h"

namespace kerbilo {

Inspection inspectCatalogued(const Document& doc, int n, bool decode) {
    const ByteBuffer& bytes = doc.file.bytes;
    const Slot slot = doc.catalogue.slot(n);
    const auto from = static_cast<std::size_t>(
        std::min<std::int64_t>(slot.offset, static_cast<std::int64_t>(bytes.size())));
    const ByteBuffer data = doc.catalogue.data(n);
    // A resource found by structure is the file composed from it, not the bytes it was
    // found at (an icon's image without its directory): that file is what is judged.
    if (doc.catalogue.origin(n))
        return inspectResource({data.data(), data.size()}, bufferLength(data),
                               {data.data(), data.size()}, {}, decode);
    return inspectResource({bytes.data() + from, bytes.size() - from}, bufferLength(data),
                           {data.data(), data.size()}, {}, decode);
}

}  // namespace kerbilo
