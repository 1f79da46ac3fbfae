#include <cstring>

#include "edit/edit.h"
#include "edit/texts.h"
#include "runtime/byte_ops.h"

namespace kerbilo {

Text growthWarning(std::int64_t newLength, std::int64_t slotLength) {
    return concatText({edit_text::sizeWarningNew(), intToText(newLength),
                       edit_text::sizeWarningOld(), intToText(slotLength),
                       edit_text::sizeWarningQuestion()});
}

PutResult putFoundResource(Document& doc, int n, const ByteBuffer& data);
PutResult putPackedResource(Document& doc, int n, const ByteBuffer& data);

PutResult putResourceData(Document& doc, int n, const ByteBuffer& data, Growth growth) {
    const Slot slot = doc.catalogue.slot(n);
    PutResult result{PutStatus::Put, bufferLength(data), slot.length};
    if (doc.catalogue.overwritten(n)) {
        // Its slot now holds another resource's new bytes, which this would overwrite.
        result.status = PutStatus::Overwritten;
        return result;
    }
    if (const ResourceOrigin* origin = doc.catalogue.origin(n)) {
        if (origin->container < 0) return putPackedResource(doc, n, data);
        return putFoundResource(doc, n, data);
    }
    const auto off = static_cast<std::size_t>(slot.offset);
    const auto oldLength = static_cast<std::size_t>(slot.length);
    const std::size_t newLength = data.size();
    ByteBuffer& bytes = doc.file.bytes;
    if (newLength <= oldLength) {
        // Detaches from the bytes as opened, which the other resources' views still read.
        std::uint8_t* p = bytes.mutableData();
        if (!p && !bytes.empty()) {
            result.status = PutStatus::OutOfMemory;
            return result;
        }
        if (newLength) std::memcpy(p + off, data.data(), newLength);
        if (oldLength > newLength) std::memset(p + off + newLength, 0, oldLength - newLength);
        doc.catalogue.rewriteSlot(n, slot.length);
    } else {
        if (growth == Growth::Refuse) {
            result.status = PutStatus::NeedsGrowth;
            return result;
        }
        ByteBuffer grown =
            concatBytes({bytes.slice(0, off), data, bytes.slice(off + oldLength, bytes.size())});
        // An allocation that failed gives an empty buffer: keep the copy rather than lose it.
        if (grown.size() != bytes.size() - oldLength + newLength) {
            result.status = PutStatus::OutOfMemory;
            return result;
        }
        bytes = std::move(grown);
        doc.catalogue.rewriteSlot(n, bufferLength(data));
    }
    doc.catalogue.replaceData(n, data);
    return result;
}

}  // namespace kerbilo
