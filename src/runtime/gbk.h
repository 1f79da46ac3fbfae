#pragma once
// The one boundary between the program's GBK texts and the platform's UTF-8. GB18030 is
// used in both directions: byte-identical to GBK on every GBK character, and able to carry
// any other character, so a file whose name lies outside GBK stays reachable.

#include <string>
#include <string_view>

namespace kerbilo {

// Invalid input bytes are passed through unchanged rather than dropped, so a name that
// does not convert still names the same file on the way back.
std::string gbkToUtf8(std::string_view gbk);
std::string utf8ToGbk(std::string_view utf8);

}  // namespace kerbilo

// Declares a function returning the GBK bytes of a Chinese literal written in UTF-8 source,
// converted once on first use. Keeps every user-visible text readable in the source.
#define KERBILO_GBK_TEXT(name, utf8Literal)                                \
    inline const std::string& name() {                                     \
        static const std::string text = ::kerbilo::utf8ToGbk(utf8Literal); \
        return text;                                                       \
    }
