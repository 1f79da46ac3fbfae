#!/usr/bin/env bash
# export --verdict complete writes only pictures that ImageMagick decodes with its warnings
# taken as errors: on random bytes holding real pictures, damaged copies of them and
# picture-like junk (as the scan benchmark's file does), and on the system's libraries.
# Usage: complete_decodes.sh KERBILO_CLI SOURCE_DIR
set -u
cli=$1
source_dir=$2
command -v convert >/dev/null || { echo "ImageMagick missing: skipped"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
kinds=$source_dir/docs/kinds/recommended.config

/usr/bin/python3 - "$source_dir/tests/data/inspect" "$work/mixed.bin" <<'PY'
import os, random, sys
folder, out = sys.argv[1], sys.argv[2]
pictures = [open(os.path.join(folder, n), "rb").read() for n in sorted(os.listdir(folder))
            if n.rsplit(".", 1)[-1] in ("png", "jpg", "gif", "bmp", "ico", "cur")]
# Each seed once gave a picture that walked but did not decode (a cursor's palette size, a
# run-length bitmap's runs, a GIF's LZW chain running on into other data).
seeds = [int(s) for s in os.environ.get("KERBILO_SEEDS", "7 1 2").split()]
with open(out, "wb") as f:
    for seed in seeds:
        random.seed(seed)
        data = bytearray(random.randbytes(16 << 20))
        slot = len(data) // 600
        for i in range(600):
            p = bytearray(random.choice(pictures))
            kind = i % 4
            if kind == 1:    # bytes changed in the middle: the structure may still walk
                for _ in range(4):
                    j = random.randrange(len(p) // 4, len(p))
                    p[j] ^= 0xFF
            elif kind == 2:  # cut short
                p = p[: random.randrange(16, len(p))]
            elif kind == 3:  # only the start, then noise
                p = p[:12]
            at = i * slot + random.randrange(0, max(1, slot - len(p)))
            data[at : at + len(p)] = p
        f.write(data)
PY

# The largest libraries of the system: most of them hold no picture, some hold many and
# plenty of picture-like runs.
libraries=$(find /usr/lib/x86_64-linux-gnu -maxdepth 1 -type f -name '*.so*' -size +1M \
    2>/dev/null | sort | head -n 80)

# shellcheck disable=SC2086  # the libraries are a list of paths without blanks
"$cli" export "$work/mixed.bin" $libraries --deep --config "$kinds" --verdict complete \
    --out "$work/out" -j 2 >"$work/said" 2>&1 || { cat "$work/said"; exit 1; }
count=0
failed=0
while IFS= read -r -d '' f; do
    count=$((count + 1))
    if ! convert -regard-warnings "$f" null: >"$work/im" 2>&1; then
        echo "not decoded: $f: $(head -c 300 "$work/im")"
        failed=$((failed + 1))
    fi
done < <(find "$work/out" -type f ! -name 'manifest.*' -print0)
echo "$count files written, $failed not decoded"
[ "$count" -gt 100 ] || { echo "too few pictures to judge"; exit 1; }
[ "$failed" -eq 0 ]
