#include "scan/structure_scan.h"

#include <cstring>

#include "scan/pe_pictures.h"

namespace kerbilo {
namespace {

struct Found {
    int container;
    std::int64_t imageOffset;
    pe::FoundPicture picture;
};

// Gives the program found at each offset of the bytes, in file order; the programs are
// kept alive for the pictures that point into them.
template <typename OnImage>
void forEachImage(const ByteBuffer& bytes, Progress& progress, OnImage onImage) {
    const std::uint8_t* data = bytes.data();
    const std::size_t n = bytes.size();
    constexpr std::size_t kStepEvery = std::size_t{16} << 20;
    std::size_t nextStep = kStepEvery;
    for (std::size_t at = 0; at + 1 < n;) {
        const void* m = std::memchr(data + at, 'M', n - 1 - at);
        if (m == nullptr) break;
        at = static_cast<std::size_t>(static_cast<const std::uint8_t*>(m) - data);
        if (at >= nextStep) {
            progress.step();
            if (progress.cancelled()) return;
            nextStep = at + kStepEvery;
        }
        if (data[at + 1] == 'Z' && pe::looksLikeImage(data + at, n - at)) {
            if (auto image = pe::readImage(data + at, n - at))
                onImage(static_cast<std::int64_t>(at), std::move(*image));
        }
        ++at;
    }
}

}  // namespace

int scanStructures(Services& services, Document& doc, OpenEvents& events) {
    const ByteBuffer& bytes = doc.file.bytes;
    std::vector<pe::Image> images;  // kept: pictures point at their entries
    std::vector<std::vector<Found>> byKind(pe::kPictureKindCount);
    forEachImage(bytes, services.progress, [&](std::int64_t at, pe::Image image) {
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
