#include "scan/structure_scan.h"

#include "runtime/byte_ops.h"
#include "scan/pe_pictures.h"

namespace kerbilo {
namespace {

struct Found {
    int container;
    std::int64_t imageOffset;
    pe::FoundPicture picture;
};

// Reads the program at each of `offsets`, in file order; the programs are kept alive by the
// caller for the pictures that point into them.
template <typename OnImage>
void forEachImage(const ByteBuffer& bytes, const std::vector<std::int64_t>& offsets,
                  Progress& progress, OnImage onImage) {
    for (const std::int64_t at : offsets) {
        progress.step();
        if (progress.cancelled()) return;
        const auto n = static_cast<std::size_t>(at);
        if (auto image = pe::readImage(bytes.data() + n, bytes.size() - n))
            onImage(at, std::move(*image));
    }
}

}  // namespace

std::vector<std::int64_t> locatePrograms(const std::uint8_t* data, std::size_t size,
                                         const Landmarks* landmarks) {
    std::vector<std::int64_t> offsets;
    if (landmarks) {
        for (const std::int64_t at : landmarks->programs)
            if (pe::looksLikeImage(data + at, size - static_cast<std::size_t>(at)))
                offsets.push_back(at);
        return offsets;
    }
    static constexpr std::uint8_t kMagic[] = {'M', 'Z'};
    for (std::size_t at = 0; at + 1 < size;) {
        const std::int64_t hit = findBytesIn(data + at, size - at, kMagic, 2);
        if (hit < 0) break;
        at += static_cast<std::size_t>(hit);
        if (pe::looksLikeImage(data + at, size - at))
            offsets.push_back(static_cast<std::int64_t>(at));
        ++at;
    }
    return offsets;
}

int scanStructures(Services& services, Document& doc, OpenEvents& events,
                   std::optional<std::vector<std::int64_t>> programs) {
    const ByteBuffer& bytes = doc.file.bytes;
    if (!programs) programs = locatePrograms(bytes.data(), bytes.size());
    std::vector<pe::Image> images;  // kept: pictures point at their entries
    std::vector<std::vector<Found>> byKind(pe::kPictureKindCount);
    forEachImage(bytes, *programs, services.progress, [&](std::int64_t at, pe::Image image) {
        images.push_back(std::move(image));
        const int container = doc.catalogue.addContainer({at, images.back().extent});
        for (pe::FoundPicture& p : pe::findPictures(bytes, at, images.back()))
            byKind[static_cast<std::size_t>(p.kind)].push_back({container, at, std::move(p)});
    });
    if (services.progress.cancelled()) return 0;
    int added = 0;
    for (int k = 0; k < pe::kPictureKindCount; ++k) {
        std::vector<Found>& found = byKind[static_cast<std::size_t>(k)];
        if (found.empty()) continue;
        const Text& name = pe::pictureKindName(static_cast<pe::PictureKind>(k));
        events.kindBegins(name);
        const int kind = doc.catalogue.addKind(name, {}, {});
        const int first = doc.catalogue.size() + 1;
        for (Found& f : found) {
            const pe::ResourceEntry& e = *f.picture.entry;
            const std::int64_t offset = f.imageOffset + e.dataOffset;
            events.headFound(offset);
            doc.catalogue.appendFound(kind, offset, e.size, std::move(f.picture.data),
                                      {f.container,
                                       pe::resourceSource(f.imageOffset, e),
                                       std::move(f.picture.suffix),
                                       true,
                                       e.type,
                                       e.name,
                                       e.language,
                                       {},
                                       0,
                                       -1});
        }
        added += static_cast<int>(found.size());
        events.kindFound(doc.catalogue, first, static_cast<int>(found.size()));
    }
    return added;
}

}  // namespace kerbilo
