// Input: an INI file. Lookups never fail, and a value written with iniAssign reads back
// exactly while every other entry keeps its value.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "runtime/ini.h"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string content(reinterpret_cast<const char*>(data), size);
    const char* sections[] = {"config", "Config", "a", ""};
    const char* keys[] = {"1", "key", "资源种类数", "x"};
    for (const char* s : sections)
        for (const char* k : keys) {
            const std::optional<std::string> v = kerbilo::iniLookup(content, s, k);
            check(!v || v->size() <= kerbilo::kIniValueLimit);
        }
    const std::optional<std::string> before = kerbilo::iniLookup(content, "config", "other");
    const std::string updated = kerbilo::iniAssign(content, "config", "key", "value 1");
    check(kerbilo::iniLookup(updated, "config", "key") == std::optional<std::string>("value 1"));
    check(kerbilo::iniLookup(updated, "config", "other") == before);
    return 0;
}
