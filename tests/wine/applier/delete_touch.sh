#!/usr/bin/env bash
# What the user sees: a box "ファイル時刻変更不能" with "[87]" for an entry whose recorded
# date is no calendar date (month 13), then "正常終了" with the bar back at 0% after the
# last entry, a delete. In the folder: the touch-marker entry gave T.dat the recorded time
# and changed none of its bytes, with no temporary file and no backup; the entry with the
# impossible date left U.dat's time as it was and the run went on; the delete entry
# removed G.dat; a delete entry whose file is missing is no failure.
source "$(dirname "$0")/common.sh"
wine_init applier/delete_touch

dir="$WINE_C/app"
w="$WINE_WORK"
mkdir -p "$dir"
gen_file "$w/t.bin" 5000 9
cp "$w/t.bin" "$dir/T.dat"
cp "$w/t.bin" "$dir/U.dat" && touch -d '2001-02-03 04:05:06' "$dir/U.dat"
echo "to be deleted" >"$dir/G.dat"

(cd "$w" && pack_entries "$dir/Patch.EXE") <<JSON
[
 {"name": "T.dat", "old": "t.bin", "body": "touch", "new_size": $(stat -c %s "$w/t.bin"),
  "stamp": [2012, 3, 4, 5, 6, 7], "desc": "T: new time only"},
 {"name": "U.dat", "old": "t.bin", "body": "touch", "new_size": $(stat -c %s "$w/t.bin"),
  "stamp": [2008, 13, 1, 0, 0, 0], "desc": "U: month 13"},
 {"name": "G.dat", "flags": 64, "desc": "G: delete"},
 {"name": "H.dat", "flags": 64, "desc": "H: delete, not there"}
]
JSON

start_applier 'C:\app\Patch.EXE'
final_box "ファイル時刻変更不能"
check_line "an impossible date: the box shows the system's error code" "text: [87]"
check_line "the time box is owned by the progress dialog" "owner: \"$DIALOG\""
check_line "the time box has no icon" "icon: no"
shot time-stamp-failure
press_ok "ファイル時刻変更不能"
final_box "ファイルアップデート"
check_line "the chain completes" "text: 正常終了"
dialog_lines
check_line "line 900 shows the last (delete) target" 'item 900: C:\app\H.dat'
check_line "a delete entry leaves the bar text at 0%" "item 901: 0%"
check_line "a delete entry leaves the bar at 0" "progress 1000: 0"
check_line "line 902 keeps the last touch entry's size line" "item 902: ファイルサイズ : 5000 ﾊﾞｲﾄ"
press_ok "ファイルアップデート"
expect_exit_0

check_same_file "touch: contents unchanged" "$w/t.bin" "$dir/T.dat"
check_mtime "touch: new last-write time" "2012-03-04 05:06:07" "$dir/T.dat"
check_missing "touch: no backup" "$dir/T.OLD"
check_missing "touch: no temporary file" "$dir/UPDATE.TMP"
check_mtime "an impossible date: the file keeps its time" "2001-02-03 04:05:06" "$dir/U.dat"
check_same_file "an impossible date: the contents are unchanged" "$w/t.bin" "$dir/U.dat"
check_missing "delete: the file is gone" "$dir/G.dat"
check_missing "delete of a missing file: nothing appears" "$dir/H.dat"
wine_done
