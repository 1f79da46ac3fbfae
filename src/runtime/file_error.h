#pragma once
// Why a file operation failed, as the program tells it apart. Operations carry it as it is;
// only a front end turns it into words, in its own language: the window speaks Chinese,
// kerbilo-cli the language of its locale.

#include <string>

#include "runtime/byte_buffer.h"

namespace kerbilo {

enum class Language { Chinese, English };

// Reasons of this program's own, beside errno values.
constexpr int kNotAFile = -1;          // reading a pipe, a socket or a character device
constexpr int kSocket = -2;            // writing to a socket
constexpr int kNoReader = -3;          // writing to a FIFO that nobody reads
constexpr int kNoCopy = -4;            // the old content could not be kept aside first
constexpr int kLargerThanMemory = -5;  // a whole file that the memory left cannot hold
constexpr int kLineBreakInName = -6;   // a settings line cannot hold a CR or LF
constexpr int kUnsafeSuffix = -7;      // a kind's suffix would name a path outside the folder

struct FileError {
    int code = 0;        // an errno value or one of the reasons above; 0: no failure
    int cause = 0;       // what made it fail, when that was a failure of its own
    std::string keptAt;  // where the old content was left when it could not be put back

    explicit operator bool() const { return code != 0; }
    friend bool operator==(const FileError&, const FileError&) = default;
};

// In words: Chinese as a GBK text, English as ASCII.
Text describeErrno(int code, Language language = Language::Chinese);
Text describeError(const FileError& error, Language language = Language::Chinese);

}  // namespace kerbilo
