#!/bin/bash
# The wizard's folder access preparation, called directly by folder_access_test.exe with a
# spy cacls in the system folder: the user would see nothing, but cacls must be asked for
# exactly the install folder (quoted, no trailing backslash) and read "Y" from its input
# (a pipe: an older yes.txt is never touched); nothing must run on the 9x family, for a
# drive root or for a folder name with "%" or "!"; a missing cmd.exe gives the two-line
# "Exec Error".
source "$(dirname "$0")/../harness.sh"
wine_init spy/folder-access "${WINE_TIMEOUT:-240}"

TEST_EXE="$OUT_BIN/spy/folder_access_test.exe"
[ -f "$TEST_EXE" ] && [ -f "$OUT_BIN/spy/cacls.exe" ] || { echo "build the Windows programs first" >&2; exit 1; }

# The spy replaces Wine's dummy cacls; "=n" makes Wine run the file instead of its builtin.
cp "$OUT_BIN/spy/cacls.exe" "$WINE_C/windows/system32/cacls.exe"
WINE_EXTRA_OVERRIDES="$WINE_OVERRIDES;cacls.exe=n"
export SPY_LOG='C:\spy-cacls.log'

# Each mode prints PASS/FAIL lines; every line becomes one check here.
run_mode() {
  local mode="$1" exe="$2" output line status
  output="$(wine_cmd "$exe" "$mode" 'C:\fa' | tr -d '\r' | iconv -f CP932 -t UTF-8)"
  status=$?
  [ -n "$output" ]
  _check $? "$mode: the test program ran" "no output (status $status)"
  while IFS= read -r line; do
    case "$line" in
      PASS\ *) _check 0 "$mode: ${line#PASS }" ;;
      FAIL\ *) _check 1 "$mode: ${line#FAIL }" ;;
      *) [ -n "$line" ] && printf '     %s\n' "$line" ;;  # continuation of a multi-line detail
    esac
  done <<<"$output"
}

mkdir -p "$WINE_C/fa/wizard" "$WINE_C/fa/wizard9x" "$WINE_C/fa/wizardnocmd"

cp "$TEST_EXE" "$WINE_C/fa/wizard/folder_access_test.exe"
run_mode nt 'C:\fa\wizard\folder_access_test.exe'

# The per-program Windows version setting makes this copy see the 9x family.
cp "$TEST_EXE" "$WINE_C/fa/wizard9x/folder_access_9x.exe"
LC_ALL="$WINE_SETUP_LOCALE" wine reg add 'HKCU\Software\Wine\AppDefaults\folder_access_9x.exe' \
  /v Version /d win98 /f >>"$WINE_LOG" 2>&1
run_mode 9x 'C:\fa\wizard9x\folder_access_9x.exe'

# Without the file system32\cmd.exe (moved away) the command cannot be started.
cp "$TEST_EXE" "$WINE_C/fa/wizardnocmd/folder_access_test.exe"
mv "$WINE_C/windows/system32/cmd.exe" "$WINE_C/windows/system32/cmd.exe.away"
run_mode nocmd 'C:\fa\wizardnocmd\folder_access_test.exe'
mv "$WINE_C/windows/system32/cmd.exe.away" "$WINE_C/windows/system32/cmd.exe"

wine_done
