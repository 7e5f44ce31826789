#!/usr/bin/env bash
# Usage: demo/run-demo.sh BUILD_DIR        (what `make demo` runs after `make build`)
#        demo/run-demo.sh                  (ctest's demo.whole_update: OUT_BIN and
#                                           WINE_BUILD_DIR from the environment)
#
# The whole update as a user would see it, in a fresh Wine prefix: Ver1.0 of the demo
# application installed under C:\TESBWIN\LUNDER19\, Update.exe started from C:\Download\,
# its folder page, Next, the applier's progress dialog and its box "正常終了", the
# completion page, "完了"; afterwards the installed Lunder19.EXE is Ver2.0 byte for byte,
# stamped 2008-01-30 16:48:09 local time, nothing of the run is left in the folders, and
# the program's About box says "Ver2.0". A spy cacls in the system folder records what the
# wizard asked of it. Screenshots of each step go to BUILD_DIR/demo/; the report ends in
# "demo: success" (exit 0) or "demo: FAILED at ..." (exit 1). Without BUILD_DIR the
# screenshots go where the Wine scenarios put theirs (WINE_BUILD_DIR/screenshots/demo/).
#
# Headless by default: the Wine harness of the scenarios gives the run a private X server
# and prefix and ends both. With DEMO_INTERACTIVE=1 and a DISPLAY, the wizard opens on that
# display for a person to click through; the same checks follow. WINE_USE_DISPLAY=1 alone
# shows the headless run on DISPLAY. WINE_KEEP=1 keeps the prefix (under
# WINE_BUILD_DIR/wine-runs/demo/run/) for a look afterwards.

DEMO_DIR="$(cd "$(dirname "$0")" && pwd)"
REPO_DIR="$(cd "$DEMO_DIR/.." && pwd)"
INTERACTIVE="${DEMO_INTERACTIVE:-0}"

