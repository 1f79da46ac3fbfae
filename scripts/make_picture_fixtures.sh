#!/bin/sh
# Regenerates tests/data/picture/corpus (the fuzz seeds) from the test image writers.
# Usage: scripts/make_picture_fixtures.sh [BUILD_DIR]   (default: build)
set -eu
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$repo/build}
ninja -C "$build" -j2 make_picture_seeds
rm -rf "$repo/tests/data/picture/corpus"
"$build/tests/picture/make_picture_seeds" "$repo/tests/data/picture/corpus"
find "$repo/tests/data/picture/corpus" -type f | sort
