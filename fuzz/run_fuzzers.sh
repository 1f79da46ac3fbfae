#!/bin/sh
# Builds every fuzz target with clang, libFuzzer and address + undefined sanitizers in
# build-fuzz/, then runs each for SECONDS (default 60). New inputs go to a scratch corpus
# under build-fuzz/, never into the committed seeds. Exits 1 when any target found a
# crash; its input is left in build-fuzz/artifacts/ to be turned into a regression file.
# Usage: fuzz/run_fuzzers.sh [SECONDS] [TARGET...]
set -u
seconds=${1:-60}
[ $# -gt 0 ] && shift
repo=$(cd "$(dirname "$0")/.." && pwd)
build=$repo/build-fuzz
jobs=${KERBILO_FUZZ_JOBS:-2}

CC=${CC:-clang-14} CXX=${CXX:-clang++-14} cmake -S "$repo" -B "$build" -G Ninja \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKERBILO_FUZZ=ON -DKERBILO_SANITIZE=ON \
    -DKERBILO_TESTS=OFF -DKERBILO_BENCH=OFF -DKERBILO_GUI=OFF >/dev/null || exit 2
ninja -C "$build" -j"$jobs" kerbilo_fuzzers || exit 2

mkdir -p "$build/artifacts"
failed=0
while read -r name binary dirs; do
    [ -n "$name" ] || continue
    if [ $# -gt 0 ]; then
        case " $* " in *" $name "*) ;; *) continue ;; esac
    fi
    work=$build/corpus/$name
    mkdir -p "$work"
    echo "== $name for ${seconds}s"
    # shellcheck disable=SC2086  # dirs is a list of folders
    if ! "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$build/artifacts/$name-" "$work" $dirs \
        >"$build/$name.log" 2>&1; then
        echo "!! $name failed, see $build/$name.log and $build/artifacts/"
        failed=1
    fi
    grep -E '^stat::number_of_executed_units|^stat::peak_rss_mb' "$build/$name.log" | tr '\n' ' '
    echo
done <"$build/fuzz/fuzz_targets.txt"
exit $failed
