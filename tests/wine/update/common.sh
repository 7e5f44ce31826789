# Shared by the update run's scenarios: the wizard copied into C:\Download (its answer file
# lies beside it), the demo application's Ver1.0 installed as its installer would, the spy
# cacls in the system folder, and the windows of one update: the folder page, the plain
# message and error box, the applier's final box and the completion page.
source "$(dirname "${BASH_SOURCE[0]}")/../wizard/common.sh"
source "$REPO_DIR/demo/lib.sh"

V1="$OUT_BIN/demo/v1/Lunder19.EXE"
V2="$OUT_BIN/demo/v2/Lunder19.EXE"
SPY_DIR="$OUT_BIN/spy"
INSTALL_DIR='C:\TESBWIN\LUNDER19'
WIZARD_DIR='C:\Download'
APPLIER_DIALOG="File Update for Windows95 Ver.1.05"
MISSING_SYSTEM_TEXT="所得税平成19年度版のシステムが存在しません。フォルダを指定しなおしてください。"
FAILED_TEXT="アップデートに失敗しました。すでにインストールされているシステムのバージョンをご確認ください。"
# The stamp the demo patch records (local time; not UTC, so a stamp set as UTC shows).
export TZ=Asia/Tokyo
NEW_STAMP="2008-01-30 16:48:09"

for needed in "$V1" "$V2" "$OUT_BIN/Update.exe" "$SPY_DIR/cacls.exe" "$SPY_DIR/settext.exe"; do
  [ -f "$needed" ] || { echo "missing $needed (build the Windows programs first)" >&2; exit 1; }
done

# The spy replaces Wine's dummy cacls and logs each call to C:\spy-cacls.log.
install_spy() {
  cp "$SPY_DIR/cacls.exe" "$WINE_C/windows/system32/cacls.exe"
  WINE_EXTRA_OVERRIDES="$WINE_OVERRIDES;cacls.exe=n"
  export SPY_LOG='C:\spy-cacls.log'
  rm -f "$WINE_C/spy-cacls.log"
}
spy_log() { tr -d '\r' <"$WINE_C/spy-cacls.log" 2>/dev/null | iconv -f CP932 -t UTF-8; }

# start_update [NAME [PROGRAM]]: the wizard (PROGRAM, default the built Update.exe) as
# C:\Download\NAME (default Update.exe), started from that folder as a user would
# double-click it; its Unix PID in $wizard.
start_update() {
  local name="${1:-Update.exe}" program="${2:-$OUT_BIN/Update.exe}"
  mkdir -p "$WINE_C/Download"
  cp "$program" "$WINE_C/Download/$name"
  pushd "$WINE_C/Download" >/dev/null || return 1
  wine_bg wizard "$WIZARD_DIR\\$name"
  popd >/dev/null || return 1
  drive "wait $UPDATE_TITLE 20000" >/dev/null
}

# set_folder TEXT: types TEXT into the folder page's edit box.
set_folder() {
  local out
  out="$(wine_cmd "$SPY_DIR/settext.exe" "$UPDATE_TITLE" "$F_DIREDIT" "$1" | tr -d '\r')"
  [ "$out" = "settext: $F_DIREDIT" ] || _check 1 "set the folder to $1" "$out"
}

press_next() { drive "wait $UPDATE_TITLE 5000" "click $F_NEXT" >/dev/null; }

# expect_message WHAT TEXT: a plain message of the wizard with TEXT; it is dismissed.
expect_message() {
  check "$1: a plain message comes up" wait_windows "#32770" "$APP_TITLE" 1
  drive "wait #32770 3000" caption "item 100" children >/dev/null
  check_line "$1: caption" "caption: $APP_TITLE"
  check_line "$1: text" "item 100: $2"
  check "$1: no icon, one button" test "$(grep -c '^child: ' <<<"$DRIVEN")" = 2
  drive "wait #32770 2000" "click 101" >/dev/null
  gone_windows "#32770" "$APP_TITLE"
}

# expect_error_box WHAT TEXT: the system's error box with the stop icon; dismissed with OK.
expect_error_box() {
  check "$1: an error box comes up" wait_windows "#32770" "$APP_TITLE" 1
  drive "wait #32770 3000" caption text icon >/dev/null
  check_line "$1: caption" "caption: $APP_TITLE"
  check_line "$1: text" "text: $2"
  check_line "$1: icon" "icon: yes"
  drive "wait #32770 2000" "click 1" >/dev/null
  gone_windows "#32770" "$APP_TITLE"
}

gone_windows() {
  local i
  for ((i = 0; i < 50; i++)); do
    drive list >/dev/null
    grep -q "^window: $1 \"$2\" visible=1" <<<"$DRIVEN" || return 0
    sleep 0.1
  done
  return 1
}

# control_disabled ID: succeeds when the folder page's control ID is disabled.
control_disabled() {
  local style
  drive "wait $UPDATE_TITLE 2000" "style $1" >/dev/null
  style="$(sed -n 's/^style: \(0x[0-9A-Fa-f]*\) .*/\1/p' <<<"$DRIVEN" | head -n1)"
  [ -n "$style" ] && (((style & 0x08000000) != 0))
}

# expect_folder WHAT TEXT: the folder page is up, usable, and its edit box shows TEXT.
expect_folder() {
  drive "wait $UPDATE_TITLE 3000" "item $F_DIREDIT" >/dev/null
  check_line "$1: the edit box shows the run folder" "item $F_DIREDIT: $2"
  ! control_disabled "$F_NEXT" && ! control_disabled "$F_DIREDIT"
  _check $? "$1: the page is usable again"
}

# applier_final_box CAPTION: waits for the applier's last box and presses its OK.
applier_final_box() {
  drive "wait $1 30000" text >/dev/null
  _check $? "the applier's box \"$1\" comes up" "$DRIVEN"
}
press_applier_ok() { drive "wait $1 2000" "click 1" "gone $1 10000" >/dev/null; }

# expect_end_page: the completion page over the folder page; 完了 ends the wizard.
expect_end_page() {
  check "the completion page comes up" wait_windows "#32770" "$UPDATE_TITLE" 2
  drive "wait $UPDATE_TITLE 2000" "item $E_NEXT" "item $E_LABEL4" >/dev/null
  check_line "the completion page" "item $E_LABEL4: が完了しました。"
}
finish_end_page() {
  drive "wait $UPDATE_TITLE 2000" "click $E_NEXT" >/dev/null
  expect_exit "完了"
}

# The folder as the update leaves it after success.
expect_updated() {  # expect_updated UNIX_FOLDER
  check_same_file "the program is Ver2.0 byte for byte" "$V2" "$1/Lunder19.EXE"
  check_mtime "the program carries the recorded stamp" "$NEW_STAMP" "$1/Lunder19.EXE"
  check_missing "no applier left" "$1/Lunder19Patch.EXE"
  check_missing "no backup left" "$1/Lunder19.OLD"
  check_missing "no temporary file left" "$1/UPDATE.TMP"
  check_missing "no answer file beside the wizard" "$WINE_C/Download/yes.txt"
}

# vendor_build: a build directory of the scenario's own for scripts/make-update.sh (the
# built programs, the wizard's tree and out/), making the wizard of the width this scenario
# runs. Sets `build` and `out` (where Update.exe lands) and exports ARCH.
vendor_build() {
  build="$WINE_WORK/build"
  mkdir -p "$build"
  ln -s "$NATIVE_BIN" "$build/bin"
  out="$build/out"
  ARCH=""
  [ "$WINE_BITS" = 64 ] && ARCH=x64 out="$build/out/x64"
  export ARCH
}
