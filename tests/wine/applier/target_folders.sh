#!/usr/bin/env bash
# What the user sees: a run that creates files in the Windows folder ("*"), in a folder
# named by appending text to the Windows folder ("*sub": no backslash is added), in a
# sub-folder of the applier's folder ("sub"), and in the applier's folder itself (an empty
# target_folder, and format version 100 without one). Its last entry, for a file in the
# Windows folder, rebuilds a file that does not match new_crc: the box
# "CRCが一致しません" names that file, and UPDATE.TMP is left in the Windows folder, where
# the file lies, not in the applier's folder.
source "$(dirname "$0")/common.sh"
wine_init applier/target_folders

dir="$WINE_C/app"
w="$WINE_WORK"
mkdir -p "$dir/sub" "$WINE_C/windowssub"
for n in 1 2 3 4 5; do echo "file $n" >"$w/n$n.txt"; done
gen_file "$w/w3.old" 4000 5
changed_copy "$w/w3.old" "$w/w3.new"
cp "$w/w3.old" "$WINE_C/windows/w3.dat"

(cd "$w" && pack_entries "$dir/Patch.EXE") <<'JSON'
[
 {"name": "w1.txt", "flags": 32, "new": "n1.txt", "folder": "*"},
 {"name": "w2.txt", "flags": 32, "new": "n2.txt", "folder": "*sub"},
 {"name": "s1.txt", "flags": 32, "new": "n3.txt", "folder": "sub"},
 {"name": "v100.txt", "flags": 32, "new": "n4.txt", "version": 100},
 {"name": "e104.txt", "flags": 32, "new": "n5.txt", "folder": ""},
 {"name": "w3.dat", "old": "w3.old", "new": "w3.new", "folder": "*", "new_crc": 305419896}
]
JSON

start_applier 'C:\app\Patch.EXE'
final_box "CRCが一致しません"
check_line "the rebuilt file's mismatch names the target in the Windows folder" 'text: C:\windows\w3.dat'
check_line "that box is owned by the progress dialog" "owner: \"$DIALOG\""
check_line "that box has the exclamation icon" "icon: yes"
shot new-checksum-mismatch
press_ok "CRCが一致しません"
expect_exit_0

check_same_file '"*": the Windows folder' "$w/n1.txt" "$WINE_C/windows/w1.txt"
check_same_file '"*sub": the Windows folder with "sub" appended' "$w/n2.txt" "$WINE_C/windowssub/w2.txt"
check_same_file '"sub": a sub-folder of the applier'"'"'s folder' "$w/n3.txt" "$dir/sub/s1.txt"
check_same_file "version 100: the applier's folder" "$w/n4.txt" "$dir/v100.txt"
check_same_file "empty target_folder: the applier's folder" "$w/n5.txt" "$dir/e104.txt"
check_same_file "new checksum mismatch: the target is unchanged" "$w/w3.old" "$WINE_C/windows/w3.dat"
check_missing "new checksum mismatch: no backup" "$WINE_C/windows/w3.OLD"
check_same_file "new checksum mismatch: UPDATE.TMP stays beside the target" "$w/w3.new" "$WINE_C/windows/UPDATE.TMP"
check_missing "no UPDATE.TMP in the applier's folder" "$dir/UPDATE.TMP"
wine_done
