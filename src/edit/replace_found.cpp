// Replacing a picture found through a Windows program's resource directory: the new file
// becomes what the program stores, the program's resources are written back (in place or
// rebuilt), and every picture of that program is read again from the result, since a
// group's directory or a rebuilt section moves more than the one resource.

#include <algorithm>
#include <map>
#include <tuple>

#include "edit/edit.h"
#include "runtime/byte_ops.h"
#include "scan/pe_pictures.h"

namespace kerbilo {

namespace {

std::optional<std::size_t> findEntry(const pe::Image& image, const ResourceOrigin& origin) {
    for (std::size_t i = 0; i < image.resources.size(); ++i) {
        const pe::ResourceEntry& e = image.resources[i];
        if (e.type == origin.type && e.name == origin.name && e.language == origin.language)
            return i;
    }
    return std::nullopt;
}

PutStatus writeStatus(pe::WriteStatus status) {
    switch (status) {
        case pe::WriteStatus::Written:
            return PutStatus::Put;
        case pe::WriteStatus::NoRoomForSection:
            return PutStatus::NoRoom;
        case pe::WriteStatus::TooLarge:
            return PutStatus::TooLarge;
        case pe::WriteStatus::Damaged:
            break;
    }
    return PutStatus::DirectoryDamaged;
}

// The pictures of the program in container c, read again from the copy: each resource of
// the catalogue found there takes its new place and data, and one the program no longer
// has is overwritten (as a resource whose bytes another replacement rewrote).
void rereadContainer(Document& doc, int c) {
    ResourceCatalogue& catalogue = doc.catalogue;
    const Slot at = catalogue.container(c);
    const ByteBuffer& bytes = doc.file.bytes;
    std::optional<pe::Image> image;
    if (at.offset >= 0 && static_cast<std::size_t>(at.offset) < bytes.size())
        image = pe::readImage(bytes.data() + at.offset,
                              bytes.size() - static_cast<std::size_t>(at.offset));
    std::vector<pe::FoundPicture> found;
    if (image) found = pe::findPictures(bytes, at.offset, *image);
    // By type / name / language, which a program has once: a program of a hundred
    // thousand pictures is matched in a blink.
    using Key =
        std::tuple<const pe::ResourceName&, const pe::ResourceName&, const pe::ResourceName&>;
    std::map<Key, const pe::FoundPicture*> byKey;
    for (const pe::FoundPicture& p : found)
        byKey.emplace(Key{p.entry->type, p.entry->name, p.entry->language}, &p);
    for (int n = 1; n <= catalogue.size(); ++n) {
        const ResourceOrigin* origin = catalogue.origin(n);
        if (!origin || origin->container != c) continue;
        const auto same = byKey.find(Key{origin->type, origin->name, origin->language});
        if (same == byKey.end()) {
            catalogue.markOverwritten(n);
            continue;
        }
        const pe::ResourceEntry& e = *same->second->entry;
        catalogue.refreshFound(n, {at.offset + e.dataOffset, e.size}, same->second->data);
    }
}

// The program as written holds exactly the resources it was given: a check of the writer
// by the reader before the copy changes, so that a fault in either never reaches a file.
bool readsBack(const ByteBuffer& bytes, std::size_t base,
               const std::vector<pe::ResourceData>& wanted) {
    const std::optional<pe::Image> image = pe::readImage(bytes.data() + base, bytes.size() - base);
    if (!image || image->resourcesDamaged || image->resources.size() != wanted.size()) return false;
    const auto key = [](const auto& r) { return std::tie(r.type, r.name, r.language); };
    std::vector<const pe::ResourceEntry*> found;
    for (const pe::ResourceEntry& e : image->resources) found.push_back(&e);
    std::vector<const pe::ResourceData*> given;
    for (const pe::ResourceData& r : wanted) given.push_back(&r);
    const auto byKey = [&](const auto* a, const auto* b) { return key(*a) < key(*b); };
    std::sort(found.begin(), found.end(), byKey);
    std::sort(given.begin(), given.end(), byKey);
    for (std::size_t i = 0; i < found.size(); ++i) {
        if (key(*found[i]) != key(*given[i]) || found[i]->size != given[i]->bytes.size())
            return false;
        const std::uint8_t* at = bytes.data() + base + found[i]->dataOffset;
        if (!std::equal(at, at + found[i]->size, given[i]->bytes.begin())) return false;
    }
    return true;
}

}  // namespace

PutResult putFoundResource(Document& doc, int n, const ByteBuffer& data) {
    ResourceCatalogue& catalogue = doc.catalogue;
    // Not overwritten: putResourceData asked before it came here.
    PutResult result{PutStatus::Put, bufferLength(data), catalogue.slot(n).length};
    const ResourceOrigin origin = *catalogue.origin(n);
    const Slot at = catalogue.container(origin.container);
    ByteBuffer& bytes = doc.file.bytes;
    if (at.offset < 0 || static_cast<std::size_t>(at.offset) >= bytes.size()) {
        result.status = PutStatus::ProgramGone;
        return result;
    }
    const auto base = static_cast<std::size_t>(at.offset);
    const ByteBuffer imageBytes = bytes.slice(base, bytes.size() - base);
    const std::optional<pe::Image> image = pe::readImage(imageBytes.data(), imageBytes.size());
    const std::optional<std::size_t> target = image ? findEntry(*image, origin) : std::nullopt;
    if (!target) {
        result.status = PutStatus::ProgramGone;
        return result;
    }
    const pe::Conversion converted = pe::replaceResource(imageBytes, *image, *target, data);
    if (converted.status != pe::ConvertStatus::Converted) {
        result.status = converted.status == pe::ConvertStatus::WrongForm ? PutStatus::WrongForm
                                                                         : PutStatus::Damaged;
        return result;
    }
    pe::WriteResult written =
        pe::writeResources(imageBytes.data(), imageBytes.size(), *image, converted.resources);
    if (written.status != pe::WriteStatus::Written) {
        result.status = writeStatus(written.status);
        return result;
    }
    std::int64_t grown = 0;
    for (pe::Splice& s : written.splices) {
        s.offset += at.offset;
        grown += bufferLength(s.bytes) - s.oldLength;
    }
    ByteBuffer changed = pe::applySplices(bytes.data(), bytes.size(), written.splices);
    // An allocation that failed gives an empty buffer: keep the copy rather than lose it.
    if (bufferLength(changed) != bufferLength(bytes) + grown) {
        result.status = PutStatus::OutOfMemory;
        return result;
    }
    if (!readsBack(changed, base, converted.resources)) {
        result.status = PutStatus::NotReadBack;
        return result;
    }
    bytes = std::move(changed);
    // Later splices first: each leaves the offsets of those before it as they were.
    for (auto s = written.splices.rbegin(); s != written.splices.rend(); ++s)
        catalogue.rewriteRange(s->offset, s->oldLength, bufferLength(s->bytes));
    rereadContainer(doc, origin.container);
    result.rebuilt = written.rebuilt;
    result.signatureRemoved = written.certificateRemoved;
    return result;
}

}  // namespace kerbilo
