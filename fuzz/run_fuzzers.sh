#!/usr/bin/env bash
# Builds every fuzz target with clang, libFuzzer and address + undefined sanitizers, then
# runs each for SECONDS (default 60), as many at once as there are jobs. New inputs go to a
# scratch corpus under the build folder, never into the committed seeds. Exits 1 when any
# target found a crash; its input is left in <build>/artifacts/ to be turned into a
# regression file. Each target's line of the summary gives its executions, executions per
# second (of the clock and of processor time) and peak resident memory; a target's options
# (its dictionary from fuzz/dict/, a smaller -max_len) come from the build's list of
# targets. The long run, fuzz/run_fuzzers.sh 600, takes targets x 600 s / jobs (README).
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

# The value of one of libFuzzer's final statistics in a log.
final_stat() {
    sed -n "s/^stat::$1: *//p" "$2"
}

# One target: its own scratch corpus and log; prints its figures when done. Besides the
# executions per second of the clock, the line gives them per second of processor time the
# target had: on a machine shared with other work the first understates what one core does.
fuzz_one() {
    local name=$1 binary=$2 args=$3
    local work=$build/corpus/$name log=$build/$name.log cpu runs
    mkdir -p "$work"
    # shellcheck disable=SC2086  # args is the target's options, then its corpus folders
    if ! cpu=$( { TIMEFORMAT='%U %S'; time "$binary" -max_total_time="$seconds" -timeout=10 \
        -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/artifacts/$name-" \
        "$work" $args >"$log" 2>&1; } 2>&1); then
        echo "!! $name failed, see $log and $build/artifacts/"
        return 1
    fi
    runs=$(final_stat number_of_executed_units "$log")
    printf '== %-18s %ss: %10s executions, %7s/s, %7s/s of CPU, peak RSS %s MB\n' "$name" \
        "$seconds" "$runs" "$(final_stat average_exec_per_sec "$log")" \
        "$(echo "$cpu" | awk -v n="$runs" '{ t = $1 + $2; printf "%d", (t > 0 ? n / t : 0) }')" \
        "$(final_stat peak_rss_mb "$log")"
}

failed=0
running=0
while read -r name binary args; do
    [ -n "$name" ] || continue
    if [ $# -gt 0 ]; then
        case " $* " in *" $name "*) ;; *) continue ;; esac
    fi
    if [ "$running" -ge "$jobs" ]; then
        wait -n || failed=1
        running=$((running - 1))
    fi
    fuzz_one "$name" "$binary" "$args" &
    running=$((running + 1))
done <"$build/fuzz/fuzz_targets.txt"
while [ "$running" -gt 0 ]; do
    wait -n || failed=1
    running=$((running - 1))
done
exit $failed
