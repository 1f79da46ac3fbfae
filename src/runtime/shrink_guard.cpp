#include "runtime/shrink_guard.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>

namespace kerbilo {

namespace {

// A fixed table the signal handler can read without locks or allocation: the handler only
// loads atomics and calls write and _exit.
constexpr int kSlots = 256;
constexpr std::size_t kMessage = 1024;

struct Mapping {
    std::atomic<std::uintptr_t> begin{0};
    std::atomic<std::uintptr_t> end{0};
    char message[kMessage] = {};
    std::atomic<std::size_t> length{0};
};

Mapping mappings[kSlots];
std::mutex claiming;
char program[64] = "kerbilo";
struct sigaction previous {};

void onBusError(int signal, siginfo_t* info, void* context) {
    const auto at = reinterpret_cast<std::uintptr_t>(info->si_addr);
    for (Mapping& m : mappings) {
        if (at >= m.begin.load() && at < m.end.load()) {
            const std::size_t n = m.length.load();
            if (::write(STDERR_FILENO, m.message, n) < 0) {
                // Nothing more can be said; the exit code still tells.
            }
            ::_exit(1);
        }
    }
    // Not one of ours: let the default (or earlier) handling happen.
    if (previous.sa_flags & SA_SIGINFO && previous.sa_sigaction) {
        previous.sa_sigaction(signal, info, context);
        return;
    }
    ::signal(SIGBUS, previous.sa_handler == SIG_IGN ? SIG_DFL : previous.sa_handler);
    ::raise(SIGBUS);
}

}  // namespace

void installShrinkGuard(const char* programName) {
    static std::once_flag once;
    std::call_once(once, [programName] {
        std::strncpy(program, programName, sizeof program - 1);
        struct sigaction action {};
        action.sa_sigaction = onBusError;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGBUS, &action, &previous);
    });
}

int registerMapping(const std::uint8_t* begin, std::size_t size, const std::string& nameUtf8) {
    std::lock_guard lock(claiming);
    for (int i = 0; i < kSlots; ++i) {
        Mapping& m = mappings[i];
        if (m.end.load() != 0) continue;
        const std::string text = std::string(program) + ": " + nameUtf8 +
                                 " became shorter while it was read; stopping\n";
        const std::size_t n = std::min(text.size(), kMessage);
        std::memcpy(m.message, text.data(), n);
        m.length = n;
        m.begin = reinterpret_cast<std::uintptr_t>(begin);
        m.end = reinterpret_cast<std::uintptr_t>(begin) + size;
        return i;
    }
    return -1;  // the table is full: such a mapping is simply not guarded
}

void releaseMapping(int slot) {
    if (slot < 0 || slot >= kSlots) return;
    std::lock_guard lock(claiming);
    mappings[slot].end = 0;
    mappings[slot].begin = 0;
}

}  // namespace kerbilo
