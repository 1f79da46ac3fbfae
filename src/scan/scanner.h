#pragma once
#include <cstdint>
#include <functional>

#include "scan/program_state.h"

namespace kerbilo {

// One match: the head's 0-based offset and the stretch through the tail's last byte.
struct KindMatch {
    std::int64_t offset;
    std::int64_t stretch;
};

// Every head followed by a tail in data[0, n), in file order. `onHead` runs before each
// head search (with −1) and for each head found (with its offset), including a last head
// without a tail. Linear in n: the tail found for one head is reused for the next heads
// as long as it still lies after their start.
void findKindMatches(const std::uint8_t* data, std::size_t n, const ByteBuffer& head,
                     const ByteBuffer& tail, const std::function<void(std::int64_t)>& onHead,
                     const std::function<void(const KindMatch&)>& onMatch);

// Scans the loaded bytes for kind k and publishes its group when it had matches.
void scanKind(ProgramState& state, int k);

}  // namespace kerbilo
