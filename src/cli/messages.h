#pragma once
// kerbilo-cli's own words in the language of its locale (LC_ALL, else LC_MESSAGES, else
// LANG, as usual): Chinese for zh_*, English otherwise, each message whole in one
// language. Usage errors and --help stay English, like the manual page they go with.

#include <string>

#include "runtime/file_error.h"

namespace kerbilo::cli {

// The language the environment asks for.
Language localeLanguage();

// A phrase of kerbilo-cli's messages in that language; the English phrase itself when the
// table has no other.
const char* say(Language language, const char* english);

// Why a file operation failed, as UTF-8 words in that language.
std::string reasonText(Language language, const FileError& error);

}  // namespace kerbilo::cli
