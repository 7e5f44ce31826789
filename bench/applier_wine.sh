#!/usr/bin/env bash
# How long the Windows applier takes under Wine, from its start to its final box, on a real
# program pair (esbuild 0.15.17 -> 0.15.18, 8.4 MB) with a patch of each format, beside the
# same run on a 1 KB file (what starting Wine and the applier costs by itself); then every
# other pair of the corpus once in 3.00. Every run must end with "正常終了" and the new file
# byte for byte.
# Usage (make bench-applier): OUT_BIN=... WINE_BUILD_DIR=... PATCHTOOL=... applier_wine.sh
source "$(dirname "$0")/../tests/wine/applier/common.sh"
wine_init bench/applier_wine 600

files=$(bash "$REPO_DIR/scripts/corpus.sh") || exit 1
w="$WINE_WORK"
dir="$WINE_C/app"
mkdir -p "$dir"
gen_file "$w/small.old" 1024 3
changed_copy "$w/small.old" "$w/small.new"

# run LABEL OLD NEW FORMAT: one update of OLD to NEW under Wine; prints the seconds to the final box.
run() {
  local label=$1 old=$2 new=$3 format=$4
  "$PATCHTOOL" make "$old" "$new" -o "$w/p" --name target.bin --format "$format" --quiet \
    --stamp "2020-01-01 00:00:00" >/dev/null || exit 1
  "$PATCHTOOL" pack "$APPLIER_EXE" "$w/p" -o "$dir/Patch.EXE" >/dev/null || exit 1
  rm -f "$dir/target.bin" "$dir/target.OLD"
  cp "$old" "$dir/target.bin"
  local start=$EPOCHREALTIME
  start_applier 'C:\app\Patch.EXE'
  final_box "ファイルアップデート" >/dev/null
  local secs
  secs=$(awk -v a="$start" -v b="$EPOCHREALTIME" 'BEGIN{printf "%.2f", b - a}')
  check_line "$label: the run completes" "text: 正常終了"
  press_ok "ファイルアップデート"
  expect_exit_0
  check_same_file "$label: the new file byte for byte" "$new" "$dir/target.bin"
  rows+=("$(printf '%-34s %-7s %9s %8s' "$label" "$format" "$(stat -c %s "$w/p")" "$secs")")
}

rows=()
for round in 1 2 3; do
  run "1 KB file" "$w/small.old" "$w/small.new" 1
  run "esbuild 0.15.17 -> 0.15.18" "$files/esbuild-0.15.17.exe" "$files/esbuild-0.15.18.exe" 1
  run "esbuild 0.15.17 -> 0.15.18" "$files/esbuild-0.15.17.exe" "$files/esbuild-0.15.18.exe" 2
  run "esbuild 0.15.17 -> 0.15.18" "$files/esbuild-0.15.17.exe" "$files/esbuild-0.15.18.exe" 3
done
for pair in "esbuild-0.15.10.exe esbuild-0.15.18.exe" "esbuild-0.19.11.exe esbuild-0.19.12.exe" \
  "7za-5.1.1.exe 7za-5.2.0.exe" "ngrok-1.6.0.node ngrok-1.7.0.node" "swc-1.3.100.node swc-1.3.101.node"; do
  read -r old new <<<"$pair"
  run "${old%.*} -> ${new%.*}" "$files/$old" "$files/$new" 3
done
printf '%-34s %-7s %9s %8s\n' pair format patch-B final-s
printf '%s\n' "${rows[@]}"
echo "final-s: wall seconds from starting the $WINE_BITS-bit applier under Wine to its final box (Wine's start included)"
wine_done
