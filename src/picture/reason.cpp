#include "picture/reason.h"

#include <cstring>

namespace kerbilo {

const char* reasonWords(Reason reason) noexcept {
    switch (reason) {
#define KERBILO_REASON_WORDS(code, words) \
    case Reason::code:                    \
        return words;
        KERBILO_REASONS(KERBILO_REASON_WORDS)
#undef KERBILO_REASON_WORDS
    }
    return "";
}

std::string describeReason(Reason reason, std::int64_t item) {
    std::string text = reasonWords(reason);
    if (const std::size_t at = text.find('%'); at != std::string::npos)
        text.replace(at, 1, std::to_string(item));
    return text;
}

}  // namespace kerbilo
