#!/usr/bin/env bash
# What the user sees when Update.exe was damaged in the download: one byte of its payload's
# patch data changed, at 300 offsets sampled over the whole chain (every byte of the first
# entry's header, the rest evenly spaced). Each time the wizard refuses the payload whole
# with its error box "PATCH リソースが壊れています.", before it has written anything: the
# folder keeps Ver1.0, byte for byte, with nothing beside it, and no run ends in success.
source "$(dirname "$0")/common.sh"
wine_init update/damaged 600

PAYLOAD="$OUT_BIN/Lunder19Patch.EXE"
install_spy
demo_install_v1 "$WINEPREFIX" "$V1" || exit 1
folder="$(wine_unix "$INSTALL_DIR")"
listing() { (cd "$folder" && ls -la --time-style=+%s | awk 'NR > 1 {print $1, $5, $6, $7}' | sort); }
before="$(listing)"

# The offsets, inside Update.exe, of the patch data its payload carries.
mapfile -t offsets < <(python3 - "$OUT_BIN/Update.exe" "$PAYLOAD" <<'PY'
import sys
exe = open(sys.argv[1], "rb").read()
payload = open(sys.argv[2], "rb").read()
at = exe.find(payload)
assert at >= 0 and exe.find(payload, at + 1) < 0, "the payload must stand once in Update.exe"
chain = payload.find(b"Diff", 20000)
start, size = at + chain, len(payload) - chain
picked = list(range(start, start + 64))                    # the first entry's header and strings
step = max(1, (size - 64) // 236)
picked += [start + 64 + k * step for k in range(236) if 64 + k * step < size]
print("\n".join(str(p) for p in picked[:300]))
PY
)
check "300 offsets sampled" test "${#offsets[@]}" -ge 300
damaged="$WINE_WORK/Update-damaged.exe"
for offset in "${offsets[@]}"; do
  python3 - "$OUT_BIN/Update.exe" "$damaged" "$offset" <<'PY'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
data[int(sys.argv[3])] ^= 0x5A
open(sys.argv[2], "wb").write(data)
PY
  start_update Update.exe "$damaged"
  press_next
  wait_windows "#32770" "$APP_TITLE" 1
  drive "wait $APP_TITLE 5000" caption text icon >/dev/null
  if grep -qxF "text: PATCH リソースが壊れています." <<<"$DRIVEN" && grep -qxF "icon: yes" <<<"$DRIVEN"; then
    refused=$((${refused:-0} + 1))
  else
    _check 1 "offset $offset: the damaged payload is refused" "$DRIVEN"
  fi
  drive "wait $APP_TITLE 2000" "click 1" >/dev/null
  gone_windows "#32770" "$APP_TITLE"
  cancel_wizard "offset $offset" > >(grep -v "^ok ")
  [ "$(listing)" = "$before" ] || _check 1 "offset $offset: the folder is unchanged" "$(listing)"
done
check_eq "every damaged payload is refused" "${#offsets[@]}" "${refused:-0}"
check_same_file "the program is Ver1.0 byte for byte" "$V1" "$folder/Lunder19.EXE"
check_eq "the folder is as it was" "$before" "$(listing)"
check_eq "cacls was never asked" "" "$(spy_log)"
wine_done
