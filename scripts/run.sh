#!/usr/bin/env bash
# Sets up and builds Kerbilo, then starts the desktop program (arguments go to it).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh >&2
if [ -x build/src/ui/shell/kerbilo ]; then
    exec build/src/ui/shell/kerbilo "$@"
fi
# Without a window binary, show what the command-line tool finds in a file.
exec build/src/cli/kerbilo-cli "${@:---help}"
