#pragma once
// The structure scan: the pictures that carry no signature of their own, reached through
// the structures of the files that hold them (a Windows program's resource directory),
// wherever such a file lies in the opened bytes.

#include <cstdint>
#include <optional>
#include <vector>

#include "scan/document.h"
#include "scan/landmarks.h"

namespace kerbilo {

// The offsets in data[0, size) where a Windows program may start: "MZ" and headers that
// look like a program's (pe::looksLikeImage), in order. One pass of a pair filter, or none
// with the `landmarks` of the same bytes.
std::vector<std::int64_t> locatePrograms(const std::uint8_t* data, std::size_t size,
                                         const Landmarks* landmarks = nullptr);

// Finds every Windows program in the loaded bytes (at offset 0 or inside them) and appends
// its pictures to the catalogue after everything found so far, kind by kind (the kinds of
// pe::PictureKind, those with at least one picture), each kind telling events as a kind of
// the kinds file does. Returns the number of resources added.
// `programs`: locatePrograms() of the loaded bytes when it was run ahead (on another core).
int scanStructures(Services& services, Document& doc, OpenEvents& events,
                   std::optional<std::vector<std::int64_t>> programs = std::nullopt);

}  // namespace kerbilo
