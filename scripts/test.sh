#!/usr/bin/env bash
# Sets up, builds and runs the whole suite: once normally, once under the address and
# undefined-behaviour sanitizers, then the thread-sanitizer test and a short fuzzing pass.
set -euo pipefail
cd "$(dirname "$0")/.."
unset QT_QPA_PLATFORMTHEME  # the gtk3 theme plugin kills offscreen Qt tests

# Each stage's heading says how long the run has taken so far, to keep the whole well in budget.
stage() { echo "== $1 == ($((SECONDS / 60))m$((SECONDS % 60))s)"; }

# A fresh build for the tests carries no debug information: it would cost a fifth of the
# build and no test reads it. The sanitizer build keeps line tables for its reports.
scripts/setup.sh -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG"
stage "source format"
scripts/check_format.sh
stage tests
ctest --test-dir build --output-on-failure -j2 --timeout 300

stage "tests under address and undefined-behaviour sanitizers"
# clang builds sanitized code in half the time gcc takes, and the same build carries the
# fuzz targets, so the fuzzing stage below needs no build of its own.
CC=clang-14 CXX=clang++-14 BUILD_DIR=build-asan scripts/setup.sh \
    -DKERBILO_SANITIZE=ON -DKERBILO_FUZZ=ON -DKERBILO_BENCH=OFF \
    -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -gline-tables-only -DNDEBUG"
# Packaging the sanitized build, and driving its window through X (the Ui tests run the same
# window code offscreen), would test nothing here that the plain stage has not, and take a
# quarter of the budget; nor would checking its exports against ImageMagick.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build-asan --output-on-failure -j2 --timeout 600 \
    -E '^Package\.|DebianPackage|^E2e\.|CompleteMeansImageMagickDecodes'


if [ -x scripts/tsan.sh ]; then
    stage "thread sanitizer"
    scripts/tsan.sh
fi
if [ -x fuzz/run_fuzzers.sh ]; then
    stage fuzzing
    # A short pass that each target still starts and runs; the long run is by hand.
    KERBILO_FUZZ_BUILD=build-asan fuzz/run_fuzzers.sh "${FUZZ_SECONDS:-6}"
fi
stage "all test stages passed"
