#!/usr/bin/env bash
# What the user sees: the rebuilt program is ready but the older backup Lunder19.OLD is
# held open by another program: the box "ファイルが削除できません" names the backup, and
# the installed program is still there and unchanged, and no work file is left (the
# backup's name is checked before anything is written). In a second run a folder stands at the backup path: the box
# "ファイル名が変更できません" names the program, and again the program is unchanged.
source "$(dirname "$0")/common.sh"
wine_init applier/backup_blocked

dir="$WINE_C/app"
w="$WINE_WORK"
mkdir -p "$dir"
gen_file "$w/old.bin" 30000 21
changed_copy "$w/old.bin" "$w/new.bin"
echo "an older backup" >"$w/older.bin"
(cd "$w" && pack_entries "$dir/Lunder19Patch.EXE") <<'JSON'
[{"name": "Lunder19.exe", "old": "old.bin", "new": "new.bin"}]
JSON

echo "== the older backup is held open without sharing"
cp "$w/old.bin" "$dir/Lunder19.EXE"
cp "$w/older.bin" "$dir/Lunder19.OLD"
wine_hold 'C:\app\Lunder19.OLD'
check_eq "another program holds the backup" 0 "$?"
start_applier 'C:\app\Lunder19Patch.EXE'
final_box "ファイルが削除できません"
check_line "the box names the backup" 'text: C:\app\Lunder19.OLD'
check_line "the box is owned by the progress dialog" "owner: \"$DIALOG\""
check_line "the box has the exclamation icon" "icon: yes"
shot backup-held
press_ok "ファイルが削除できません"
expect_exit_0
wine_release
check_same_file "held backup: the program is unchanged" "$w/old.bin" "$dir/Lunder19.EXE"
check_same_file "held backup: the older backup is still there" "$w/older.bin" "$dir/Lunder19.OLD"
check_missing "held backup: no UPDATE.TMP" "$dir/UPDATE.TMP"

echo "== a folder at the backup path"
rm -f "$(wine_ci "$dir/Lunder19.OLD")" "$dir/UPDATE.TMP"
mkdir "$dir/Lunder19.OLD"
start_applier 'C:\app\Lunder19Patch.EXE'
final_box "ファイル名が変更できません"
check_line "the box names the program" 'text: C:\app\Lunder19.exe'
check_line "the box is owned by the progress dialog" "owner: \"$DIALOG\""
press_ok "ファイル名が変更できません"
expect_exit_0
check_same_file "folder at the backup path: the program is unchanged" "$w/old.bin" "$dir/Lunder19.EXE"
check "folder at the backup path: the folder stays" test -d "$dir/Lunder19.OLD"
check_missing "folder at the backup path: no UPDATE.TMP" "$dir/UPDATE.TMP"
wine_done
