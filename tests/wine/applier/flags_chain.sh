#!/usr/bin/env bash
# What the user sees: one run of the applier over six files, ending with "正常終了" while
# line 902 still reads "CRC相違(読み飛ばし中)" and the bar stands at 100 after the last,
# skipped entry. In the folder: a file that does not match its entry with
# skip-on-mismatch is left alone and the run goes on; with skip-on-mismatch an older
# backup stays and the current file is deleted instead; with no-backup the current file
# is deleted and a backup already there is left untouched; without flags an older backup
# is replaced by the current file; a create-if-missing entry creates a missing file
# without a backup and leaves an existing one (contents and time) alone.
source "$(dirname "$0")/common.sh"
wine_init applier/flags_chain

dir="$WINE_C/app"
w="$WINE_WORK"
mkdir -p "$dir"
for name in a b c d e; do
  gen_file "$w/$name.old" 20000 "$(printf '%d' "'$name")"
  changed_copy "$w/$name.old" "$w/$name.new"
done
gen_file "$w/f.new" 3000 70
echo "not what entry A expects" >"$w/a.wrong"
echo "an older backup of B" >"$w/b.older"
echo "an older backup of C" >"$w/c.older"
echo "an older backup of D" >"$w/d.older"
echo "F is already there" >"$w/f.existing"

cp "$w/a.wrong" "$dir/A.dat" && touch -d '2001-02-03 04:05:06' "$dir/A.dat"
cp "$w/b.old" "$dir/B.dat" && cp "$w/b.older" "$dir/B.OLD"
cp "$w/c.old" "$dir/C.dat" && cp "$w/c.older" "$dir/C.OLD"
cp "$w/c.old" "$dir/C2.dat"
cp "$w/d.old" "$dir/D.dat" && cp "$w/d.older" "$dir/D.OLD"
cp "$w/f.existing" "$dir/F.dat" && touch -d '2001-02-03 04:05:06' "$dir/F.dat"

(cd "$w" && pack_entries "$dir/Patch.EXE") <<'JSON'
[
 {"name": "A.dat", "flags": 1, "old": "a.old", "new": "a.new", "desc": "A: skip on mismatch"},
 {"name": "B.dat", "flags": 1, "old": "b.old", "new": "b.new", "desc": "B: keep the older backup"},
 {"name": "C.dat", "flags": 2, "old": "c.old", "new": "c.new", "desc": "C: no backup"},
 {"name": "C2.dat", "flags": 2, "old": "c.old", "new": "c.new", "desc": "C2: no backup"},
 {"name": "D.dat", "flags": 0, "old": "d.old", "new": "d.new", "desc": "D: replace the older backup"},
 {"name": "E.dat", "flags": 32, "new": "e.new", "desc": "E: create", "stamp": [2010, 5, 6, 7, 8, 9]},
 {"name": "F.dat", "flags": 32, "new": "f.new", "desc": "F: create, but it is there"}
]
JSON

start_applier 'C:\app\Patch.EXE'
final_box "ファイルアップデート"
check_line "the chain completes" "text: 正常終了"
dialog_lines
check_line "the last entry's target in line 900" 'item 900: C:\app\F.dat'
check_line "the last entry's description in line 903" "item 903: F: create, but it is there"
check_line "a skipped entry shows the skip text" "item 902: CRC相違(読み飛ばし中)"
check_line "a skipped entry still runs the bar to 100%" "item 901: 100%"
check_line "the bar is full after a skipped entry" "progress 1000: 100"
shot flags-chain-final
press_ok "ファイルアップデート"
expect_exit_0

check_same_file "A (mismatch, skip): unchanged" "$w/a.wrong" "$dir/A.dat"
check_mtime "A (mismatch, skip): time unchanged" "2001-02-03 04:05:06" "$dir/A.dat"
check_missing "A (mismatch, skip): no backup" "$dir/A.OLD"

check_same_file "B (skip flag, older backup): updated" "$w/b.new" "$dir/B.dat"
check_same_file "B (skip flag, older backup): the older backup stays" "$w/b.older" "$dir/B.OLD"

check_same_file "C (no backup): updated" "$w/c.new" "$dir/C.dat"
check_same_file "C (no backup): the backup already there is untouched" "$w/c.older" "$dir/C.OLD"
check_same_file "C2 (no backup): updated" "$w/c.new" "$dir/C2.dat"
check_missing "C2 (no backup): no backup made" "$dir/C2.OLD"

check_same_file "D (no flags, older backup): updated" "$w/d.new" "$dir/D.dat"
check_same_file "D (no flags, older backup): backup replaced by the previous file" "$w/d.old" "$dir/D.OLD"
check_mtime "D: stamped with its entry's time" "2008-01-30 16:48:09" "$dir/D.dat"

check_same_file "E (create, missing): created" "$w/e.new" "$dir/E.dat"
check_missing "E (create, missing): no backup" "$dir/E.OLD"
check_mtime "E: stamped with its own entry's time" "2010-05-06 07:08:09" "$dir/E.dat"

check_same_file "F (create, present): unchanged" "$w/f.existing" "$dir/F.dat"
check_mtime "F (create, present): time unchanged" "2001-02-03 04:05:06" "$dir/F.dat"
check_missing "F (create, present): no backup" "$dir/F.OLD"

check_missing "no UPDATE.TMP is left" "$dir/UPDATE.TMP"
wine_done