if [ $# = 1 ] && [ -d "$1" ]; then
  BUILD_DIR="$(cd "$1" && pwd)"
  export OUT_BIN="$BUILD_DIR/bin"
  # The scenarios' build directory, so the demo shares their template prefix (made once).
  if [ -d "$BUILD_DIR/native" ]; then
    export WINE_BUILD_DIR="$BUILD_DIR/native"
  else
    export WINE_BUILD_DIR="$BUILD_DIR"
  fi
  SHOT_DIR="$BUILD_DIR/demo"
elif [ $# = 0 ] && [ -n "${OUT_BIN:-}" ] && [ -n "${WINE_BUILD_DIR:-}" ]; then
  SHOT_DIR=""  # the harness's screenshot folder, known after wine_init
else
  echo "usage: $0 BUILD_DIR   (the build directory of 'make build', holding bin/)" >&2
  echo "       OUT_BIN=... WINE_BUILD_DIR=... $0" >&2
  exit 2
fi

UPDATE_TITLE="Tesbrin 所得税平成19年度版Ver2.0アップデート"
APP_TITLE="Tesbrin 所得税アップデート"
APPLIER_DIALOG="File Update for Windows95 Ver.1.05"
APPLIER_END_BOX="ファイルアップデート"
V2_CAPTION="Tesbrin 所得税平成19年度版 Ver2.0"
ABOUT_CAPTION="バージョン情報"
# Control ids of the wizard's pages: 100 + the control's row in the page's declaration.
FOLDER_DIREDIT=105 FOLDER_NEXT=108
END_FINISH=107
MENU_ABOUT=1002

WIZARD_DIR_WIN='C:\Download'
INSTALL_DIR_WIN='C:\TESBWIN\LUNDER19'

# --- the report ------------------------------------------------------------------------

now() { date +%s.%N; }
seconds_since() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.1f", b - a }'; }

DEMO_T0="$(now)"
STEP_T0="$DEMO_T0"
STEP="start-up"
FAILED_AT=""
SUCCEEDED=0
NOTES=()

# begin STEP: names the step that a failure or a time-out is reported against.
begin() { STEP="$1"; STEP_T0="$(now)"; }

# ok TEXT [SCREENSHOT]: the current step passed.
ok() {
  printf '  ✓ %5s s  %s%s\n' "$(seconds_since "$STEP_T0")" "$1" "${2:+  [$2]}"
  STEP_T0="$(now)"
}

# bad TEXT: a check failed; the demo goes on with the checks that do not depend on it.
bad() {
  printf '  ✗ %5s s  %s\n' "$(seconds_since "$STEP_T0")" "$1"
  [ -n "$FAILED_AT" ] || FAILED_AT="$STEP: $1"
  STEP_T0="$(now)"
}

# stop TEXT: a step of the flow failed; nothing after it can run.
stop() {
  bad "$1"
  local windows
  windows="$(describe_windows)"
  [ -n "$windows" ] && printf '        windows on the screen:\n%s\n' "$windows"
  [ "$INTERACTIVE" = 1 ] || screenshot 99-failure >/dev/null
  exit 1
}

# The last words, also after a failed start, a time-out or an interrupt; the harness
# ends the X server, wineserver and prefix after it and exits with its status, 0 or 1.
finish() {
  local code=1
  if [ "$SUCCEEDED" = 1 ] && [ -z "$FAILED_AT" ]; then
    code=0
  elif [ -z "$FAILED_AT" ]; then
    FAILED_AT="$STEP (interrupted or timed out)"
  fi
  local note
  for note in "${NOTES[@]}"; do printf '  %s\n' "$note"; done
  printf '  total %s s; screenshots in %s/, logs in %s/\n' "$(seconds_since "$DEMO_T0")" "$SHOT_DIR" "$WINE_WORK"
  if [ "$code" = 0 ]; then
    echo "demo: success"
  else
    echo "demo: FAILED at $FAILED_AT"
  fi
  return "$code"
}

thousands() { sed ':a;s/\B[0-9]\{3\}\>/,&/;ta' <<<"$1"; }

# --- driving the screen ----------------------------------------------------------------

# screenshot NAME: the whole screen to BUILD_DIR/demo/NAME.png; prints the file name.
screenshot() {
  import -window root "$SHOT_DIR/$1.png" 2>>"$WINE_LOG" && printf '%s.png' "$1"
}

# quiet_drive COMMAND...: the driver's answers only in DRIVEN (and the run's driver.log).
quiet_drive() { drive "$@" >/dev/null; }

# answer PREFIX: the text after "PREFIX: " in the last driver answers.
answer() { sed -n "s/^$1: //p" <<<"$DRIVEN" | head -n1; }

# box_text CAPTION: the text of a message box: a system box's static 0xFFFF, or the first
# label (id 100) of the wizard's own plain message.
box_text() {
  local out
  out="$(printf 'wait %s 500\ntext\n' "$1" | wine_cmd "$UIDRIVER" 2>/dev/null | sed -n 's/^text: //p')"
  [ -n "$out" ] || out="$(printf 'wait %s 500\nitem 100\n' "$1" | wine_cmd "$UIDRIVER" 2>/dev/null |
    sed -n 's/^item 100: //p')"
  [ -n "$out" ] && printf '%s\n' "$out"
}

# The visible top-level windows, with the text of every message box among them: what a
# person would have seen when a step did not come.
describe_windows() {
  [ "$INTERACTIVE" = 1 ] && return 0
  local list line caption
  list="$(printf 'list\n' | wine_cmd "$UIDRIVER" 2>/dev/null)"
  while IFS= read -r line; do
    case "$line" in
      "window: #32770 \"$UPDATE_TITLE\""*) printf '          %s\n' "$line" ;;
      'window: #32770 "'*)
        caption="${line#window: \#32770 \"}"
        caption="${caption%%\" visible=*}"
        printf '          %s\n' "$line"
        box_text "$caption" | sed 's/^/            says: /'
        ;;
      'window: '*) printf '          %s\n' "$line" ;;
    esac
  done <<<"$list"
}

