#pragma once
// The structure scan: the pictures that carry no signature of their own, reached through
// the structures of the files that hold them (a Windows program's resource directory),
// wherever such a file lies in the opened bytes.

#include "scan/document.h"

namespace kerbilo {

// Finds every Windows program in the loaded bytes (at offset 0 or inside them) and appends
// its pictures to the catalogue after everything found so far, kind by kind (the kinds of
// pe::PictureKind, those with at least one picture), each kind telling events as a kind of
// the kinds file does. Returns the number of resources added.
int scanStructures(Services& services, Document& doc, OpenEvents& events);

}  // namespace kerbilo
