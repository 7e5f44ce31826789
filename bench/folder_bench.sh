#!/usr/bin/env bash
# Whole-folder updates, measured: the demo product's folder, and a made-up folder of
# FILES files (default 1000; 5 % of them added, 5 % gone, 20 % changed, in 20 sub-folders),
# through `patchtool make --old-dir` (time, peak memory, chain bytes beside the sum of the
# per-file compact patches) and `patchtool apply` (the applier's run natively: time and peak
# memory). Usage: folder_bench.sh BUILD_DIR
set -euo pipefail

build=${1:?usage: folder_bench.sh BUILD_DIR}
patchtool=$build/bin/patchtool
files=${FILES:-1000}
work=$(mktemp -d "${TMPDIR:-/tmp}/folder-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

# timed LABEL COMMAND...: prints the wall time and peak memory of COMMAND.
timed() {
  local label=$1 start
  shift
  start=$EPOCHREALTIME
  /usr/bin/time -f '%M' -o "$work/time" "$@" >"$work/out" 2>&1 || { cat "$work/out" >&2; exit 1; }
  awk -v l="$label" -v a="$start" -v b="$EPOCHREALTIME" -v kb="$(cat "$work/time")" \
    'BEGIN { printf "  %-34s %7.2f s  %6d MB\n", l, b - a, kb / 1024 }'
}

# per_file OLD NEW: the bytes of the compact patches made file by file.
per_file() {
  local old=$1 new=$2 total=0 rel size
  while IFS= read -r rel; do
    if [ -f "$old/$rel" ]; then
      cmp -s "$old/$rel" "$new/$rel" && continue
      "$patchtool" make "$old/$rel" "$new/$rel" -o "$work/one" --format 2 --quiet >/dev/null
    else
      "$patchtool" make /dev/null "$new/$rel" -o "$work/one" --format 2 --quiet >/dev/null 2>&1 ||
        "$patchtool" make "$work/empty" "$new/$rel" -o "$work/one" --format 2 --quiet >/dev/null
    fi
    size=$(stat -c %s "$work/one")
    total=$((total + size))
  done < <(cd "$new" && find . -type f | sed 's|^\./||')
  echo "$total"
}
: >"$work/empty"

measure() {
  local name=$1 old=$2 new=$3
  echo "$name: $(cd "$old" && find . -type f | wc -l) old files, $(cd "$new" && find . -type f | wc -l) new files"
  timed "patchtool make --old-dir" "$patchtool" make --old-dir "$old" --new-dir "$new" -o "$work/chain" --program Lunder19.EXE
  local chain
  chain=$(stat -c %s "$work/chain")
  echo "  chain $chain bytes; the per-file compact patches of the changed and added files $(per_file "$old" "$new") bytes (deletes: a header each)"
  rm -rf "$work/installed" && cp -r "$old" "$work/installed"
  cp "$work/chain" "$work/installed/Update.patch"
  timed "patchtool apply (the applier's run)" "$patchtool" apply "$work/installed/Update.patch"
}

measure "demo folder" "$build/bin/demo/folder/v1" "$build/bin/demo/folder/v2"

python3 - "$work/old" "$work/new" "$files" <<'PY'
import os, random, sys
old, new, count = sys.argv[1], sys.argv[2], int(sys.argv[3])
rng = random.Random(1000)
for i in range(count):
    rel = "sub%02d/file%04d.dat" % (i % 20, i)
    data = bytes(rng.getrandbits(8) for _ in range(rng.randint(2000, 40000)))
    kind = rng.random()
    if kind >= 0.05:  # 5 % only in the new release
        os.makedirs(os.path.join(old, os.path.dirname(rel)), exist_ok=True)
        open(os.path.join(old, rel), "wb").write(data)
    if kind < 0.05 or kind >= 0.10:  # 5 % gone
        if 0.10 <= kind < 0.30:  # 20 % changed
            data = bytearray(data)
            for _ in range(5):
                data[rng.randrange(len(data))] ^= 0xFF
            data = bytes(data[:100]) + b"inserted" + bytes(data[100:])
        os.makedirs(os.path.join(new, os.path.dirname(rel)), exist_ok=True)
        open(os.path.join(new, rel), "wb").write(data)
PY
measure "$files files" "$work/old" "$work/new"
