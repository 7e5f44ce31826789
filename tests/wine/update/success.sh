#!/usr/bin/env bash
# What the user sees: the wizard, started from C:\Download, proposes C:\TESBWIN\LUNDER19\
# (from the uninstall entry); after Next the page greys out, the applier's progress dialog
# runs and ends with "正常終了"; after OK the completion page comes up, and 完了 ends the
# wizard. The folder then holds Ver2.0 with the recorded time stamp and nothing else of the
# update; cacls was asked once for exactly that folder and read "Y". While the run waits,
# Next, Enter, Esc, the close box and the application window's close do nothing.
source "$(dirname "$0")/common.sh"
wine_init update/success 180

install_spy
demo_install_v1 "$WINEPREFIX" "$V1" || exit 1
folder="$(wine_unix "$INSTALL_DIR")"

start_update
check_eq "the page proposes the install folder" "$INSTALL_DIR\\" "$(folder_text)"
shot success-1-folder-page

t_next=$(date +%s.%N)
press_next
applier_final_box "ファイルアップデート"
t_box=$(date +%s.%N)
check_line "the applier reports success" "text: 正常終了"
shot success-2-applier-done

echo "== while the run waits: the page is greyed and takes no request"
for id in $F_DIREDIT $F_DIRSELECT $F_NEXT $F_CANCEL; do
  check "control $id is disabled during the run" control_disabled "$id"
done
drive "wait $UPDATE_TITLE 2000" "click $F_NEXT" "key RETURN" "key ESCAPE" "click $F_CANCEL" sysclose close \
  "wait FormsApplication 2000" close "sleep 1500" list >/dev/null
check "the wizard still runs" kill -0 "$wizard"
check "the folder page is still shown" grep -q "^window: #32770 \"$UPDATE_TITLE\" visible=1" <<<"$DRIVEN"
! grep -q "^window: #32770 \"$APP_TITLE\"" <<<"$DRIVEN"
_check $? "no error box or message (no second run)"
check_eq "one applier dialog" 1 "$(grep -c "^window: #32770 \"$APPLIER_DIALOG\" visible=1" <<<"$DRIVEN")"
check_exists "the applier file is in the folder while it runs" "$folder/Lunder19Patch.EXE"

t_ok=$(date +%s.%N)
press_applier_ok "ファイルアップデート"
expect_end_page
t_end=$(date +%s.%N)
shot success-3-end-page
# The applier's own run (Next to its final box) and the wizard's part after its OK (wait,
# 500 ms pause, clean-up, judgement, completion page), each with the driver's own delays.
awk -v a="$t_next" -v b="$t_box" -v c="$t_ok" -v d="$t_end" \
  'BEGIN { printf "timing: Next -> applier final box %.2f s; applier OK -> completion page %.2f s\n", b - a, d - c }' |
  tee "$WINE_WORK/timing.txt"
finish_end_page

echo "== the folder afterwards"
expect_updated "$folder"

echo "== what cacls was asked"
log="$(spy_log)"
check_eq "one cacls call" 1 "$(grep -c '^cmdline=' <<<"$log")"
check "the folder in quotes, no trailing backslash, the switches" \
  grep -qF '"C:\TESBWIN\LUNDER19" /T /E /G "Authenticated Users":F' <<<"$log"
check_line_in() { grep -qxF -- "$2" <<<"$log"; _check $? "$1" "$(tr '\n' '|' <<<"$log")"; }
check_line_in "cacls read Y from the answer file" "stdin=59 0D 0A"
check_line_in "cacls ran in the system folder" 'cwd=C:\windows\system32'

wine_done
