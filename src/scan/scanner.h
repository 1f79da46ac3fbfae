#pragma once
#include <cstdint>
#include <functional>

#include "scan/document.h"

namespace kerbilo {

// One match: the head's 0-based offset and the stretch through the tail's last byte.
struct KindMatch {
    std::int64_t offset;
    std::int64_t stretch;
};

// Every head followed by a tail in data[0, n), in file order. One progress step before
// each head search, and one every 16 MiB a search goes without finding anything; `onHead`
// for each head found (its 0-based offset), including a last head without a tail. Linear
// in n: the tail found for one head is reused for the next heads as long as it still lies
// after their start.
void findKindMatches(const std::uint8_t* data, std::size_t n, const ByteBuffer& head,
                     const ByteBuffer& tail, Progress& progress,
                     const std::function<void(std::int64_t)>& onHead,
                     const std::function<void(const KindMatch&)>& onMatch);

// Scans the loaded bytes for kind k, appends its resources to the catalogue and publishes
// its group when it had matches. False when the kind is skipped (no name, head or tail).
bool scanKind(Services& services, Document& doc, int k);

}  // namespace kerbilo
