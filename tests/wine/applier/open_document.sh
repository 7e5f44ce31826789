#!/usr/bin/env bash
# What the user sees: a patch whose first entry opens a document does nothing at all: no
# dialog, no box, no document. When the document entry comes after another entry, the box
# "ドキュメントを表示します" (caption "正常終了") appears first, and only after OK the
# document opens; entries after the document entry are never carried out.
source "$(dirname "$0")/common.sh"
wine_init applier/open_document

dir="$WINE_C/app"
w="$WINE_WORK"
mkdir -p "$dir"
# A fresh prefix has the text-file class but no association of ".txt" with it.
wine_cmd reg add 'HKCR\.txt' /ve /d txtfile /f >/dev/null
echo "Read me" >"$dir/readme.txt"
echo "must stay" >"$dir/K.dat"
gen_file "$w/t.bin" 1000 3
cp "$w/t.bin" "$dir/T.dat"

echo "== document entry first: silent"
(cd "$w" && pack_entries "$dir/First.EXE") <<'JSON'
[
 {"name": "readme.txt", "flags": 128},
 {"name": "K.dat", "flags": 64}
]
JSON
start_applier 'C:\app\First.EXE'
# Nobody presses anything: the applier must end on its own.
expect_exit_0
drive "exists Notepad" "exists $DIALOG" >/dev/null
check_line "no document was opened" "exists: 0"
check_eq "no dialog was left" 0 "$(grep -c '^exists: 1' <<<"$DRIVEN")"
check_exists "nothing after the document entry ran" "$dir/K.dat"

echo "== document entry second: box, then the document"
(cd "$w" && pack_entries "$dir/Second.EXE") <<'JSON'
[
 {"name": "T.dat", "old": "t.bin", "body": "touch"},
 {"name": "readme.txt", "flags": 128},
 {"name": "K.dat", "flags": 64}
]
JSON
start_applier 'C:\app\Second.EXE'
final_box "正常終了"
check_line "document box text" "text: ドキュメントを表示します"
check_line "document box has no owner" "owner: none"
check_line "document box has no icon" "icon: no"
drive "exists Notepad" >/dev/null
check_line "the document waits for OK" "exists: 0"
shot open-document-box
press_ok "正常終了"
drive "wait Notepad 15000" caption
check "the document opens after OK" grep -q "readme.txt" <<<"$DRIVEN"
expect_exit_0
check_exists "the entry after the document entry is never carried out" "$dir/K.dat"
check_mtime "the entry before it was carried out" "2008-01-30 16:48:09" "$dir/T.dat"
wine_done
