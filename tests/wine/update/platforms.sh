#!/usr/bin/env bash
# What the user sees: the whole update, ending on the completion page, in three places
# where the access preparation must stay out of the way: on the Windows 9x family (nothing
# runs, no answer file is written: an older yes.txt beside the wizard stays as it was), with
# the program in a drive root (cacls /T would rework the whole drive, so it is not run) and
# in a folder whose name holds "%" (cmd.exe would expand it and could send cacls to another
# folder, so it is not run). The rights stay unchanged; the update itself succeeds.
source "$(dirname "$0")/common.sh"
wine_init update/platforms 180

install_spy
demo_install_v1 "$WINEPREFIX" "$V1" || exit 1

# update_in WINFOLDER [WIZARD_NAME]: the whole update of WINFOLDER, typed into the page.
update_in() {
  rm -f "$WINE_C/spy-cacls.log"
  start_update "${2:-Update.exe}"
  set_folder "$1"
  press_next
  applier_final_box "ファイルアップデート"
  press_applier_ok "ファイルアップデート"
  expect_end_page
  finish_end_page
  expect_updated "$(wine_unix "$1")"
}

echo "== the Windows 9x family (the per-program Windows version setting)"
LC_ALL="$WINE_SETUP_LOCALE" wine reg add 'HKCU\Software\Wine\AppDefaults\Update98.exe' /v Version /d win98 /f \
  >>"$WINE_LOG" 2>&1
mkdir -p "$WINE_C/Download"
printf 'an older answer\r\n' >"$WINE_C/Download/yes.txt"
cp "$WINE_C/Download/yes.txt" "$WINE_WORK/older-yes.txt"
# expect_updated looks for the answer file too: check and move it aside around the run.
rm -f "$WINE_C/spy-cacls.log"
start_update Update98.exe
set_folder "$INSTALL_DIR"
press_next
applier_final_box "ファイルアップデート"
check_same_file "the older answer file is untouched while the applier runs" "$WINE_WORK/older-yes.txt" \
  "$WINE_C/Download/yes.txt"
press_applier_ok "ファイルアップデート"
expect_end_page
finish_end_page
check_same_file "the older answer file is still untouched" "$WINE_WORK/older-yes.txt" "$WINE_C/Download/yes.txt"
rm -f "$WINE_C/Download/yes.txt"
expect_updated "$(wine_unix "$INSTALL_DIR")"
check_missing "no command ran on the 9x family" "$WINE_C/spy-cacls.log"

echo "== a drive root"
cp "$V1" "$WINE_C/Lunder19.EXE"
update_in 'C:\'
check_missing "no cacls on a whole drive" "$WINE_C/spy-cacls.log"

echo "== a folder name with %"
mkdir -p "$WINE_C/a%PATH%b"
cp "$V1" "$WINE_C/a%PATH%b/Lunder19.EXE"
update_in 'C:\a%PATH%b\'
check_missing "no cacls for a name cmd.exe would rewrite" "$WINE_C/spy-cacls.log"

wine_done
