#!/usr/bin/env bash
# What the user sees when the update cannot be made: a changed Ver1.0 makes the applier
# stop with its "CRCが一致しません" box; after its OK the wizard says "アップデートに失敗しました。…"
# and ends, the program as it was. A Lunder19.OLD left from earlier does not turn that
# failure into a success and is left alone, while a good Ver1.0 beside such a backup still
# updates. When an applier leaves the program only under the backup name (a test wizard
# carrying a stand-in applier plays that part), the wizard moves it back to Lunder19.EXE
# and reports the failure: the user keeps a working program. A backup and a program made
# by another process are no success either, and neither file is deleted.
source "$(dirname "$0")/common.sh"
wine_init update/failures 180

install_spy
demo_install_v1 "$WINEPREFIX" "$V1" || exit 1
folder="$(wine_unix "$INSTALL_DIR")"
modified="$WINE_WORK/modified.exe"
cp "$V1" "$modified"
printf 'X' | dd of="$modified" bs=1 seek=4096 conv=notrunc 2>/dev/null

echo "== a modified Ver1.0"
cp "$modified" "$folder/Lunder19.EXE"
start_update
press_next
applier_final_box "CRCが一致しません"
check_line "the applier's box names the program" 'text: C:\TESBWIN\LUNDER19\Lunder19.exe'
shot failure-crc-box
press_applier_ok "CRCが一致しません"
expect_message "modified Ver1.0" "$FAILED_TEXT"
expect_exit "after the failure message"
check_same_file "the program is untouched" "$modified" "$folder/Lunder19.EXE"
check_missing "no backup" "$folder/Lunder19.OLD"
check_missing "no applier left" "$folder/Lunder19Patch.EXE"

echo "== a modified Ver1.0 beside an older Lunder19.OLD"
echo "an older backup" >"$folder/Lunder19.OLD"
touch -d '2007-06-01 12:00:00' "$folder/Lunder19.OLD"
cp -p "$folder/Lunder19.OLD" "$WINE_WORK/older-backup"
start_update
press_next
applier_final_box "CRCが一致しません"
press_applier_ok "CRCが一致しません"
expect_message "older backup, modified Ver1.0" "$FAILED_TEXT"
expect_exit "after the failure message"
check_same_file "the older backup is kept" "$WINE_WORK/older-backup" "$folder/Lunder19.OLD"
check_mtime "the older backup keeps its time" "2007-06-01 12:00:00" "$folder/Lunder19.OLD"
check_same_file "the program is untouched" "$modified" "$folder/Lunder19.EXE"

echo "== a good Ver1.0 beside an older Lunder19.OLD: the applier replaces it, success"
cp "$V1" "$(wine_ci "$folder/Lunder19.EXE")"
start_update
press_next
applier_final_box "ファイルアップデート"
press_applier_ok "ファイルアップデート"
expect_end_page
finish_end_page
expect_updated "$folder"

echo "== an applier that leaves the program only as Lunder19.OLD"
# The update above left the program as Lunder19.exe: replace that file, not a second one
# beside it that differs only in case.
rm -f "$(wine_ci "$folder/Lunder19.EXE")"
cp "$V1" "$folder/Lunder19.EXE"
touch -d '2007-01-15 09:00:00' "$folder/Lunder19.EXE"
rm -f "$WINE_C/fake-applier.log"
export FAKE_APPLIER_MODE=backup-only
start_update Update.exe "$SPY_DIR/fakepayload/Update.exe"
press_next
expect_message "backup left alone" "$FAILED_TEXT"
expect_exit "after the failure message"
unset FAKE_APPLIER_MODE
check_same_file "the program is back under its own name" "$V1" "$folder/Lunder19.EXE"
check_mtime "with its own time" "2007-01-15 09:00:00" "$folder/Lunder19.EXE"
check_missing "no backup (it was moved back, not deleted)" "$folder/Lunder19.OLD"
check_missing "no applier left" "$folder/Lunder19Patch.EXE"
applier_log="$(tr -d '\r' <"$WINE_C/fake-applier.log" 2>/dev/null)"
check_eq "the stand-in ran once" 1 "$(grep -c '^cmdline=' <<<"$applier_log")"
check "it was started by its path alone" grep -qE '^cmdline="?C:\\TESBWIN\\LUNDER19\\Lunder19Patch\.EXE"?$' <<<"$applier_log"
check "it inherited the wizard's current folder" grep -qxF 'cwd=C:\Download' <<<"$applier_log"

echo "== a backup and a program made by another process: no success, nothing deleted"
# The stand-in moves the program to Lunder19.OLD and puts a file of its own at
# Lunder19.EXE: a new backup beside a program, but not the program the payload rebuilds.
rm -f "$WINE_C/fake-applier.log"
export FAKE_APPLIER_MODE=foreign-pair
start_update Update.exe "$SPY_DIR/fakepayload/Update.exe"
press_next
expect_message "foreign program and backup" "$FAILED_TEXT"
expect_exit "after the failure message"
unset FAKE_APPLIER_MODE
check_same_file "the user's program is kept as the backup" "$V1" "$folder/Lunder19.OLD"
check "the other program is left where it is" grep -q "not the new program" "$folder/Lunder19.EXE"
check_missing "no applier left" "$folder/Lunder19Patch.EXE"

wine_done
