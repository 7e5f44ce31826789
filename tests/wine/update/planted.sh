#!/usr/bin/env bash
# What the user sees: an ordinary, successful update, although files were planted where the
# elevated run works: a patch.dll with a payload of its own beside Update.exe (ignored: none
# of its code runs and its stand-in applier never starts), and links named
# Lunder19Patch.EXE, UPDATE.TMP and yes.txt to files elsewhere (never written through:
# those files keep their contents). Then, with the test build's probe, another
# program's attempts to write, rename or delete the applier file and UPDATE.TMP while the
# run holds them all fail, and the update still succeeds.
source "$(dirname "$0")/common.sh"
wine_init update/planted 180

install_spy
demo_install_v1 "$WINEPREFIX" "$V1" || exit 1
folder="$(wine_unix "$INSTALL_DIR")"

echo "== a planted patch.dll with a payload, and planted links"
mkdir -p "$WINE_C/Download"
cp "$SPY_DIR/fakepayload/patch.dll" "$WINE_C/Download/patch.dll"
rm -f "$WINE_C/patch-dll-ran.txt" "$WINE_C/fake-applier.log"
# Hard links: a second name for a file elsewhere on the drive. (Wine makes no Windows
# symbolic links, and follows a Unix one even when a program deletes it.)
victims="$WINE_C/victims"
mkdir -p "$victims"
for name in applier tmp answer; do echo "victim $name" >"$victims/$name"; done
ln "$victims/applier" "$folder/Lunder19Patch.EXE"
ln "$victims/tmp" "$folder/UPDATE.TMP"
ln "$victims/answer" "$WINE_C/Download/yes.txt"
start_update
press_next
applier_final_box "ファイルアップデート"
press_applier_ok "ファイルアップデート"
expect_end_page
finish_end_page
for name in applier tmp answer; do
  check_eq "the file behind the planted $name link is untouched" "victim $name" "$(cat "$victims/$name")"
done
check_missing "no code of the planted library ran" "$WINE_C/patch-dll-ran.txt"
check_missing "its stand-in applier never ran" "$WINE_C/fake-applier.log"
rm -f "$WINE_C/Download/patch.dll" "$WINE_C/Download/yes.txt"
expect_updated "$folder"

echo "== another program tries to write, rename and delete the files the run holds"
rm -f "$(wine_ci "$folder/Lunder19.EXE")"
cp "$V1" "$folder/Lunder19.EXE"
export WIZARD_TEST_PROBE_LOG='C:\probe.log'
rm -f "$WINE_C/probe.log"
start_update Update.exe "$OUT_BIN/Update-test.exe"
press_next
applier_final_box "ファイルアップデート"
press_applier_ok "ファイルアップデート"
expect_end_page
finish_end_page
unset WIZARD_TEST_PROBE_LOG
probe="$(tr -d '\r' <"$WINE_C/probe.log" 2>/dev/null)"
sed 's/^/  probe: /' <<<"$probe"
for point in written running ended; do
  for attempt in write rename delete; do
    check "$point: $attempt of the applier file refused" grep -qxF "$point Lunder19Patch.EXE $attempt: refused" <<<"$probe"
  done
done
check_eq "no attempt on either file succeeded" 0 "$(grep -c 'DONE' <<<"$probe")"
# UPDATE.TMP lives for a short while only; whether the probe met it depends on timing.
echo "  UPDATE.TMP attempts seen while it existed: $(grep -c ' UPDATE.TMP ' <<<"$probe")"
expect_updated "$folder"

wine_done
