# Shared by the wizard's scenarios: the texts the pages show, the ids of their controls
# (declaration order from 100), starting the wizard and writing its uninstall entry.
source "$(dirname "${BASH_SOURCE[0]}")/../harness.sh"

APP_TITLE="Tesbrin 所得税アップデート"
UPDATE_TITLE="Tesbrin 所得税平成19年度版Ver2.0アップデート"
UNINSTALL_KEY='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{6B0D2F7A-93C1-4E58-A2D4-7F19C3E5B820}'
DEFAULT_FOLDER='C:\TESBWIN\LUNDER19\'

# Folder page
F_LABEL4=100 F_LABEL2=101 F_LABEL3=102 F_LABEL5=103 F_LABEL1=104 F_DIREDIT=105
F_DIRSELECT=106 F_PANEL1=107 F_NEXT=108 F_CANCEL=109
# Completion page
E_LABEL1=100 E_LABEL4=101 E_LABEL2=102 E_LABEL3=103 E_LABEL5=104 E_LABEL6=105
E_PANEL1=106 E_NEXT=107 E_CANCEL=108

# Registry edits run with a UTF-8 locale of their own, as every setup command must.
wiz_reg() {
  env LC_ALL=C.UTF-8 WINEDLLOVERRIDES="mscoree,mshtml=" wine reg "$@" >>"$WINE_LOG" 2>&1
}

# set_display_icon TYPE DATA: the application's uninstall entry with DisplayIcon.
set_display_icon() {
  wiz_reg delete "$UNINSTALL_KEY" /f
  wiz_reg add "$UNINSTALL_KEY" /v DisplayIcon /t "$1" /d "$2" /f
}

no_uninstall_key() { wiz_reg delete "$UNINSTALL_KEY" /f; return 0; }

# start_wizard [PROGRAM]: Update.exe (or Update-test.exe) in the background as $wizard.
start_wizard() {
  wine_bg wizard "$OUT_BIN/${1:-Update.exe}"
}

# The folder page's edit box once the page is up.
folder_text() {
  drive "wait $UPDATE_TITLE 15000" "item $F_DIREDIT" >/dev/null
  sed -n "s/^item $F_DIREDIT: //p" <<<"$DRIVEN"
}

# expect_exit WHAT: the wizard has ended by itself with exit code 0.
expect_exit() {
  if wine_wait "$wizard" 15; then
    check_eq "$1: exit code 0" 0 "$WINE_RC"
  else
    _check 1 "$1: the wizard ends" "still running"
  fi
}

# cancel_wizard: presses the folder page's Cancel and waits for the end.
cancel_wizard() {
  drive "wait $UPDATE_TITLE 5000" "click $F_CANCEL" >/dev/null
  expect_exit "${1:-cancel}"
}

# wait_windows CLASS CAPTION COUNT: waits until at least COUNT visible top-level windows of
# that class and caption are up (the pages and the plain message share captions with other
# windows of the wizard, so the driver's wait alone cannot tell them apart).
wait_windows() {
  local i
  for ((i = 0; i < 60; i++)); do
    drive list >/dev/null
    [ "$(grep -c "^window: $1 \"$2\" visible=1" <<<"$DRIVEN")" -ge "$3" ] && return 0
    sleep 0.2
  done
  return 1
}
