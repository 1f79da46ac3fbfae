#!/usr/bin/env bash
# Builds the threaded picture-pane tests with the thread sanitizer and runs them. This build
# compiles file by file, so a file that leans on another's includes still fails somewhere.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=build-tsan
if [ ! -f "$BUILD_DIR/build.ninja" ]; then
    cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKERBILO_TSAN=ON \
        -DKERBILO_BENCH=OFF -DKERBILO_GUI=OFF -DCMAKE_UNITY_BUILD=OFF >/dev/null
fi
cmake --build "$BUILD_DIR" -j2 --target picture_stress_tests
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
    "$BUILD_DIR/tests/picture/picture_stress_tests"
