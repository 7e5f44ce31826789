#!/usr/bin/env bash
# The browse button opens the system's folder browser over the disabled folder page, with
# the folder of the edit box selected when that folder exists; OK puts the chosen folder
# with one trailing backslash into the box (a folder ending in 表 keeps its own 0x5C and
# gets a real backslash; a drive root stays "C:\"), Cancel leaves the box as it was.
source "$(dirname "$0")/common.sh"
wine_init wizard/browser 150

# open_browser: clicks the browse button and waits for the browser over the page.
open_browser() {
  drive "wait $UPDATE_TITLE 15000" "click $F_DIRSELECT" "sleep 1000" "wait #32770 5000" children list >/dev/null
}

BROWSER="フォルダーの参照"   # the caption Wine gives the system's folder browser

# browse_and BUTTON: opens the browser from the page, checks what the page looks like while
# it is open (and takes screenshot SHOT), presses OK (1) or Cancel (2) and answers with the
# folder box afterwards.
browse_and() {
  drive "wait $UPDATE_TITLE 15000" "click $F_DIRSELECT" "wait $BROWSER 5000" "sleep 300" owner \
    "wait $UPDATE_TITLE 1000" enabled >/dev/null
  BROWSING="$DRIVEN"
  [ -n "${2:-}" ] && shot "$2"
  drive "wait $BROWSER 2000" "click $1" "gone $BROWSER 5000" "wait $UPDATE_TITLE 2000" enabled \
    "item $F_DIREDIT" >/dev/null
}

mkdir -p "$WINE_C/申告表"
set_display_icon REG_SZ 'C:\申告表\Lunder19.EXE'
start_wizard
check_eq "starting folder" 'C:\申告表\' "$(folder_text)"
browse_and 1 browser
grep -qxF "owner: \"$APP_TITLE\"" <<<"$BROWSING"; _check $? "the browser is owned by the application window"
grep -qxF "enabled: 0" <<<"$BROWSING"; _check $? "the page is disabled while the browser is open"
check_line "the page is enabled again" "enabled: 1"
check_line "OK on the preselected folder ending in 表: the folder and one backslash" "item $F_DIREDIT: C:\\申告表\\"
cancel_wizard "after browsing"

echo "== a drive root is preselected as C: and comes back as C:\\"
set_display_icon REG_SZ 'C:\Lunder19.EXE'
start_wizard
check_eq "starting folder" 'C:\' "$(folder_text)"
browse_and 1
check_line "OK on the preselected root" "item $F_DIREDIT: C:\\"
cancel_wizard "after browsing the root"

echo "== Cancel leaves the folder box untouched, existing folder or not"
set_display_icon REG_SZ 'C:\windows\Lunder19.EXE'
start_wizard
browse_and 2
check_line "cancel on an existing folder" "item $F_DIREDIT: C:\\windows\\"
check_line "the page is enabled after a cancel" "enabled: 1"
cancel_wizard "after cancelling"

set_display_icon REG_SZ 'C:\not there\Lunder19.EXE'
start_wizard
browse_and 2
check_line "cancel on a missing folder" "item $F_DIREDIT: C:\\not there\\"
cancel_wizard "after cancelling on a missing folder"

echo "== a missing folder is not preselected: OK returns the browser's own starting point"
start_wizard
browse_and 1
chosen="$(sed -n "s/^item $F_DIREDIT: //p" <<<"$DRIVEN")"
check "OK without a preselection chose another folder (\"$chosen\")" test -n "$chosen" -a "$chosen" != 'C:\not there\'
cancel_wizard "after OK without a preselection"

wine_done
