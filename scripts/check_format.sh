#!/usr/bin/env bash
# Fails when a C++ source does not follow .clang-format; lists the files that differ.
set -euo pipefail
cd "$(dirname "$0")/.."
bad=0
while IFS= read -r f; do
    clang-format --dry-run -Werror "$f" >/dev/null 2>&1 || { echo "not formatted: $f"; bad=1; }
done < <(git ls-files '*.cpp' '*.h' 2>/dev/null || find src tests bench fuzz -name '*.cpp' -o -name '*.h')
exit $bad
