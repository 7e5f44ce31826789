# Wine harness, sourced by every Wine scenario script. It gives each scenario a private
# X server and a private Wine prefix (copied from a template made once per build
# directory), runs the programs under test with code page 932, and always ends the
# X server and wineserver it started, also when the scenario fails or hangs.
# tests/wine/README.md describes the functions; a scenario looks like this:
#
#   source "$(dirname "$0")/../harness.sh"
#   wine_init applier/success 120
#   wine_bg app "$WINE_C/app/prog.exe"
#   drive "wait 正常終了 10000" "text"
#   ...
#   wine_done
#
# Inputs (ctest sets them): OUT_BIN (the Windows and native programs) and WINE_BUILD_DIR
# (the build directory: template prefix, per-test folders and screenshots live there).
# WINE_USE_DISPLAY=1 runs on the caller's DISPLAY instead of a private X server, to watch
# a scenario or let a person click.
#
# Width: the product is 32-bit, and the scenarios run the 32-bit programs under wine32
# wherever the machine executes 32-bit code. Some machines execute none ("Exec format
# error"); there they run the x86_64 twins (OUT_BIN/x64) under wine64, in a 64-bit prefix.
# The harness finds out by running wine32, not by guessing; WINE_ARCH=32 or 64 forces one.
# After sourcing, OUT_BIN names the Windows programs of the chosen width, NATIVE_BIN the
# native ones (patchtool), WINE_BITS is 32 or 64 and WINE_MINGW the matching tool prefix.

# The harness must not inherit -e from a scenario: a failed check is counted, not fatal.
set -u -o pipefail

HARNESS_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
REPO_DIR="$(cd "$HARNESS_DIR/../.." && pwd)"

# Programs under test see code page 932; setup commands must not, or Japanese registry
# names arrive garbled.
WINE_RUN_LOCALE=ja_JP.UTF-8
WINE_SETUP_LOCALE=C.UTF-8
export WINEDEBUG=-all
WINE_OVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
WINE32_LOADER=/usr/lib/wine/wine
WINE64_LOADER=/usr/lib/wine/wine64
WINE_MARLETT=/usr/share/wine/fonts/marlett.ttf

WINE_FAILS=0
WINE_CHECKS=0
_wine_xvfb_pid=""
_wine_watchdog_pid=""
_wine_bg_pids=()
_wine_prefix=""
_wine_exit_hook=""
WINE_LOCPATH=""

_wine_log() { printf '%s\n' "$*" >&2; }

# The first thing a scenario calls. NAME is "group/scenario"; TIMEOUT_S is the hard limit
# after which every program of the prefix is ended and the scenario fails (ctest's
# WINE_TIMEOUT, when set, takes its place).
wine_init() {
  local name="$1" limit="${WINE_TIMEOUT:-${2:-120}}"
  : "${OUT_BIN:?OUT_BIN must name the folder of the built programs}"
  : "${WINE_BUILD_DIR:?WINE_BUILD_DIR must name the build directory}"
  WINE_NAME="$name"
  WINE_GROUP="${name%%/*}"
  WINE_WORK="$WINE_BUILD_DIR/wine-runs/$name"
  WINE_SHOTS="$WINE_BUILD_DIR/screenshots/$WINE_GROUP"
  UIDRIVER="$OUT_BIN/uidriver.exe"
  rm -rf "$WINE_WORK"
  mkdir -p "$WINE_WORK" "$WINE_SHOTS"
  WINE_LOG="$WINE_WORK/wine.log"
  : >"$WINE_LOG"
  trap _wine_cleanup EXIT
  trap '_wine_log "harness: interrupted"; exit 124' TERM INT

  [ -f "$UIDRIVER" ] || { _wine_log "harness: $UIDRIVER is missing (build the Windows programs first)"; exit 1; }
  printf 'harness: %s runs the %s-bit programs under %s (%s)\n' "$name" "$WINE_BITS" "$WINE_LOADER" "$WINE_WHY"
  if [ "${WINE_USE_DISPLAY:-0}" = 1 ]; then
    # The caller's X server is never ours to end: _wine_xvfb_pid stays empty.
    [ -n "${DISPLAY:-}" ] || { _wine_log "harness: WINE_USE_DISPLAY=1 needs a DISPLAY"; exit 1; }
  else
    _wine_start_xvfb || exit 1
  fi
  _wine_template || exit 1

  export WINEPREFIX="$WINE_WORK/prefix"
  cp -a "$WINE_BUILD_DIR/wine-template-$WINE_BITS/prefix" "$WINEPREFIX"
  _wine_prefix="$WINEPREFIX"
  WINE_C="$WINEPREFIX/drive_c"
  _wine_watchdog "$limit"
}

