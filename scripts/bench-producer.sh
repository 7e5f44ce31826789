#!/usr/bin/env bash
# Patch sizes, encode and apply times and peak memory of our producer beside bsdiff,
# zstd --patch-from and xdelta3, on consecutive releases of real 32-bit Windows programs,
# all in one run on this machine. Usage: bench-producer.sh BUILD_DIR
# (HDiffPatch would be a fourth tool beside them, but Debian has neither a package nor a
# source package of it.)
# The corpus comes from scripts/corpus.sh (fetched into a cache, pinned by sha256).
set -euo pipefail

build=${1:?usage: bench-producer.sh BUILD_DIR}
bin=$build/bin
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/bench-producer.XXXXXX")
trap 'rm -rf "$work"' EXIT

bash "$here/install-deps.sh" bench

pairs=(
  "esbuild-0.15.17.exe esbuild-0.15.18.exe"
  "esbuild-0.15.10.exe esbuild-0.15.18.exe"
  "esbuild-0.19.11.exe esbuild-0.19.12.exe"
  "7za-5.1.1.exe 7za-5.2.0.exe"
  "ngrok-1.6.0.node ngrok-1.7.0.node"
  "swc-1.3.100.node swc-1.3.101.node"
)

files=$(bash "$here/corpus.sh")

# Runs a command under /usr/bin/time; sets $secs (wall, to the millisecond: applying takes
# a few hundredths) and $peak_mb.
timed() {
  local start=$EPOCHREALTIME
  /usr/bin/time -f '%M' -o "$work/time" "$@" >"$work/out" 2>"$work/err" || {
    echo "bench-producer: failed: $*" >&2
    cat "$work/err" >&2
    return 1
  }
  secs=$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN{printf "%.3f", b - a}')
  read -r kb <"$work/time"
  peak_mb=$((kb / 1024))
}

same() { cmp -s "$1" "$2" && echo yes || echo NO; }

# best_of N COMMAND...: runs a timed command N times and keeps the least $secs (and that
# run's $peak_mb): a run of a few hundredths of a second is easily stretched by the
# machine's other work.
best_of() {
  local runs=$1 best="" best_mb="" i
  shift
  for ((i = 0; i < runs; i++)); do
    "$@"
    if [ -z "$best" ] || awk -v a="$secs" -v b="$best" 'BEGIN{exit !(a < b)}'; then best=$secs best_mb=$peak_mb; fi
  done
  secs=$best peak_mb=$best_mb
}

# One apply of our patch in FORMAT to a fresh copy of OLD under the entry's target name.
apply_once() {
  rm -rf "$work/dir" && mkdir "$work/dir" && cp "$o" "$work/dir/target.bin"
  timed "$bin/patchtool" apply "$work/p.$1" --dir "$work/dir"
}

copy_once() {
  rm -rf "$work/copy" && mkdir "$work/copy"
  timed cp "$o" "$n" "$work/copy/"
}

# Ours in FORMAT, made from $o to $n and applied natively to a copy of OLD under the
# entry's target name; adds a row.
ours() {  # format label extra-args...
  local format=$1 tool=$2
  shift 2
  timed "$bin/patchtool" make "$o" "$n" -o "$work/p.$format" --name target.bin --stamp "2020-01-01 00:00:00" "$@"
  local enc=$secs mem=$peak_mb records
  records=$(sed -n 's/.* records (\([0-9]*\) copy, \([0-9]*\) literal), \([0-9]*\) literal bytes.*/\1 \2 \3/p' "$work/out")
  # --format 3 keeps 2.00 where 3.00 is not smaller: the row says which it kept.
  if grep -q "bytes, format 2.00 (" "$work/out"; then records=kept-2.00; fi
  best_of 3 apply_once "$format"
  rows+=("$tool $(stat -c %s "$work/p.$format") $enc $mem $secs $(same "$work/dir/target.bin" "$n") ${records// /,}")
}

