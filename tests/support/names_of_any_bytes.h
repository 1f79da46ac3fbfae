#pragma once
// File names as a Linux file system may hold them, UTF-8 or not, and what to do with them
// on disk without any of the program's conversions: every test of names uses this one table.

#include <dirent.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace kerbilo::testing {

inline std::vector<std::string> namesOfAnyBytes() {
    std::vector<std::string> names = {
        "plain-ascii.bin",
        "资源.bin",
        "emoji-😀.png",
        "r\xE9sum\xE9_A.bin",            // Latin-1
        "\xD7\xCA\xD4\xB4",              // "资源" in GBK, as a Windows archive unpacks it
        "\x83\x65\x83\x58\x83\x67.dat",  // "テスト" in Shift-JIS
        std::string(255, 'n'),           // as long as a name may be
        std::string(255, '\xE9'),        // as long, and four bytes each in the GBK text
    };
    for (int b = 0x80; b <= 0xFF; ++b) names.push_back(std::string(1, static_cast<char>(b)));
    return names;
}

// A name as a test failure shows it: bytes that are not printable ASCII as \xHH.
inline std::string printable(const std::string& name) {
    std::string out;
    for (const char c : name) {
        const auto u = static_cast<unsigned char>(c);
        if (u >= 0x20 && u < 0x7F) {
            out += c;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", u);
            out += hex;
        }
    }
    return out.size() > 80 ? out.substr(0, 80) + "..." : out;
}

inline std::string rawRead(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void rawWrite(const std::string& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

// Every name below folder (folder itself left out) that holds EF BF BD, the UTF-8 of
// U+FFFD: a replacement character that reached the file system instead of the bytes it
// stood for.
inline std::vector<std::string> replacementCharactersBelow(const std::string& folder) {
    std::vector<std::string> found;
    DIR* dir = ::opendir(folder.c_str());
    if (!dir) return found;
    while (const dirent* e = ::readdir(dir)) {
        const std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        if (name.find("\xEF\xBF\xBD") != std::string::npos) found.push_back(folder + "/" + name);
        if (e->d_type == DT_DIR)
            for (std::string& below : replacementCharactersBelow(folder + "/" + name))
                found.push_back(std::move(below));
    }
    ::closedir(dir);
    return found;
}

}  // namespace kerbilo::testing
