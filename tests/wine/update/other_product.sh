#!/usr/bin/env bash
# A wizard for another product, built from profiles/kanvelo10.ini with `make update
# PROFILE=…`: its pages carry that product's titles, it finds Chobo10.EXE through that
# product's uninstall entry in C:\KANVELO\帳簿ソフト\ (a folder name whose "ソ" ends in byte
# 0x5C), refuses while the program holds that product's mutex, and then brings Ver3.0 to
# Ver3.1 byte for byte, leaving no Chobo10.OLD and no Chobo10Patch.EXE.
source "$(dirname "$0")/common.sh"
wine_init update/other_product 400

PROFILE_FILE="$REPO_DIR/profiles/kanvelo10.ini"
K30="$OUT_BIN/demo/kanvelo/v3.0/Chobo10.EXE"
K31="$OUT_BIN/demo/kanvelo/v3.1/Chobo10.EXE"
for needed in "$K30" "$K31"; do
  [ -f "$needed" ] || { echo "missing $needed (build the Windows programs first)" >&2; exit 1; }
done
profile_value() { "$NATIVE_BIN/profilegen" "$PROFILE_FILE" --get "$1"; }
APP_TITLE="$(profile_value AppTitle)"
UPDATE_TITLE="$(profile_value UpdateTitle)"
K_KEY="HKLM\\$(profile_value UninstallKey)"
K_FOLDER="C:\\$(profile_value DefaultSubFolder)"
K_FOLDER="${K_FOLDER%\\}"

vendor_build

echo "== make-update for the other product"
PROFILE="$PROFILE_FILE" STAMP="2010-04-01 10:00:00" bash "$REPO_DIR/scripts/make-update.sh" "$K30" "$K31" "$build" \
  >"$WINE_WORK/make-update.out" 2>&1
check "make-update succeeds" test $? -eq 0
tail -n 14 "$WINE_WORK/make-update.out" | sed 's/^/     /'
check "the entry rebuilds Chobo10.EXE" grep -qE '^ +target_name +Chobo10.EXE$' "$WINE_WORK/make-update.out"
check_exists "out/Update.exe" "$out/Update.exe"

echo "== the installed product"
install_spy
folder="$(wine_unix "$K_FOLDER")"
mkdir -p "$folder"
cp "$K30" "$folder/Chobo10.EXE"
wiz_reg add "$K_KEY" /v "$(profile_value InstallPathValue)" /t REG_SZ /d "$K_FOLDER\\Chobo10.EXE" /f
check "the uninstall entry is written" test $? -eq 0

echo "== the wizard, with the program running"
wine_bg program "$K_FOLDER\\Chobo10.EXE"
drive "wait Kanvelo 帳簿ソフト2010 20000" >/dev/null
_check $? "Ver3.0 runs and shows its window"
start_update Update.exe "$out/Update.exe"
check_eq "the folder page proposes the product's folder" "$K_FOLDER\\" "$(folder_text)"
press_next
expect_message "program running" 'アプリケーションが起動されています。\r終了してからインストールしてください。'
drive "wait Kanvelo 帳簿ソフト2010 2000" "click 1" >/dev/null
wine_wait "$program" 10

echo "== the update"
press_next
applier_final_box "ファイルアップデート"
check_line "the applier ends normally" "text: 正常終了"
press_applier_ok "ファイルアップデート"
expect_end_page
finish_end_page
check_same_file "the program is Ver3.1 byte for byte" "$K31" "$folder/Chobo10.EXE"
check_mtime "with the recorded stamp" "2010-04-01 10:00:00" "$folder/Chobo10.EXE"
check_missing "no backup left" "$folder/Chobo10.OLD"
check_missing "no applier left" "$folder/Chobo10Patch.EXE"
check_missing "no temporary file left" "$folder/UPDATE.TMP"

wine_done
