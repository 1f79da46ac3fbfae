#pragma once
// Fields of the tab-separated and JSON records kerbilo writes for other programs to read:
// kerbilo-cli's listings and the manifests export all leaves beside what it wrote.

#include <string>
#include <string_view>

namespace kerbilo {

// The text as one tab-separated field: tab, CR, LF and backslash inside it become \t, \r,
// \n and \\, so a field never splits a row or a line.
std::string tsvField(std::string_view text);

// Appends the text as a JSON string literal (quotes, backslashes and control bytes escaped).
void appendJsonString(std::string& out, std::string_view text);

}  // namespace kerbilo
