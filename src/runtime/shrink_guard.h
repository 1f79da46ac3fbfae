#pragma once
// A file mapped into memory that another program makes shorter leaves pages behind its new
// end; touching one raises SIGBUS, which would kill the program without a word. Mapped
// ranges are registered here; with the guard installed, such a fault ends the program with
// a message naming the file and exit code 1 instead.

#include <cstddef>
#include <cstdint>
#include <string>

namespace kerbilo {

// From now on a bus error inside a registered mapping prints
// "<program>: <file> became shorter while it was read; stopping" and exits with 1.
void installShrinkGuard(const char* programName);

// The mapping [begin, begin + size) shows the file `nameUtf8`; returns a slot to release.
int registerMapping(const std::uint8_t* begin, std::size_t size, const std::string& nameUtf8);
void releaseMapping(int slot);

}  // namespace kerbilo
