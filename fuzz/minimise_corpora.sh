#!/usr/bin/env bash
# Keeps each target's committed seeds small: merges its seed folder (the first corpus
# folder of its line in the build's list) into a fresh folder with libFuzzer's -merge=1,
# then deletes the seeds the merge left out, as they reach nothing the others do not.
# Seeds keep their names. Regression files stay whatever they add: those named regress_*
# beside the seeds go into the fresh folder first, and the shared regression folders are
# not touched. The seeds of the targets that decode PNG and JPEG stay whole: libpng and
# libjpeg are not instrumented, so a merge cannot see that a 16-bit or a colour seed takes
# them down paths a grey one does not (and a mutation rarely gets there, past the CRCs).
# Run it after regenerating seeds (scripts/make_picture_fixtures.sh, the
# seed writers in tests/scan) and commit what it deletes.
# The build folder is build-fuzz/ unless KERBILO_FUZZ_BUILD names one configured with
# -DKERBILO_FUZZ=ON; fuzz/run_fuzzers.sh configures and builds it.
# Usage: fuzz/minimise_corpora.sh [TARGET...]
set -u
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${KERBILO_FUZZ_BUILD:-$repo/build-fuzz}
list=$build/fuzz/fuzz_targets.txt
[ -f "$list" ] || { echo "no $list: configure the fuzz build as fuzz/run_fuzzers.sh does"; exit 2; }
ninja -C "$build" -j1 kerbilo_fuzzers >/dev/null || exit 2

whole="picture_png picture_jpeg picture_pane"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failed=0
while read -r name binary args; do
    [ -n "$name" ] || continue
    if [ $# -gt 0 ]; then
        case " $* " in *" $name "*) ;; *) continue ;; esac
    fi
    seeds=
    for word in $args; do
        case $word in -*) ;; *) seeds=$word && break ;; esac
    done
    [ -d "$seeds" ] || continue
    case " $whole " in *" $name "*) continue ;; esac
    kept=$scratch/$name
    mkdir -p "$kept"
    cp "$seeds"/regress_* "$kept/" 2>/dev/null
    if ! "$binary" -merge=1 "$kept" "$seeds" >"$scratch/$name.log" 2>&1; then
        echo "!! $name: the merge failed"
        cat "$scratch/$name.log"
        failed=1
        continue
    fi
    dropped=
    for seed in "$seeds"/*; do
        base=${seed##*/}
        case $base in regress_*) continue ;; esac
        found=0
        for k in "$kept"/*; do
            if cmp -s "$seed" "$k"; then
                found=1
                break
            fi
        done
        if [ $found = 0 ]; then
            rm "$seed"
            dropped="$dropped $base"
        fi
    done
    echo "== $name: $(find "$seeds" -type f | wc -l) seeds, $(du -cb "$seeds"/* | tail -1 | cut -f1)" \
        "bytes${dropped:+; dropped$dropped}"
done <"$list"
exit $failed
