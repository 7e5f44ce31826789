#!/usr/bin/env bash
# What the vendor sees: `make update OLD=old.exe NEW=new-version.exe FORMAT=3`
# (scripts/make-update.sh) prints the sizes and checksums and leaves out/Update.exe
# carrying a patch of entry format 3.00 (the two files are the demo program's Ver1.0 and
# Ver2.0); what the user then sees is the whole update with that wizard: the installed
# Lunder19.EXE becomes the new program byte for byte with the chosen stamp. Files the
# format cannot hold (4 GiB and more) and missing files are refused with a clear message.
source "$(dirname "$0")/common.sh"
wine_init update/make_update 400

vendor_build
# A plain data file beside the files that cannot be carried.
python3 - "$WINE_WORK/old.bin" <<'PY'
import random, sys
rng = random.Random(19)
open(sys.argv[1], "wb").write(bytes(rng.getrandbits(8) for _ in range(200000)))
PY

echo "== refusals"
truncate -s 4G "$WINE_WORK/huge.bin"
said="$(bash "$REPO_DIR/scripts/make-update.sh" "$WINE_WORK/old.bin" "$WINE_WORK/huge.bin" "$build" 2>&1)"
check "a new file of 4 GiB is refused" test $? -ne 0
check "with the reason" grep -q 'the new file is 4294967296 bytes: the patch format takes files below 4 GiB' <<<"$said"
said="$(bash "$REPO_DIR/scripts/make-update.sh" "$WINE_WORK/huge.bin" "$WINE_WORK/old.bin" "$build" 2>&1)"
check "an old file of 4 GiB is refused" grep -q 'the old file is 4294967296 bytes' <<<"$said"
rm -f "$WINE_WORK/huge.bin"
said="$(bash "$REPO_DIR/scripts/make-update.sh" "$WINE_WORK/old.bin" "$WINE_WORK/missing.dat" "$build" 2>&1)"
check "a missing file is refused by name" grep -q 'the new file .*missing.dat does not exist' <<<"$said"
check_missing "nothing was built" "$out/Update.exe"

echo "== make-update"
cp "$OUT_BIN/demo/v1/Lunder19.EXE" "$WINE_WORK/old.exe"
cp "$OUT_BIN/demo/v2/Lunder19.EXE" "$WINE_WORK/new-version.exe"
t0=$(date +%s.%N)
STAMP="2009-02-03 04:05:06" FORMAT=3 bash "$REPO_DIR/scripts/make-update.sh" "$WINE_WORK/old.exe" "$WINE_WORK/new-version.exe" \
  "$build" >"$WINE_WORK/make-update.out" 2>&1
check "make-update succeeds" test $? -eq 0
awk -v a="$t0" -v b="$(date +%s.%N)" 'BEGIN { printf "timing: make-update %.1f s\n", b - a }'
sed 's/^/     /' "$WINE_WORK/make-update.out" | tail -n 12
summary="$(cat "$WINE_WORK/make-update.out")"
check "the summary names the target" grep -qE '^ +target_name +Lunder19.exe$' <<<"$summary"
check "the summary shows the new checksum" grep -qE '^ +new_crc +0x[0-9A-F]{8}$' <<<"$summary"
check "the summary shows the chosen stamp" grep -qE '^ +stamp +2009-02-03 04:05:06' <<<"$summary"
check "the patch is of format 3.00" grep -q "format_version  300" <<<"$("$NATIVE_BIN/patchtool" info "$out/update.patch")"
check_exists "out/Update.exe" "$out/Update.exe"
check "the build's own Update.exe still carries the demo payload" \
  python3 -c 'import sys; sys.exit(open(sys.argv[2],"rb").read() not in open(sys.argv[1],"rb").read())' \
  "$OUT_BIN/Update.exe" "$OUT_BIN/Lunder19Patch.EXE"

echo "== the update with that wizard"
install_spy
demo_install_v1 "$WINEPREFIX" "$WINE_WORK/old.exe" || exit 1
folder="$(wine_unix "$INSTALL_DIR")"
mkdir -p "$WINE_C/Download"
cp "$out/Update.exe" "$WINE_C/Download/Update.exe"
pushd "$WINE_C/Download" >/dev/null && wine_bg wizard "$WIZARD_DIR\\Update.exe" && popd >/dev/null
press_next
applier_final_box "ファイルアップデート"
press_applier_ok "ファイルアップデート"
expect_end_page
finish_end_page
check_same_file "the program is the new file byte for byte" "$WINE_WORK/new-version.exe" "$folder/Lunder19.EXE"
check_mtime "with the chosen stamp" "2009-02-03 04:05:06" "$folder/Lunder19.EXE"
check_missing "no backup left" "$folder/Lunder19.OLD"

wine_done
