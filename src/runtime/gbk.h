#pragma once
// The one boundary between the program's GBK texts and the platform's UTF-8. GB18030 is
// used in both directions: byte-identical to GBK on every GBK character, and able to carry
// any other character, so a file whose name lies outside GBK stays reachable.

#include <string>
#include <string_view>

namespace kerbilo {

// A file name on Linux is bytes and need not be UTF-8 (a Latin-1 "r\xe9sum\xe9", a name a
// Windows archive unpacked in GBK). utf8ToGbk carries each byte that is not part of a
// well-formed UTF-8 character as a four-byte GB18030 code beyond U+10FFFF, which no
// character has: byte b becomes the code U+110000 + b would have (80 → E3 32 A7 34,
// FF → E3 32 B4 31). gbkToUtf8 gives those codes back as the byte. So for every byte string
// s, gbkToUtf8(utf8ToGbk(s)) == s: a name the file system gave names the same file on the
// way back. Well-formed UTF-8 converts exactly as plain GB18030, so a GBK text shown or
// compared elsewhere is the one it always was; only the few characters the C library's
// GB18030 cannot encode (some private-use code points) travel as escaped bytes too. A
// person may see an escaped byte as a replacement character; the file system never does.
//
// gbkToUtf8 of a text that is not valid GB18030 (bytes from a settings file) passes each
// byte it cannot decode through unchanged, so such a name still reaches one file, the same
// one its escaped form reaches.
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
