#!/usr/bin/env bash
# What the user sees: runs that fail before any work begins show one box alone, with no
# progress dialog behind it, and end with exit code 0 once it is dismissed: an applier
# without patch data ("差分データが確認できません" naming the applier's own file), patch
# data of a newer format ("この差分データは使用できません" / "Error"), and an installed
# program that is missing ("ファイルがオープンできません" naming it). Nothing is created.
source "$(dirname "$0")/common.sh"
wine_init applier/start_failures

dir="$WINE_C/app"
w="$WINE_WORK"
mkdir -p "$dir"
gen_file "$w/old.bin" 3000 31
changed_copy "$w/old.bin" "$w/new.bin"

# expect_alone CAPTION TEXT WHAT [SHOT]: the box, its text, no owner, no dialog; the
# screenshot SHOT while the box is up; then OK.
expect_alone() {
  drive "wait $1 20000" text owner icon "exists $DIALOG"
  check_line "$3: the box's text" "text: $2"
  check_line "$3: no owner" "owner: none"
  check_line "$3: exclamation icon" "icon: yes"
  check_line "$3: no progress dialog" "exists: 0"
  [ -z "${4:-}" ] || shot "$4"
  press_ok "$1"
  expect_exit_0
}

echo "== no patch data"
cp "$APPLIER_EXE" "$dir/Bare.EXE"
start_applier 'C:\app\Bare.EXE'
expect_alone "差分データが確認できません" 'C:\app\Bare.EXE' "no patch data"

echo "== format version 105"
(cd "$w" && pack_entries "$dir/Newer.EXE") <<'JSON'
[{"name": "Lunder19.exe", "old": "old.bin", "new": "new.bin", "version": 105}]
JSON
cp "$w/old.bin" "$dir/Lunder19.exe"
start_applier 'C:\app\Newer.EXE'
expect_alone "Error" "この差分データは使用できません" "newer format"
check_same_file "newer format: the program is unchanged" "$w/old.bin" "$dir/Lunder19.exe"

echo "== the installed program is missing"
rm -f "$dir/Lunder19.exe"
(cd "$w" && pack_entries "$dir/Patch.EXE") <<'JSON'
[{"name": "Lunder19.exe", "old": "old.bin", "new": "new.bin"}]
JSON
start_applier 'C:\app\Patch.EXE'
expect_alone "ファイルがオープンできません" 'C:\app\Lunder19.exe' "missing program" missing-program

check_eq "nothing was created" "Bare.EXE Newer.EXE Patch.EXE" "$(ls "$dir" | sort | tr '\n' ' ' | sed 's/ $//')"
wine_done