# await_window CAPTION LIMIT_S [COMMAND...]: waits for the window and runs the commands on it
# in the same driver (no time lost in between), but gives up at once when a message box of
# another caption comes up instead (a failure message of the wizard or the applier).
await_window() {
  local caption="$1" limit="$2" start line other
  shift 2
  start="$(date +%s)"
  while [ $(($(date +%s) - start)) -lt "$limit" ]; do
    quiet_drive "wait $caption 1000" "$@" && return 0
    quiet_drive list
    # It came after all, with a box over it: on a busy machine the applier may have finished
    # before the driver looked.
    grep -qF " \"$caption\" visible=1 " <<<"$DRIVEN" && continue
    while IFS= read -r line; do
      other="${line#window: \#32770 \"}"
      other="${other%%\" visible=1 *}"
      case "$other" in
        # A window being made may not have its caption yet.
        "" | "$caption" | "$UPDATE_TITLE" | "$APPLIER_DIALOG") ;;
        *) AWAIT_OTHER="a box \"$other\" came instead: $(box_text "$other")"; return 1 ;;
      esac
    done < <(grep '^window: #32770 ".*" visible=1 ' <<<"$DRIVEN")
  done
  AWAIT_OTHER="nothing came in ${limit} s"
  return 1
}

# count_windows CLASS CAPTION: visible top-level windows of that class and caption.
count_windows() {
  quiet_drive list
  grep -c "^window: $1 \"$2\" visible=1" <<<"$DRIVEN"
}

# --- start-up --------------------------------------------------------------------------

# The harness chooses the width this machine runs and points OUT_BIN at its programs.
source "$REPO_DIR/tests/wine/harness.sh"
source "$DEMO_DIR/lib.sh"
V1_EXE="$OUT_BIN/demo/v1/Lunder19.EXE"
V2_EXE="$OUT_BIN/demo/v2/Lunder19.EXE"
PAYLOAD_EXE="$OUT_BIN/Lunder19Patch.EXE"

for needed in "$OUT_BIN/Update.exe" "$OUT_BIN/uidriver.exe" "$V1_EXE" "$V2_EXE" "$OUT_BIN/spy/cacls.exe"; do
  [ -f "$needed" ] || { echo "demo: FAILED at start-up: $needed is missing (run 'make build' first)"; exit 1; }
done
if [ "$INTERACTIVE" = 1 ]; then
  [ -n "${DISPLAY:-}" ] || { echo "demo: FAILED at start-up: DEMO_INTERACTIVE=1 needs a DISPLAY to show the wizard on"; exit 1; }
  # The person's display, not a private X server.
  export WINE_USE_DISPLAY=1
fi

if [ "$INTERACTIVE" = 1 ]; then
  echo "demo: the update of Tesbrin 所得税平成19年度版 Ver1.0 to Ver2.0, on display $DISPLAY (you click)"
elif [ "${WINE_USE_DISPLAY:-0}" = 1 ]; then
  echo "demo: the update of Tesbrin 所得税平成19年度版 Ver1.0 to Ver2.0, under Wine on display ${DISPLAY:-(none)}"
else
  echo "demo: the update of Tesbrin 所得税平成19年度版 Ver1.0 to Ver2.0, under Wine on a private X server"
fi
# Every way out, a failed start of the harness and its time-out included, ends in the
# report's last line.
wine_at_exit finish
begin "the Wine prefix"
wine_init demo/run "${DEMO_TIMEOUT:-$([ "$INTERACTIVE" = 1 ] && echo 1800 || echo 150)}"
if [ -n "$SHOT_DIR" ]; then
  rmdir "$WINE_SHOTS" 2>/dev/null  # the harness's screenshot folder: the demo has its own
else
  SHOT_DIR="$WINE_SHOTS"
