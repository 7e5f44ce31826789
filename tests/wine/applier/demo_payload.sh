#!/usr/bin/env bash
# What the user sees: the payload the build ships (Lunder19Patch.EXE: the applier with the
# patch from the demo application's Ver1.0 to Ver2.0) run in a folder holding Ver1.0; it
# ends with "正常終了", and the folder then holds Ver2.0 byte for byte and Ver1.0 as
# Lunder19.OLD.
export TZ=Asia/Tokyo
source "$(dirname "$0")/common.sh"
wine_init applier/demo_payload

payload="$OUT_BIN/Lunder19Patch.EXE"
v1="$OUT_BIN/demo/v1/Lunder19.EXE"
v2="$OUT_BIN/demo/v2/Lunder19.EXE"
for f in "$payload" "$v1" "$v2"; do
  [ -f "$f" ] || { echo "missing $f (build the Windows programs)" >&2; exit 1; }
done
dir="$WINE_C/Tesbrin"
mkdir -p "$dir"
cp "$v1" "$dir/Lunder19.EXE"
cp "$payload" "$dir/Lunder19Patch.EXE"

start_applier 'C:\Tesbrin\Lunder19Patch.EXE'
final_box "ファイルアップデート"
check_line "the shipped payload completes" "text: 正常終了"
dialog_lines
check_line "line 900 names the demo program" 'item 900: C:\Tesbrin\Lunder19.exe'
check_line "line 903 shows the shipped description" "item 903: アップデート Ver1.0⇒2.0"
shot demo-payload-final
press_ok "ファイルアップデート"
expect_exit_0
check_same_file "Ver2.0 byte for byte" "$v2" "$dir/Lunder19.EXE"
check_same_file "Ver1.0 kept as Lunder19.OLD" "$v1" "$dir/Lunder19.OLD"
check_mtime "stamped 2008-01-30 16:48:09 local time" "2008-01-30 16:48:09" "$dir/Lunder19.EXE"
check_missing "no UPDATE.TMP is left" "$dir/UPDATE.TMP"
wine_done
