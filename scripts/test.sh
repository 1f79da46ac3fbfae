#!/usr/bin/env bash
# Sets up, builds and runs the whole suite: once normally, once under the address and
# undefined-behaviour sanitizers, then the thread-sanitizer test and a short fuzzing pass.
set -euo pipefail
cd "$(dirname "$0")/.."
unset QT_QPA_PLATFORMTHEME  # the gtk3 theme plugin kills offscreen Qt tests

scripts/setup.sh
echo "== source format =="
scripts/check_format.sh
echo "== tests =="
ctest --test-dir build --output-on-failure -j2 --timeout 300

echo "== tests under address and undefined-behaviour sanitizers =="
BUILD_DIR=build-asan scripts/setup.sh -DKERBILO_SANITIZE=ON -DKERBILO_BENCH=OFF
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure -j2 --timeout 600

if [ -x scripts/tsan.sh ]; then
    echo "== thread sanitizer =="
    scripts/tsan.sh
fi
if [ -x fuzz/run_fuzzers.sh ]; then
    echo "== fuzzing =="
    fuzz/run_fuzzers.sh "${FUZZ_SECONDS:-10}"
fi
echo "== all test stages passed =="