printf '%-40s %-10s %11s %8s %8s %8s %8s %7s %s\n' pair tool bytes vs-best encode-s peak-MB apply-s rebuilt note
for pair in "${pairs[@]}"; do
  read -r old new <<<"$pair"
  o=$files/$old n=$files/$new
  label="$old -> $new"
  rows=()
  ours 1 ours-1.04
  ours 2 ours-2.00 --format 2
  ours 3 ours-3.00 --format 3

  timed bsdiff "$o" "$n" "$work/p.bsdiff"
  enc=$secs mem=$peak_mb
  timed bspatch "$o" "$work/r.bsdiff" "$work/p.bsdiff"
  rows+=("bsdiff $(stat -c %s "$work/p.bsdiff") $enc $mem $secs $(same "$work/r.bsdiff" "$n") -")

  timed zstd -q -f -19 --long=27 --patch-from="$o" "$n" -o "$work/p.zst"
  enc=$secs mem=$peak_mb
  timed zstd -q -f -d --long=27 --patch-from="$o" "$work/p.zst" -o "$work/r.zst"
  rows+=("zstd-19 $(stat -c %s "$work/p.zst") $enc $mem $secs $(same "$work/r.zst" "$n") -")

  timed xdelta3 -f -e -9 -S lzma -s "$o" "$n" "$work/p.xd3"
  enc=$secs mem=$peak_mb
  timed xdelta3 -f -d -s "$o" "$work/p.xd3" "$work/r.xd3"
  rows+=("xdelta3 $(stat -c %s "$work/p.xd3") $enc $mem $secs $(same "$work/r.xd3" "$n") -")

  # What applying is measured against: copying OLD and NEW, under the same clock.
  best_of 3 copy_once
  copy_secs=$secs

  # The least record bytes the copy/literal format allows for this pair.
  timed "$bin/record_minimum" "$o" "$n"
  read -r minimum _ <"$work/out"
  min_secs=$secs min_mb=$peak_mb

  best=$(printf '%s\n' "${rows[@]}" | awk '$1=="bsdiff"||$1=="zstd-19"{print $2}' | sort -n | head -1)
  old_mb=$(awk -v s="$(stat -c %s "$o")" 'BEGIN{printf "%.3f", s / 1048576}')
  for row in "${rows[@]}"; do
    read -r tool bytes enc mem app ok records <<<"$row"
    note=""
    if [ "$records" = kept-2.00 ]; then
      note="kept 2.00"
    elif [ "$records" != "-" ] && [ -n "$records" ]; then
      IFS=, read -r copies literals literal_bytes <<<"$records"
      record_bytes=$((6 * copies + 2 * literals + literal_bytes))
      note=$(awk -v r="$record_bytes" -v m="$minimum" 'BEGIN{printf "records %d = %.4fx the minimum %d", r, r/m, m}')
    fi
    ratio=$(awk -v a="$bytes" -v b="$best" 'BEGIN{printf "%.3f", a/b}')
    if [ "${tool%-*}" = ours ]; then
      note=$(awk -v a="$app" -v c="$copy_secs" -v n="$note" 'BEGIN{printf "apply %.1fx a copy%s%s", a/c, (n=="" ? "" : "; "), n}')
    fi
    if [ "$tool" = ours-3.00 ]; then
      note=$(awk -v b="$bytes" -v e="$enc" -v m="$mem" -v a="$app" -v r="$ref2" -v n="$note" -v o="$old_mb" 'BEGIN{
        split(r, t, ","); printf "%s; vs 2.00: bytes %.3fx, encode %.2fx, apply %.2fx; peak %.1fx OLD", n, b/t[1], e/t[2], a/t[4], m/o}')
    fi
    if [ "$tool" = ours-2.00 ]; then ref2="$bytes,$enc,$mem,$app"; fi
    printf '%-40s %-10s %11s %8s %8s %8s %8s %7s %s\n' "$label" "$tool" "$bytes" "$ratio" "$enc" "$mem" "$app" "$ok" "$note"
  done
  printf '%-40s %-10s %11s %8s %8s %8s %8s %7s %s\n' "$label" minimum "$minimum" - "$min_secs" "$min_mb" - - "exact least record bytes of the copy/literal format"
  printf '%-40s %-10s %11s %8s %8s %8s %8s %7s %s\n' "$label" copy - - - - "$copy_secs" - "cp of OLD and NEW"
done
echo "vs-best: patch bytes over the smaller of bsdiff and zstd; times in seconds (wall; our apply-s and the copy: the least of three runs), peak resident memory in MB"
