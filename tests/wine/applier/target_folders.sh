#!/usr/bin/env bash
# What the user sees: a run that creates files in the Windows folder ("*"), in a folder
# named by appending text to the Windows folder ("*sub": no backslash is added), in a
# sub-folder of the applier's folder ("sub"), and in the applier's folder itself (an empty
# target_folder, and format version 100 without one). First with a last entry, for a file
# in the Windows folder, that rebuilds a file which does not match new_crc: the box
# "CRCが一致しません" names that file, and the update is one transaction, so none of the
# files is made and no work file is left anywhere. Then the same five files without it:
# each lands where its folder says.
source "$(dirname "$0")/common.sh"
wine_init applier/target_folders

dir="$WINE_C/app"
w="$WINE_WORK"
mkdir -p "$dir/sub" "$WINE_C/windowssub"
for n in 1 2 3 4 5; do echo "file $n" >"$w/n$n.txt"; done
gen_file "$w/w3.old" 4000 5
changed_copy "$w/w3.old" "$w/w3.new"
cp "$w/w3.old" "$WINE_C/windows/w3.dat"

entries='
 {"name": "w1.txt", "flags": 32, "new": "n1.txt", "folder": "*"},
 {"name": "w2.txt", "flags": 32, "new": "n2.txt", "folder": "*sub"},
 {"name": "s1.txt", "flags": 32, "new": "n3.txt", "folder": "sub"},
 {"name": "v100.txt", "flags": 32, "new": "n4.txt", "version": 100},
 {"name": "e104.txt", "flags": 32, "new": "n5.txt", "folder": ""}'
(cd "$w" && pack_entries "$dir/Patch.EXE") <<JSON
[$entries,
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

check_same_file "new checksum mismatch: the target is unchanged" "$w/w3.old" "$WINE_C/windows/w3.dat"
check_missing "new checksum mismatch: no backup" "$WINE_C/windows/w3.OLD"
for f in windows/w1.txt windowssub/w2.txt app/sub/s1.txt app/v100.txt app/e104.txt; do
  check_missing "one transaction: $f is not made" "$WINE_C/$f"
done
check_eq "no work file is left" "" "$(cd "$WINE_C" && ls app app/sub windows windowssub | grep -i '^update' | tr '\n' ' ')"

(cd "$w" && pack_entries "$dir/Patch.EXE") <<JSON
[$entries]
JSON
start_applier 'C:\app\Patch.EXE'
final_box "ファイルアップデート"
press_ok "ファイルアップデート"
expect_exit_0
check_same_file '"*": the Windows folder' "$w/n1.txt" "$WINE_C/windows/w1.txt"
check_same_file '"*sub": the Windows folder with "sub" appended' "$w/n2.txt" "$WINE_C/windowssub/w2.txt"
check_same_file '"sub": a sub-folder of the applier'"'"'s folder' "$w/n3.txt" "$dir/sub/s1.txt"
check_same_file "version 100: the applier's folder" "$w/n4.txt" "$dir/v100.txt"
check_same_file "empty target_folder: the applier's folder" "$w/n5.txt" "$dir/e104.txt"
check_eq "no work file is left" "" "$(cd "$WINE_C" && ls app app/sub windows windowssub | grep -i '^update' | tr '\n' ' ')"
wine_done
