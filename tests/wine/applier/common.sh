# Shared by the applier scenarios: sources the harness and adds the applier's names and
# a few steps every scenario takes.
source "$(dirname "${BASH_SOURCE[0]}")/../harness.sh"

APPLIER_EXE="$OUT_BIN/applier.exe"
MKENTRY="$(dirname "${BASH_SOURCE[0]}")/mkentry.py"
DIALOG="File Update for Windows95 Ver.1.05"

# gen_file PATH SIZE SEED: the same pseudo-random bytes on every run.
gen_file() {
  python3 -c 'import random,sys; sys.stdout.buffer.write(random.Random(int(sys.argv[2])).randbytes(int(sys.argv[1])))' \
    "$2" "$3" >"$1"
}

# changed_copy FROM TO: FROM with some bytes replaced, some inserted and a tail added.
changed_copy() {
  python3 - "$1" "$2" <<'PY'
import sys
data = bytearray(open(sys.argv[1], 'rb').read())
data[100:110] = b'0123456789'
data[len(data) // 2:len(data) // 2] = b'inserted in the middle'
data += b'new tail'
open(sys.argv[2], 'wb').write(data)
PY
}

# pack_entries OUT < entries.json: the applier with patch data written by mkentry.py.
pack_entries() {
  [ -f "$APPLIER_EXE" ] || { echo "missing $APPLIER_EXE (build the Windows programs)" >&2; exit 1; }
  python3 "$MKENTRY" --applier "$APPLIER_EXE" -o "$1" || exit 1
}

# start_applier 'C:\folder\Name.EXE': runs it in the background; its PID is in $app.
start_applier() { wine_bg app "$1"; }

# The applier ends only after its last box is dismissed, and always with exit code 0.
expect_exit_0() {
  if wine_wait "$app" 20; then
    check_eq "the applier ends with exit code 0" 0 "$WINE_RC"
  else
    check_eq "the applier ends after its last box" ended "still running"
  fi
}

# final_box CAPTION: waits for the box and reads text, owner and icon into DRIVEN.
final_box() {
  drive "wait $1 20000" text owner icon
}

# dialog_lines: the progress dialog's four lines and its bar, into DRIVEN.
dialog_lines() {
  drive "wait $DIALOG 2000" "item 900" "item 903" "item 902" "item 901" "progress 1000"
}

# press_ok CAPTION: OK on the box with this caption.
press_ok() {
  drive "wait $1 2000" "click 1" >/dev/null
}
