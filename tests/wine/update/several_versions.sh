#!/usr/bin/env bash
# One Update.exe for two old versions: `make update OLD="v1 v1.1" NEW=v2` makes a wizard
# whose patch data holds one entry per old version. Installed Ver1.0 and installed Ver1.1
# each become Ver2.0 byte for byte with the applier's "正常終了" and the completion page (also
# beside a backup that an earlier run left);
# an installed program that is neither (a changed Ver1.0) passes through every entry
# untouched, and the wizard reports "アップデートに失敗しました。…" with the program as it was.
source "$(dirname "$0")/common.sh"
wine_init update/several_versions 400

V11="$OUT_BIN/demo/v1.1/Lunder19.EXE"
[ -f "$V11" ] || { echo "missing $V11 (build the Windows programs first)" >&2; exit 1; }
vendor_build

echo "== make-update with two old versions"
STAMP="$NEW_STAMP" bash "$REPO_DIR/scripts/make-update.sh" "$V1 $V11" "$V2" "$build" >"$WINE_WORK/make-update.out" 2>&1
check "make-update succeeds" test $? -eq 0
tail -n 24 "$WINE_WORK/make-update.out" | sed 's/^/     /'
check "the patch data holds two entries" test "$(grep -cE '^ +old_crc ' "$WINE_WORK/make-update.out")" = 2
check_exists "out/Update.exe" "$out/Update.exe"

install_spy
demo_install_v1 "$WINEPREFIX" "$V1" || exit 1
folder="$(wine_unix "$INSTALL_DIR")"
# install FILE: FILE as the installed program. The applier leaves "Lunder19.exe" (its entry's
# name); Wine would take an older file of that case over a new "Lunder19.EXE".
install() {
  rm -f "$folder"/[Ll][Uu][Nn][Dd][Ee][Rr]19.[Ee][Xx][Ee]
  cp "$1" "$folder/Lunder19.EXE"
}
unknown="$WINE_WORK/unknown.exe"
cp "$V1" "$unknown"
printf 'X' | dd of="$unknown" bs=1 seek=4096 conv=notrunc 2>/dev/null

# The last turn finds a backup left by an earlier run: the entry for Ver1.1 keeps it and
# replaces the program, which is still a success.
for version in 1.0 1.1 "1.1 beside an earlier backup"; do
  echo "== installed Ver$version"
  installed="$V1"
  [ "$version" != 1.0 ] && installed="$V11"
  install "$installed"
  [ "${version#* }" != "$version" ] && cp "$V1" "$folder/Lunder19.OLD"
  start_update Update.exe "$out/Update.exe"
  press_next
  applier_final_box "ファイルアップデート"
  check_line "Ver$version: the applier ends normally" "text: 正常終了"
  press_applier_ok "ファイルアップデート"
  expect_end_page
  finish_end_page
  expect_updated "$folder"
done

echo "== installed: neither old version"
install "$unknown"
start_update Update.exe "$out/Update.exe"
press_next
applier_final_box "ファイルアップデート"
shot several-versions-unknown-applier
press_applier_ok "ファイルアップデート"
expect_message "unknown version" "$FAILED_TEXT"
expect_exit "after the failure message"
check_same_file "the program is untouched" "$unknown" "$folder/Lunder19.EXE"
check_missing "no backup" "$folder/Lunder19.OLD"
check_missing "no applier left" "$folder/Lunder19Patch.EXE"
check_missing "no temporary file left" "$folder/UPDATE.TMP"

wine_done
