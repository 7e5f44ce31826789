#!/usr/bin/env bash
# What the user sees: an update in the install folder "C:\表示ソフト" (表 is 95 5C and ソ
# is 83 5C in code page 932: their second byte is a backslash) by an applier whose own
# name holds such characters too. Line 900 shows the whole path, the run ends with
# "正常終了", and every file lands in the right folder with the right name: the new
# 表示.exe, its backup 表示.OLD, and a new file in the sub-folder "ソフト"; no stray files
# cut at a false backslash appear anywhere.
source "$(dirname "$0")/common.sh"
wine_init applier/install_folder_5c

dir="$WINE_C/表示ソフト"
w="$WINE_WORK"
mkdir -p "$dir/ソフト"
gen_file "$w/old.bin" 40000 11
changed_copy "$w/old.bin" "$w/new.bin"
echo "created in a sub-folder" >"$w/sub.txt"
cp "$w/old.bin" "$dir/表示.exe"

(cd "$w" && pack_entries "$dir/ソフト表.EXE") <<'JSON'
[
 {"name": "表示.exe", "old": "old.bin", "new": "new.bin"},
 {"name": "表.txt", "flags": 32, "new": "sub.txt", "folder": "ソフト"}
]
JSON
find "$WINE_C" -xdev | sort >"$w/before.list"

start_applier 'C:\表示ソフト\ソフト表.EXE'
final_box "ファイルアップデート"
check_line "the run completes" "text: 正常終了"
dialog_lines
check_line "line 900 shows the whole path" 'item 900: C:\表示ソフト\ソフト\表.txt'
shot install-folder-5c-final
press_ok "ファイルアップデート"
expect_exit_0

check_same_file "the new program in the install folder" "$w/new.bin" "$dir/表示.exe"
check_same_file "its backup is 表示.OLD" "$w/old.bin" "$dir/表示.OLD"
check_same_file "the file in the sub-folder" "$w/sub.txt" "$dir/ソフト/表.txt"
check_missing "no UPDATE.TMP is left" "$dir/UPDATE.TMP"
find "$WINE_C" -xdev | sort >"$w/after.list"
added="$(comm -13 "$w/before.list" "$w/after.list" | grep -v '^'"$WINE_C"'/\(users\|windows\)/' | sed "s|^$WINE_C/||" | tr '\n' ' ')"
check_eq "exactly the expected new files" "表示ソフト/ソフト/表.txt 表示ソフト/表示.OLD " "$added"
wine_done