_wine_install_missing() {
  if command -v wine >/dev/null && [ -x "$WINE64_LOADER" ] && command -v Xvfb >/dev/null && command -v import >/dev/null &&
     command -v flock >/dev/null && command -v python3 >/dev/null &&
     [ -d /usr/share/fonts/opentype/ipafont-gothic ] && [ -f "$WINE_MARLETT" ] &&
     { _wine_system_has_locale || [ -f /usr/share/i18n/locales/ja_JP ]; }; then
    return 0
  fi
  bash "$REPO_DIR/scripts/install-deps.sh"
}

_wine_system_has_locale() { locale -a 2>/dev/null | grep -qix 'ja_JP.utf-\?8'; }

# _wine_runs LOADER: the loader starts at all on this machine (a 32-bit one fails with
# "Exec format error" where no 32-bit code runs). What it printed is kept in _wine_said.
_wine_runs() {
  local status
  _wine_said="$("$1" --version 2>&1)"
  status=$?
  # bash's own words for a program it cannot start name the script and line first.
  _wine_said="${_wine_said##*"$1": }"
  return "$status"
}

# Chooses the width (see the top of this file) and points OUT_BIN at its programs. Where
# neither width can run, one line says why and the scenario fails.
_wine_pick_width() {
  local forced="${WINE_ARCH:-}" why32=""
  case "$forced" in
    "" | 32 | 64) ;;
    *) _wine_log "harness: WINE_ARCH must be 32 or 64, not \"$forced\""; return 1 ;;
  esac
  if [ "$forced" != 64 ]; then
    if _wine_runs "$WINE32_LOADER"; then
      WINE_BITS=32
      WINE_WHY="${forced:+forced by WINE_ARCH=32}"
      WINE_WHY="${WINE_WHY:-this machine runs 32-bit code}"
    else
      why32="$WINE32_LOADER does not run: ${_wine_said:-missing}"
      if [ "$forced" = 32 ]; then
        _wine_log "harness: WINE_ARCH=32, but $why32"
        return 1
      fi
    fi
  fi
  if [ -z "${WINE_BITS:-}" ]; then
    if ! _wine_runs "$WINE64_LOADER"; then
      _wine_log "harness: no Wine can run here: ${why32:-WINE_ARCH=64 forces wine64}, and $WINE64_LOADER does not run either: ${_wine_said:-missing} (Debian packages wine32:i386 or wine64)"
      return 1
    fi
    WINE_BITS=64
    WINE_WHY="${why32:-forced by WINE_ARCH=64}"
  fi
  NATIVE_BIN="$OUT_BIN"
  if [ "$WINE_BITS" = 32 ]; then
    WINE_LOADER="$WINE32_LOADER"
    WINE_MINGW=i686-w64-mingw32
    export WINEARCH=win32
  else
    # The "wine" and "wineboot" commands take wine32 whenever it is installed, so a folder
    # of our own on PATH sends them, and every script that calls them, to wine64.
    WINE_LOADER="$WINE64_LOADER"
    WINE_MINGW=x86_64-w64-mingw32
    OUT_BIN="$OUT_BIN/x64"
    export WINEARCH=win64 WINELOADER="$WINE64_LOADER"
    local shims="$WINE_BUILD_DIR/wine-template-64/bin"
    mkdir -p "$shims"
    printf '#!/bin/sh\nexec %s "$@"\n' "$WINE64_LOADER" >"$shims/wine"
    printf '#!/bin/sh\nexec %s wineboot.exe "$@"\n' "$WINE64_LOADER" >"$shims/wineboot"
    chmod +x "$shims/wine" "$shims/wineboot"
    export PATH="$shims:$PATH"
  fi
  export OUT_BIN NATIVE_BIN WINE_BITS WINE_MINGW WINE_LOADER WINE_WHY
}

# Wine takes the ANSI code page from the locale's name but the encoding of Unix file names
# and arguments from the locale itself: without a real ja_JP.UTF-8 it strips every byte
# to 7 bits, so a folder "表示ソフト" would not be the same folder on both sides. A private
# copy of the locale (LOCPATH) avoids touching the machine's locale set-up.
_wine_make_locale() {
  local dir="$1"
  _wine_system_has_locale && return 0
  [ -d "$dir/ja_JP.UTF-8" ] && return 0
  mkdir -p "$dir"
  localedef -i ja_JP -f UTF-8 "$dir/ja_JP.UTF-8" >>"$WINE_LOG" 2>&1 || [ -f "$dir/ja_JP.UTF-8/LC_CTYPE" ]
}

