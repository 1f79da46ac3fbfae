#!/usr/bin/env bash
# Builds every fuzz target with clang, libFuzzer and address + undefined sanitizers, then
# runs each for SECONDS (default 60), as many at once as there are jobs. New inputs go to a
# scratch corpus under the build folder, never into the committed seeds. Exits 1 when any
# target found a crash; its input is left in <build>/artifacts/ to be turned into a
# regression file.
# The build folder is build-fuzz/ unless KERBILO_FUZZ_BUILD names one already configured
# with -DKERBILO_FUZZ=ON (the test script reuses its sanitizer build that way).
# Usage: fuzz/run_fuzzers.sh [SECONDS] [TARGET...]
set -u
seconds=${1:-60}
[ $# -gt 0 ] && shift
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${KERBILO_FUZZ_BUILD:-$repo/build-fuzz}
jobs=${KERBILO_FUZZ_JOBS:-2}

if ! grep -q '^KERBILO_FUZZ:BOOL=ON' "$build/CMakeCache.txt" 2>/dev/null; then
    CC=${CC:-clang-14} CXX=${CXX:-clang++-14} cmake -S "$repo" -B "$build" -G Ninja \
        -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKERBILO_FUZZ=ON -DKERBILO_SANITIZE=ON \
        -DKERBILO_TESTS=OFF -DKERBILO_BENCH=OFF -DKERBILO_GUI=OFF >/dev/null || exit 2
fi
ninja -C "$build" -j"$jobs" kerbilo_fuzzers || exit 2

mkdir -p "$build/artifacts"

# One target: its own scratch corpus and log; prints its figures when done.
fuzz_one() {
    local name=$1 binary=$2 dirs=$3
    local work=$build/corpus/$name
    mkdir -p "$work"
    # shellcheck disable=SC2086  # dirs is a list of folders
    if ! "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$build/artifacts/$name-" "$work" $dirs \
        >"$build/$name.log" 2>&1; then
        echo "!! $name failed, see $build/$name.log and $build/artifacts/"
        return 1
    fi
    echo "== $name ${seconds}s: $(grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' \
        "$build/$name.log" | tr '\n' ' ')"
}

failed=0
running=0
while read -r name binary dirs; do
    [ -n "$name" ] || continue
    if [ $# -gt 0 ]; then
        case " $* " in *" $name "*) ;; *) continue ;; esac
    fi
    if [ "$running" -ge "$jobs" ]; then
        wait -n || failed=1
        running=$((running - 1))
    fi
    fuzz_one "$name" "$binary" "$dirs" &
    running=$((running + 1))
done <"$build/fuzz/fuzz_targets.txt"
while [ "$running" -gt 0 ]; do
    wait -n || failed=1
    running=$((running - 1))
done
exit $failed
