#pragma once

namespace kerbilo {

// The answer to a request to close the main window. Deferred: a loop is running; the
// program ends by itself when it is over if the close is then allowed.
enum class CloseDecision { Close, Stay, Deferred };

}  // namespace kerbilo