_wine_start_xvfb() {
  local fdfile="$WINE_WORK/display" i
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$fdfile" >>"$WINE_LOG" 2>&1 &
  _wine_xvfb_pid=$!
  for ((i = 0; i < 100; i++)); do
    [ -s "$fdfile" ] && break
    sleep 0.1
  done
  [ -s "$fdfile" ] || { _wine_log "harness: Xvfb did not start"; return 1; }
  DISPLAY=":$(head -n1 "$fdfile")"
  export DISPLAY
}

# One template prefix per build directory, made under a lock so that parallel ctest jobs
# wait for the first one instead of racing it.
_wine_template() {
  local dir="$WINE_BUILD_DIR/wine-template-$WINE_BITS" fd
  mkdir -p "$dir"
  exec {fd}>"$dir/lock"
  flock "$fd"
  if ! _wine_make_locale "$dir/locale"; then
    flock -u "$fd"
    _wine_log "harness: cannot make the ja_JP.UTF-8 locale"
    return 1
  fi
  _wine_system_has_locale || WINE_LOCPATH="$dir/locale"
  if [ ! -f "$dir/ready" ]; then
    _wine_log "harness: making the $WINE_BITS-bit template prefix (once per build directory)"
    rm -rf "$dir/prefix"
    if ! _wine_make_template "$dir/prefix"; then
      WINEPREFIX="$dir/prefix" wineserver -k 2>/dev/null
      flock -u "$fd"
      _wine_log "harness: the template prefix could not be made (see $WINE_LOG)"
      return 1
    fi
    touch "$dir/ready"
  fi
  flock -u "$fd"
  exec {fd}>&-
}

# The prefix boots under the programs' Japanese locale: Wine then picks non-client fonts
# with Japanese glyphs, so captions, message boxes and menus show their texts in
# screenshots as a Japanese system shows them. The registry is written under the setup
# locale (see the top of this file).
_wine_make_template() {
  local prefix="$1"
  (
    export WINEPREFIX="$prefix" WINEDLLOVERRIDES="$WINE_OVERRIDES"
    set -e
    env ${WINE_LOCPATH:+LOCPATH="$WINE_LOCPATH"} LC_ALL="$WINE_RUN_LOCALE" wineboot -i
    wineserver -w
    # The caption buttons are glyphs of the Marlett font; Wine finds it only in the prefix's
    # own font folder (without it the close box shows the letter "r").
    cp "$WINE_MARLETT" "$prefix/drive_c/windows/Fonts/"
    export LC_ALL="$WINE_SETUP_LOCALE"
    wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
      /v 'ＭＳ Ｐゴシック' /d IPAPGothic /f
    wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes' \
      /v 'ＭＳ ゴシック' /d IPAGothic /f
    wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f
    wineserver -k || true
    wineserver -w
  ) >>"$WINE_LOG" 2>&1
}

# Ends the prefix's programs first (a foreground wine call then returns), then the script.
_wine_watchdog() {
  local limit="$1" main=$$
  (
    trap 'kill "$sleeper" 2>/dev/null; exit 0' TERM
    sleep "$limit" &
    sleeper=$!
    wait "$sleeper"
    echo "harness: $WINE_NAME timed out after ${limit}s" >&2
    # The mark first: the script may reach wine_done before the signal arrives.
    : >"$WINE_WORK/timed-out"
    wineserver -k 2>/dev/null
    kill -TERM "$main"
  ) </dev/null >/dev/null 2>>"$WINE_LOG" &
  _wine_watchdog_pid=$!
}

_wine_timed_out() { [ -e "$WINE_WORK/timed-out" ]; }

# wine_at_exit FUNCTION: the exit handler calls FUNCTION STATUS (124 after the time limit)
# on every way out, while the scenario's programs and X server are still there; the script
# then exits with FUNCTION's return status. FUNCTION writes to the standard output and
# error of the wine_at_exit call: the way out may come while a "drive ... >/dev/null" runs.
wine_at_exit() {
  _wine_exit_hook="$1"
  exec {_wine_hook_out}>&1 {_wine_hook_err}>&2
}

