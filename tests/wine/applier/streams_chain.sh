#!/usr/bin/env bash
# What the user sees: one run of the applier over a chain that mixes all three entry formats
# (a record-stream entry, a compressed-streams entry for a program-like file, a second
# compressed-streams entry that updates the first file again, a program-aware entry for a
# real program, and a compressed-streams entry whose body is damaged), once whole and once
# with the damaged entry: the whole
# chain ends with "正常終了" and every file is its new version; the damaged chain ends with
# "差分情報に問題があります" / "異常終了" and, the update being one transaction, every file
# as it was, the entry before it not applied either, and no work file left.
source "$(dirname "$0")/common.sh"
wine_init applier/streams_chain

dir="$WINE_C/app"
w="$WINE_WORK"
mkdir -p "$dir"
gen_file "$w/a.old" 30000 11
changed_copy "$w/a.old" "$w/a.new"
changed_copy "$w/a.new" "$w/a.newer"
# A program-like file: "MZ", calls whose targets move when code is inserted before them.
python3 - "$w/b.old" "$w/b.new" <<'PY'
import random, struct, sys
rng = random.Random(5)
def program(inserted):
    out = bytearray(b"MZ")
    for i in range(4000):
        if i == 1000:
            out += inserted
        out += bytes([0xE8]) + struct.pack("<i", 40000 - len(out) - 5 if rng.random() < 0.5 else 300)
        out += bytes(rng.getrandbits(8) for _ in range(11))
    return bytes(out)
state = rng.getstate()
open(sys.argv[1], "wb").write(program(b""))
rng.setstate(state)
open(sys.argv[2], "wb").write(program(b"\x90" * 64))
PY
make_entry() {  # make_entry FORMAT OLD NEW NAME OUT
  "$PATCHTOOL" make "$w/$2" "$w/$3" -o "$w/$5" --name "$4" --format "$1" --description "$4 format $1" \
    --stamp "2008-01-30 16:48:09" >/dev/null || exit 1
}
make_entry 1 a.old a.new A.dat e1
make_entry 2 b.old b.new B.exe e2
make_entry 2 a.new a.newer A.dat e3
# A real program between two releases: the demo application's Ver1.0 and Ver2.0.
cp "$OUT_BIN/demo/v1/Lunder19.EXE" "$w/c.old"
cp "$OUT_BIN/demo/v2/Lunder19.EXE" "$w/c.new"
make_entry 3 c.old c.new C.exe e4
check "the first entry is format 1.04" grep -q "format_version  104" <<<"$("$PATCHTOOL" info "$w/e1")"
check "the others are format 2.00" grep -q "format_version  200" <<<"$("$PATCHTOOL" info "$w/e2")"
check "the program-like file uses the x86 branch transform" grep -q "x86 branch transform" \
  <<<"$("$PATCHTOOL" info "$w/e2")"
check "the real program's entry is format 3.00" grep -q "format_version  300" <<<"$("$PATCHTOOL" info "$w/e4")"
cat "$w/e1" "$w/e2" "$w/e3" "$w/e4" >"$w/chain"
"$PATCHTOOL" pack "$APPLIER_EXE" "$w/chain" -o "$dir/Patch.EXE" >/dev/null || exit 1

cp "$w/a.old" "$dir/A.dat"
cp "$w/b.old" "$dir/B.exe"
cp "$w/c.old" "$dir/C.exe"
start_applier 'C:\app\Patch.EXE'
final_box "ファイルアップデート"
check_line "the mixed chain completes" "text: 正常終了"
dialog_lines
check_line "the bar is full" "progress 1000: 100"
press_ok "ファイルアップデート"
expect_exit_0
check_same_file "A: both updates applied (1.04, then 2.00)" "$w/a.newer" "$dir/A.dat"
check_same_file "A: the backup is the file installed before the run" "$w/a.old" "$dir/A.OLD"
check_same_file "B: updated by a 2.00 entry" "$w/b.new" "$dir/B.exe"
check_same_file "C: updated by a 3.00 entry" "$w/c.new" "$dir/C.exe"
check_mtime "B: stamped" "2008-01-30 16:48:09" "$dir/B.exe"
check_missing "no UPDATE.TMP is left" "$dir/UPDATE.TMP"

echo "== a damaged 2.00 entry after a good 1.04 one"
rm -f "$dir"/*
cp "$w/a.old" "$dir/A.dat"
cp "$w/b.old" "$dir/B.exe"
python3 - "$w/e2" "$w/e2.bad" <<'PY'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
data[-20] ^= 0xFF  # inside the last packed stream
open(sys.argv[2], "wb").write(data)
PY
cat "$w/e1" "$w/e2.bad" >"$w/chain.bad"
"$PATCHTOOL" pack "$APPLIER_EXE" "$w/chain.bad" -o "$dir/Patch.EXE" >/dev/null || exit 1
start_applier 'C:\app\Patch.EXE'
final_box "異常終了"
check_line "the damaged entry is refused" "text: 差分情報に問題があります"
press_ok "異常終了"
expect_exit_0
check_same_file "A: the entry before it is not applied either" "$w/a.old" "$dir/A.dat"
check_missing "A: no backup" "$dir/A.OLD"
check_same_file "B: untouched" "$w/b.old" "$dir/B.exe"
check_missing "B: no backup" "$dir/B.OLD"
check_eq "no work file is left" "" "$(ls "$dir" | grep -i '^update' | tr '\n' ' ')"
wine_done
