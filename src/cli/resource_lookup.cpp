#include "cli/resource_lookup.h"

#include <sstream>

#include "cli/cli_session.h"

namespace kerbilo::cli {

std::optional<ByteBuffer> loadResourceData(const std::string& fileUtf8, int n,
                                           const std::optional<std::string>& configUtf8,
                                           std::string& errorUtf8) {
    PosixFileServices files;
    std::ostringstream out, err;
    CliEnv env{files, out, err, nullptr};
    Session session(env, configUtf8);
    if (!session.ready(fileUtf8)) {
        errorUtf8 = err.str();
        while (!errorUtf8.empty() && errorUtf8.back() == '\n') errorUtf8.pop_back();
        return std::nullopt;
    }
    if (!session.state.catalogue.contains(n)) {
        errorUtf8 = fileUtf8 + " has no resource " + std::to_string(n);
        return std::nullopt;
    }
    return session.state.catalogue.data(n);
}

}  // namespace kerbilo::cli