_wine_cleanup() {
  local status=$? pid
  # A late TERM of the watchdog must not cut the clean-up short and leave the X server.
  trap - EXIT INT
  trap '' TERM
  if _wine_timed_out; then
    _wine_log "harness: $WINE_NAME FAILED: it ran past its time limit"
    status=124
  fi
  if [ -n "$_wine_exit_hook" ]; then
    "$_wine_exit_hook" "$status" >&"$_wine_hook_out" 2>&"$_wine_hook_err"
    status=$?
  fi
  [ -n "$_wine_watchdog_pid" ] && kill "$_wine_watchdog_pid" 2>/dev/null
  for pid in "${_wine_bg_pids[@]}"; do kill "$pid" 2>/dev/null; done
  # Only the prefix this harness made: never a WINEPREFIX that came from outside.
  if [ -n "$_wine_prefix" ] && [ -d "$_wine_prefix" ]; then
    WINEPREFIX="$_wine_prefix" wineserver -k 2>/dev/null
    WINEPREFIX="$_wine_prefix" wineserver -w 2>/dev/null
  fi
  [ -n "$_wine_xvfb_pid" ] && kill "$_wine_xvfb_pid" 2>/dev/null && wait "$_wine_xvfb_pid" 2>/dev/null
  if [ "${WINE_KEEP:-0}" != 1 ] && [ -n "$_wine_prefix" ]; then rm -rf "$_wine_prefix"; fi
  exit "$status"
}

# --- paths -------------------------------------------------------------------------------

# "C:\a\b" -> the Unix path inside this test's prefix.
wine_unix() {
  local p="$1"
  p="${p#[Cc]:}"
  p="${p//\\//}"
  printf '%s\n' "$WINE_C$p"
}

# --- running programs --------------------------------------------------------------------

# Runs a Windows program with code page 932 and waits for it; its output goes to stdout.
wine_cmd() {
  env ${WINE_LOCPATH:+LOCPATH="$WINE_LOCPATH"} LC_ALL="$WINE_RUN_LOCALE" WINEDLLOVERRIDES="${WINE_EXTRA_OVERRIDES:-$WINE_OVERRIDES}" wine "$@" 2>>"$WINE_LOG"
}

# wine_bg VAR PROGRAM [ARGS...]: starts PROGRAM in the background (code page 932, standard
# output to $WINE_WORK/VAR.out) and stores its Unix PID in VAR.
wine_bg() {
  local var="$1"
  shift
  wine_cmd "$@" </dev/null >"$WINE_WORK/$var.out" &
  printf -v "$var" '%s' "$!"
  _wine_bg_pids+=("$!")
}

# wine_kill PID: ends a program started with wine_bg at once, as the task manager's "end
# process" would: the Windows program itself (a child of the shell that wine_bg started),
# not only that shell. Returns when it is gone.
wine_kill() {
  local pid="$1" children child i
  children="$(ps -o pid= --ppid "$pid" 2>/dev/null)"
  for child in $children; do kill -KILL "$child" 2>/dev/null; done
  kill -KILL "$pid" 2>/dev/null
  wait "$pid" 2>/dev/null
  for ((i = 0; i < 50; i++)); do
    local alive=0
    for child in $children; do kill -0 "$child" 2>/dev/null && alive=1; done
    [ "$alive" = 0 ] && return 0
    sleep 0.1
  done
}

# wine_wait PID [TIMEOUT_S]: waits for a program started with wine_bg. Returns 0 when it
# ended in time (its exit code is then in WINE_RC), 1 when it was still running.
wine_wait() {
  local pid="$1" limit="${2:-30}" i
  for ((i = 0; i < limit * 10; i++)); do
    if ! kill -0 "$pid" 2>/dev/null; then
      wait "$pid"
      WINE_RC=$?
      return 0
    fi
    sleep 0.1
  done
  return 1
}

# drive COMMAND...: runs the UI driver with the commands (one per argument, any text) and
# prints its answers; returns its exit status. The answers are also kept in DRIVEN.
drive() {
  DRIVEN="$(printf '%s\n' "$@" | wine_cmd "$UIDRIVER")"
  local status=$?
  printf '%s\n' "$DRIVEN" | tee -a "$WINE_WORK/driver.log"
  return "$status"
}

# wine_hold WINPATH: a driver process opens the file without sharing and keeps it open
# until wine_release or the end of the scenario.
wine_hold() {
  local out="$WINE_WORK/hold.$RANDOM.out" i
  printf 'hold %s\nsleep 3600000\n' "$1" | wine_cmd "$UIDRIVER" >"$out" &
  WINE_HOLD_PID=$!
  _wine_bg_pids+=("$!")
  for ((i = 0; i < 200; i++)); do
    grep -q '^held: ' "$out" 2>/dev/null && return 0
    grep -q '^error: ' "$out" 2>/dev/null && break
    sleep 0.1
  done
  _wine_log "harness: could not hold $1: $(cat "$out")"
  return 1
}

