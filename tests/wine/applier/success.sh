#!/usr/bin/env bash
# What the user sees: the applier, started in the install folder, shows its progress
# dialog, rebuilds Lunder19.exe and ends with the box "正常終了" in front of the dialog;
# afterwards the folder holds the new program (stamped 2008-01-30 16:48:09 local time) and
# the previous one as Lunder19.OLD. Run with a wrong installed file first, it stops with
# "CRCが一致しません" and changes nothing; run again over the updated folder, it stops the
# same way and leaves the backup alone. The patch comes from patchtool make and pack.
#
# The time zone is not UTC so that a stamp set as UTC instead of local time shows.
export TZ=Asia/Tokyo
source "$(dirname "$0")/common.sh"
wine_init applier/success

tool="${PATCHTOOL:-$OUT_BIN/patchtool}"
[ -x "$tool" ] || { echo "missing $tool (build the native tools)" >&2; exit 1; }
app_dir="$WINE_C/app"
mkdir -p "$app_dir"
gen_file "$WINE_WORK/old.bin" 300000 1
changed_copy "$WINE_WORK/old.bin" "$WINE_WORK/new.bin"
"$tool" make "$WINE_WORK/old.bin" "$WINE_WORK/new.bin" -o "$WINE_WORK/test.patch" --name Lunder19.exe \
  --description "アップデート Ver1.0⇒2.0" --stamp "2008-01-30 16:48:09" || exit 1
"$tool" pack "$APPLIER_EXE" "$WINE_WORK/test.patch" -o "$app_dir/Lunder19Patch.EXE" || exit 1

echo "== a wrong installed file: nothing is created"
echo "some other program" >"$app_dir/Lunder19.EXE"
cp "$app_dir/Lunder19.EXE" "$WINE_WORK/wrong.bin"
start_applier 'C:\app\Lunder19Patch.EXE'
final_box "CRCが一致しません"
check_line "mismatch box names the target" 'text: C:\app\Lunder19.exe'
check_line "mismatch box has no owner" "owner: none"
check_line "mismatch box has the exclamation icon" "icon: yes"
press_ok "CRCが一致しません"
expect_exit_0
check_same_file "the wrong file is left as it was" "$WINE_WORK/wrong.bin" "$app_dir/Lunder19.EXE"
check_missing "no backup after a mismatch" "$app_dir/Lunder19.OLD"
check_missing "no temporary file after a mismatch" "$app_dir/UPDATE.TMP"

echo "== the update, over a stale UPDATE.TMP"
cp "$WINE_WORK/old.bin" "$app_dir/Lunder19.EXE"
echo "left by an earlier run" >"$app_dir/UPDATE.TMP"
start_applier 'C:\app\Lunder19Patch.EXE'
final_box "ファイルアップデート"
check_line "completion text" "text: 正常終了"
check_line "completion box is owned by the progress dialog" "owner: \"$DIALOG\""
check_line "completion box has no icon" "icon: no"
dialog_lines
check_line "line 900 shows the target path" 'item 900: C:\app\Lunder19.exe'
check_line "line 903 shows the description" "item 903: アップデート Ver1.0⇒2.0"
check_line "line 902 shows the size" "item 902: ファイルサイズ : $(stat -c %s "$WINE_WORK/new.bin") ﾊﾞｲﾄ"
check_line "line 901 shows 100%" "item 901: 100%"
check_line "the bar is full" "progress 1000: 100"
shot success-final
# The template as built: controls in template order with their styles, the dialog's style.
drive "wait $DIALOG 2000" children style >/dev/null
check_eq "controls in template order, with their styles" \
  "900 Static 0x50020000|903 Static 0x50020000|902 Static 0x50020000|901 Static 0x50020002|1000 msctls_progress32 0x50000000|" \
  "$(sed -n 's/^child: id=\([0-9]*\) class=\([^ ]*\) style=\([^ ]*\) .*/\1 \2 \3/p' <<<"$DRIVEN" | tr '\n' '|')"
style="$(sed -n 's/^style: \(0x[0-9A-F]*\) .*/\1/p' <<<"$DRIVEN")"
# Popup, visible, caption, system menu, modal frame, set-font (Windows adds a few of its own).
check "dialog style as in the template" test $((${style:-0} & 0x90C800C0)) -eq $((0x90C800C0))
drive "wait $DIALOG 2000" sysclose "sleep 300" "exists $DIALOG" >/dev/null
check_line "the close box does not close the progress dialog" "exists: 1"
press_ok "ファイルアップデート"
expect_exit_0
check_same_file "the new program, byte for byte" "$WINE_WORK/new.bin" "$app_dir/Lunder19.EXE"
check_same_file "the previous program is the backup" "$WINE_WORK/old.bin" "$app_dir/Lunder19.OLD"
check_missing "no UPDATE.TMP is left" "$app_dir/UPDATE.TMP"
check_eq "one program file, not two names of it" 1 "$(find "$app_dir" -maxdepth 1 -iname lunder19.exe | wc -l)"
check_mtime "stamped 2008-01-30 16:48:09 local time" "2008-01-30 16:48:09" "$app_dir/Lunder19.EXE"
check_eq "that is 07:48:09 UTC" "2008-01-30 07:48:09" "$(date -u -r "$(wine_ci "$app_dir/Lunder19.EXE")" '+%Y-%m-%d %H:%M:%S')"

echo "== a second run over the updated folder"
start_applier 'C:\app\Lunder19Patch.EXE'
final_box "CRCが一致しません"
check_line "second run: mismatch box names the target" 'text: C:\app\Lunder19.exe'
shot second-run-mismatch
press_ok "CRCが一致しません"
expect_exit_0
check_same_file "second run: the new program stays" "$WINE_WORK/new.bin" "$app_dir/Lunder19.EXE"
check_same_file "second run: the backup stays the old program" "$WINE_WORK/old.bin" "$app_dir/Lunder19.OLD"
check_missing "second run: no UPDATE.TMP" "$app_dir/UPDATE.TMP"

wine_done
