#pragma once
// How much memory a new allocation could still get, so that reading a whole file can be
// refused at once rather than after the system starts swapping or kills the program.

#include <cstdint>
#include <optional>

namespace kerbilo {

// The smallest of: what the system says is available (MemAvailable plus free swap), and
// what the process's address-space and data limits leave. Nothing when none is known.
std::optional<std::uint64_t> memoryAvailable();

}  // namespace kerbilo