# wine_release: ends the driver of the last wine_hold, which closes the file.
wine_release() {
  [ -n "${WINE_HOLD_PID:-}" ] || return 0
  kill "$WINE_HOLD_PID" 2>/dev/null
  wait "$WINE_HOLD_PID" 2>/dev/null
  WINE_HOLD_PID=""
}

# shot NAME: a PNG of the whole screen into the build's screenshot folder.
# shot NAME: the screen as the user sees it now. A picture of one colour is the bare root
# window: whatever it was meant to show had gone (or never came), and that fails the check.
shot() {
  local png="$WINE_SHOTS/$1.png" colours
  import -window root "$png" 2>>"$WINE_LOG" && _wine_log "screenshot: $png"
  colours=$(identify -format '%k' "$png" 2>>"$WINE_LOG")
  _check "$([ "${colours:-0}" -gt 1 ] && echo 0 || echo 1)" "screenshot $1 shows something" \
    "${colours:-no} colour(s) in $png"
}

# --- checks ------------------------------------------------------------------------------

_check() {
  local ok="$1" what="$2" detail="${3:-}"
  WINE_CHECKS=$((WINE_CHECKS + 1))
  if [ "$ok" = 0 ]; then
    printf 'ok   %s\n' "$what"
  else
    WINE_FAILS=$((WINE_FAILS + 1))
    printf 'FAIL %s%s\n' "$what" "${detail:+: $detail}"
  fi
}

# check WHAT COMMAND...: passes when the command succeeds.
check() {
  local what="$1"
  shift
  "$@" >/dev/null 2>&1
  _check $? "$what" "command failed: $*"
}

check_eq() {  # check_eq WHAT EXPECTED ACTUAL
  [ "$2" = "$3" ]
  _check $? "$1" "expected \"$2\", got \"$3\""
}

# check_line WHAT LINE: passes when the last driver answers (DRIVEN) hold exactly LINE.
check_line() {
  grep -qxF -- "$2" <<<"$DRIVEN"
  _check $? "$1" "no line \"$2\" in: $(tr '\n' '|' <<<"$DRIVEN")"
}

# wine_ci PATH: PATH with its file name matched without regard to case, as Windows
# programs see it ("Lunder19.EXE" may lie on disk as "Lunder19.exe"); PATH itself when
# nothing matches.
wine_ci() {
  local path="$1" found
  if [ ! -e "$path" ] && [ -d "$(dirname "$path")" ]; then
    found="$(find "$(dirname "$path")" -mindepth 1 -maxdepth 1 -iname "$(basename "$path")" -print -quit)"
    [ -n "$found" ] && path="$found"
  fi
  printf '%s\n' "$path"
}

# File checks match the last name without regard to case.
check_same_file() {  # check_same_file WHAT EXPECTED ACTUAL
  cmp -s "$2" "$(wine_ci "$3")"
  _check $? "$1" "$3 differs from $2"
}

check_exists() { [ -e "$(wine_ci "$2")" ]; _check $? "$1" "$2 is missing"; }
check_missing() { [ ! -e "$(wine_ci "$2")" ]; _check $? "$1" "$2 exists"; }

# check_mtime WHAT "YYYY-MM-DD HH:MM:SS" FILE: the last-write time in the local time zone
# (Wine maps the Windows local time to the Unix TZ).
check_mtime() {
  local actual
  actual="$(date -r "$(wine_ci "$3")" '+%Y-%m-%d %H:%M:%S' 2>/dev/null)"
  check_eq "$1" "$2" "$actual"
}

# The last call of a scenario: its exit status is the number of failed checks.
wine_done() {
  printf '%s (%s-bit): %d checks, %d failed\n' "$WINE_NAME" "$WINE_BITS" "$WINE_CHECKS" "$WINE_FAILS"
  [ "$WINE_FAILS" = 0 ] && ! _wine_timed_out && exit 0
  exit 1
}

# --- at sourcing: what is missing is installed, and the width is chosen ------------------

: "${OUT_BIN:?OUT_BIN must name the folder of the built programs}"
: "${WINE_BUILD_DIR:?WINE_BUILD_DIR must name the build directory}"
_wine_install_missing || { _wine_log "harness: cannot install the Wine tools"; exit 1; }
if [ -z "${WINE_BITS:-}" ]; then
  _wine_pick_width || exit 1
fi
