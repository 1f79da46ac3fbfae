#!/bin/sh
# Regenerates tests/data/picture/corpus (the fuzz seeds) from the test image writers.
# The structure walkers' seeds are the same files per format plus a few real pictures
# from tests/data/inspect (written by scripts/make_inspect_fixtures.sh). A fuzz build's
# fuzz/minimise_corpora.sh then deletes the seeds that reach nothing the others do not
# (of the walkers', rose.bmp and interlaced.gif); commit what is left.
# Usage: scripts/make_picture_fixtures.sh [BUILD_DIR]   (default: build)
set -eu
repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$repo/build}
ninja -C "$build" -j2 make_picture_seeds
rm -rf "$repo/tests/data/picture/corpus"
"$build/tests/picture/make_picture_seeds" "$repo/tests/data/picture/corpus"
corpus=$repo/tests/data/picture/corpus
inspect=$repo/tests/data/inspect
seed_walker() {  # walker, the decoder corpus it starts from, then real pictures
    dir=$corpus/walk_$1
    mkdir -p "$dir"
    cp "$corpus/$2"/* "$dir/"
    shift 2
    for f in "$@"; do cp "$inspect/$f" "$dir/"; done
}
seed_walker png png rose_palette.png
seed_walker jpeg jpeg rose_restart.jpg
seed_walker gif gif rose_anim.gif
seed_walker bmp bmp rose.bmp rose_v5.bmp
seed_walker icon icon rose.cur
find "$corpus" -type f | sort
