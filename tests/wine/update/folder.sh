#!/usr/bin/env bash
# What the vendor and the user see with an update of a whole product folder: `make update
# OLD_DIR=… NEW_DIR=…` (scripts/make-update.sh, here with a space in the old folder's path)
# turns the demo product's Ver1.0 folder (the program, a library, a data file, a help
# folder) into its Ver2.0 folder (a manual and a forms sub-folder added, the help folder
# gone). The update ends on the completion page, with every file of Ver2.0 byte for byte and
# nothing of Ver1.0 or of the update left. When one file of the installed Ver1.0 is damaged,
# or missing, the whole update fails with every file as it was.
source "$(dirname "$0")/common.sh"
wine_init update/folder 400

V1_DIR="$OUT_BIN/demo/folder/v1"
V2_DIR="$OUT_BIN/demo/folder/v2"
[ -f "$V2_DIR/taxrates.dll" ] || { echo "missing $V2_DIR (build the Windows programs first)" >&2; exit 1; }
vendor_build
old_dir="$WINE_WORK/release 1.0"  # a space in the path
cp -r "$V1_DIR" "$old_dir"

echo "== make update OLD_DIR=… NEW_DIR=…"
t0=$(date +%s.%N)
OLD_DIR="$old_dir" NEW_DIR="$V2_DIR" bash "$REPO_DIR/scripts/make-update.sh" "" "" "$build" >"$WINE_WORK/make-update.out" 2>&1
check "make-update succeeds" test $? -eq 0
awk -v a="$t0" -v b="$(date +%s.%N)" 'BEGIN { printf "timing: make-update of the folder %.1f s\n", b - a }'
sed 's/^/     /' "$WINE_WORK/make-update.out" | tail -n 14
summary="$(cat "$WINE_WORK/make-update.out")"
for line in "updated: 3 files" "created if missing: 2 files" "deleted: 1 file" 'forms\2008\gensen.frm'; do
  check "the summary lists $line" grep -qF "$line" <<<"$summary"
done

# install_folder DIR: the demo product's Ver1.0 as its installer leaves it, files from DIR.
install_folder() {
  rm -rf "$folder"
  demo_install_v1 "$WINEPREFIX" "$1/Lunder19.EXE" >/dev/null || exit 1
  cp -r "$1"/. "$folder/"
}
# same_tree WHAT EXPECTED_DIR: the install folder holds exactly the files of EXPECTED_DIR.
same_tree() {
  local got expected
  expected="$(cd "$2" && find . -type f -exec sha256sum {} + | sort -k2)"
  got="$(cd "$folder" && find . -type f ! -name Readme.txt -exec sha256sum {} + | sort -k2)"
  check_eq "$1" "$expected" "$got"
}

install_spy
folder="$(wine_unix "$INSTALL_DIR")"
echo "== the update"
install_folder "$V1_DIR"
start_update Update.exe "$out/Update.exe"
press_next
applier_final_box "ファイルアップデート"
press_applier_ok "ファイルアップデート"
expect_end_page
finish_end_page
same_tree "every file is Ver2.0's, byte for byte, and no other" "$V2_DIR"
check_missing "the help folder of Ver1.0 is gone" "$folder/help"
check_exists "the new sub-folder is there" "$folder/forms/2008"

for broken in damaged missing; do
  echo "== a $broken file in the installed Ver1.0"
  install_folder "$V1_DIR"
  if [ "$broken" = damaged ]; then
    printf 'X' | dd of="$folder/data/rates.csv" bs=1 seek=3 conv=notrunc 2>/dev/null
  else
    rm -f "$folder/taxrates.dll"
  fi
  snapshot="$WINE_WORK/installed-$broken"
  rm -rf "$snapshot" && cp -r "$folder" "$snapshot"
  start_update Update.exe "$out/Update.exe"
  press_next
  if [ "$broken" = damaged ]; then
    applier_final_box "CRCが一致しません"
    check_line "the applier names the damaged file" 'text: C:\TESBWIN\LUNDER19\data\rates.csv'
    press_applier_ok "CRCが一致しません"
  else
    applier_final_box "ファイルがオープンできません"
    check_line "the applier names the missing file" 'text: C:\TESBWIN\LUNDER19\taxrates.dll'
    press_applier_ok "ファイルがオープンできません"
  fi
  expect_message "$broken file" "$FAILED_TEXT"
  expect_exit "after the failure message"
  rm -f "$snapshot/Readme.txt"
  same_tree "$broken file: every file as it was" "$snapshot"
done
wine_done