fi
mkdir -p "$SHOT_DIR"
rm -f "$SHOT_DIR"/*.png
if [ "$INTERACTIVE" = 1 ]; then
  ok "fresh Wine prefix"
else
  quiet_drive acp || stop "the UI driver does not run"
  [ "$(answer acp)" = 932 ] || stop "the programs see code page $(answer acp), not 932"
  ok "fresh Wine prefix, X server $DISPLAY, code page 932"
fi

begin "installing Ver1.0"
demo_install_v1 "$WINEPREFIX" "$V1_EXE" 2>>"$WINE_LOG" || stop "demo/install-v1 failed (see $WINE_LOG)"
installed="$(wine_unix "$INSTALL_DIR_WIN\\Lunder19.EXE")"
cmp -s "$V1_EXE" "$installed" || stop "the installed program is not Ver1.0"
ok "Ver1.0 installed in $INSTALL_DIR_WIN\\ with its uninstall entry"

begin "installing the spy cacls"
# The spy replaces Wine's silent builtin; "=n" makes Wine run the file.
cp "$OUT_BIN/spy/cacls.exe" "$WINE_C/windows/system32/cacls.exe" || stop "cannot copy the spy cacls"
WINE_EXTRA_OVERRIDES="$WINE_OVERRIDES;cacls.exe=n"
export SPY_LOG='C:\spy-cacls.log'
spy_log="$(wine_unix "$SPY_LOG")"
rm -f "$spy_log"
mkdir -p "$(wine_unix "$WIZARD_DIR_WIN")"
cp "$OUT_BIN/Update.exe" "$(wine_unix "$WIZARD_DIR_WIN\\Update.exe")" || stop "cannot copy Update.exe"
ok "spy cacls in C:\\windows\\system32, Update.exe in $WIZARD_DIR_WIN\\"

# --- the update ------------------------------------------------------------------------

wait_wizard_end() {
  local limit="$1"
  if wine_wait "$wizard" "$limit"; then
    [ "$WINE_RC" = 0 ] || stop "the wizard ended with exit code $WINE_RC"
    return 0
  fi
  stop "the wizard is still running"
}

run_headless() {
  begin "the folder page"
  wine_bg wizard "$WIZARD_DIR_WIN\\Update.exe"
  quiet_drive "wait $UPDATE_TITLE 20000" "item $FOLDER_DIREDIT" "item $FOLDER_NEXT" ||
    stop "the folder page did not come up"
  local folder next
  folder="$(answer "item $FOLDER_DIREDIT")"
  next="$(answer "item $FOLDER_NEXT")"
  [ "$folder" = "$INSTALL_DIR_WIN\\" ] || stop "the folder box shows \"$folder\", not \"$INSTALL_DIR_WIN\\\""
  [ "$next" = "次へ→(&N)" ] || stop "the Next button reads \"$next\""
  ok "folder page proposes $folder (from the uninstall entry)" "$(screenshot 01-folder-page)"

  begin "Next and the applier's progress dialog"
  quiet_drive "wait $UPDATE_TITLE 2000" "click $FOLDER_NEXT" || stop "cannot press $next"
  # The rebuild takes well under a second: the bar is read and the screen shot at once.
  await_window "$APPLIER_DIALOG" 30 "progress 1000" || stop "no progress dialog: $AWAIT_OTHER"
  local shot_name bar
  bar="$(answer 'progress 1000')"
  shot_name="$(screenshot 02-applier-progress)"
  quiet_drive "wait $APPLIER_DIALOG 2000" "item 900" "item 903"
  ok "progress dialog: $(answer 'item 900'), $(answer 'item 903'), bar at ${bar}% just before the shot" "$shot_name"

  begin "the applier's final box"
  await_window "$APPLIER_END_BOX" 60 || stop "no final box: $AWAIT_OTHER"
  quiet_drive "wait $APPLIER_END_BOX 1000" text
  local text
  text="$(answer text)"
  shot_name="$(screenshot 03-applier-done)"
  [ "$text" = "正常終了" ] || stop "the applier's box says \"$text\""
  quiet_drive "wait $APPLIER_DIALOG 1000" "progress 1000"
  ok "box \"$APPLIER_END_BOX\": $text (bar at $(answer 'progress 1000')%), OK" "$shot_name"
  quiet_drive "wait $APPLIER_END_BOX 2000" "click 1" "gone $APPLIER_END_BOX 5000" ||
    stop "the box did not close with OK"

  begin "the completion page"
  # It opens over the folder page, which has the same caption: wait for the second window.
  local i
  for ((i = 0; i < 75; i++)); do
    [ "$(count_windows '#32770' "$UPDATE_TITLE")" -ge 2 ] && break
    [ "$(grep -c "^window: #32770 \"$APP_TITLE\" visible=1" <<<"$DRIVEN")" -ge 1 ] &&
      stop "the wizard says instead: $(box_text "$APP_TITLE")"
    sleep 0.2
  done
  [ "$i" -lt 75 ] || stop "the completion page did not come up"
  quiet_drive "wait $UPDATE_TITLE 1000" "item $END_FINISH" "item 102"
  [ "$(answer "item $END_FINISH")" = "完了" ] || stop "the front page has no 完了 button"
  ok "completion page: $(answer 'item 102')" "$(screenshot 04-completion-page)"

  begin "完了 and the end of the wizard"
  quiet_drive "wait $UPDATE_TITLE 1000" "click $END_FINISH" || stop "cannot press 完了"
  wait_wizard_end 20
  ok "完了 pressed; the wizard ended with exit code 0"
}

run_by_hand() {
  begin "the wizard, clicked by hand"
  echo "  → the wizard is open on $DISPLAY: press 次へ→(&N), OK on 正常終了, then 完了"
  wine_bg wizard "$WIZARD_DIR_WIN\\Update.exe"
  wait_wizard_end "${DEMO_TIMEOUT:-1800}"
  ok "the wizard ended with exit code 0"
}

if [ "$INTERACTIVE" = 1 ]; then run_by_hand; else run_headless; fi

# --- the outcome -----------------------------------------------------------------------

begin "the installed program"
installed="$(wine_ci "$installed")"
if [ ! -f "$installed" ]; then
  bad "$INSTALL_DIR_WIN\\Lunder19.EXE is missing"
elif cmp -s "$V2_EXE" "$installed"; then
  ok "$INSTALL_DIR_WIN\\Lunder19.EXE is Ver2.0 byte for byte ($(thousands "$(stat -c %s "$installed")") bytes)"
elif cmp -s "$V1_EXE" "$installed"; then
  bad "$INSTALL_DIR_WIN\\Lunder19.EXE is still Ver1.0"
else
  bad "$INSTALL_DIR_WIN\\Lunder19.EXE is neither Ver1.0 nor Ver2.0"
fi

begin "the time stamp"
stamp="$(date -r "$installed" '+%Y-%m-%d %H:%M:%S' 2>/dev/null)"
if [ "$stamp" = "2008-01-30 16:48:09" ]; then
  ok "last-write time $stamp local time, as the patch records"
else
  bad "last-write time is \"$stamp\", not 2008-01-30 16:48:09"
fi

begin "left-overs"
left=()
for win in "$INSTALL_DIR_WIN\\Lunder19.OLD" "$INSTALL_DIR_WIN\\Lunder19Patch.EXE" "$INSTALL_DIR_WIN\\UPDATE.TMP" \
  "$WIZARD_DIR_WIN\\yes.txt"; do
  [ -e "$(wine_ci "$(wine_unix "$win")")" ] && left+=("$win")
done
if [ "${#left[@]}" = 0 ]; then
  ok "no Lunder19.OLD, Lunder19Patch.EXE, UPDATE.TMP or $WIZARD_DIR_WIN\\yes.txt left"
else
  bad "left behind: ${left[*]}"
fi

begin "the rights command"
if [ -f "$spy_log" ]; then
  calls="$(grep -c '^end' "$spy_log")"
  cmdline="$(sed -n 's/^cmdline=//p' "$spy_log" | head -n1 | iconv -f CP932 -t UTF-8 2>/dev/null | tr -d '\r')"
  cmdline="${cmdline%"${cmdline##*[! ]}"}"
  input="$(sed -n 's/^stdin=//p' "$spy_log" | head -n1 | tr -d '\r')"
  folder="$(sed -n 's/^cwd=//p' "$spy_log" | head -n1 | iconv -f CP932 -t UTF-8 2>/dev/null | tr -d '\r')"
  NOTES+=("cacls was asked: $cmdline")
  NOTES+=("  in $folder, with standard input $input$([ "$input" = "59 0D 0A" ] && echo ' ("Y")'); calls: $calls")
  expected="\"${INSTALL_DIR_WIN}\" /T /E /G \"Authenticated Users\":F"
  if [ "$calls" = 1 ] && [[ "$cmdline" == *"$expected"* ]] && [ "$input" = "59 0D 0A" ]; then
    ok "cacls ran once for the install folder and read Y"
  else
    bad "cacls was not asked for $expected with Y"
  fi
else
  bad "cacls was never run"
fi

begin "the About box"
if [ "$INTERACTIVE" = 1 ]; then
  echo "  → Lunder19.EXE is open: see ヘルプ(H) → バージョン情報(A), then close the program"
  wine_bg app "$INSTALL_DIR_WIN\\Lunder19.EXE"
  if wine_wait "$app" "${DEMO_TIMEOUT:-1800}" && [ "$WINE_RC" = 0 ]; then
    ok "Ver2.0 started and ended (its About box is for you to see)"
  else
    bad "the updated program did not end with exit code 0"
  fi
else
  wine_bg app "$INSTALL_DIR_WIN\\Lunder19.EXE"
  if quiet_drive "wait $V2_CAPTION 20000" "click $MENU_ABOUT" "wait $ABOUT_CAPTION 5000" text; then
    about="$(answer text)"
    shot_name="$(screenshot 05-about-ver2)"
    if [[ "$about" == 'Tesbrin 所得税平成19年度版\r\nVer2.0\r\n'* ]]; then
      ok "the installed program's About box: ${about//\\r\\n/ | }" "$shot_name"
    else
      bad "the About box says \"$about\""
    fi
    quiet_drive "wait $ABOUT_CAPTION 2000" "click 1" "gone $ABOUT_CAPTION 5000" "wait $V2_CAPTION 2000" close
    if wine_wait "$app" 20 && [ "$WINE_RC" = 0 ]; then
      ok "closed the program (exit code 0)"
    else
      bad "the updated program did not close"
    fi
  else
    bad "the installed program did not show the About box of \"$V2_CAPTION\""
  fi
fi

# The patch the wizard carried: the packed applier is the payload resource of Update.exe.
if [ -f "$PAYLOAD_EXE" ] && [ -x "$NATIVE_BIN/patchtool" ] && python3 - "$OUT_BIN/Update.exe" "$PAYLOAD_EXE" <<'PY'
import sys
sys.exit(0 if open(sys.argv[2], 'rb').read() in open(sys.argv[1], 'rb').read() else 1)
PY
then
  info="$("$NATIVE_BIN/patchtool" info --json "$PAYLOAD_EXE" 2>/dev/null)"
  NOTES+=("$(python3 - "$info" "$PAYLOAD_EXE" "$OUT_BIN/Update.exe" <<'PY'
import json, os, sys
info = json.loads(sys.argv[1])
entry = info["entries"][0]
print("patch: %s bytes of patch data (%d records: %d copy, %d literal) rebuild %s bytes from %s;"
      % (format(info["patch_size"], ","), entry["body"]["records"], entry["body"]["copy_records"],
         entry["body"]["literal_records"], format(entry["new_size"], ","), format(entry["old_size"], ",")))
print("         applier with the data %s bytes, Update.exe %s bytes"
      % (format(os.path.getsize(sys.argv[2]), ","), format(os.path.getsize(sys.argv[3]), ",")))
PY
)")
else
  NOTES+=("patch: Update.exe does not carry $PAYLOAD_EXE (size not known)")
fi

SUCCEEDED=1
