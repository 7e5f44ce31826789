# Functions for setting up the demo application in a Wine prefix; sourced by the demo
# script and by the Wine scenarios (after the harness's wine_init, or with WINEPREFIX set).

DEMO_INSTALL_DIR_WIN='C:\TESBWIN\LUNDER19'
DEMO_UNINSTALL_KEY='HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\{6B0D2F7A-93C1-4E58-A2D4-7F19C3E5B820}'
DEMO_MUTEX='TESBWIN_LUNDER_H19'

# demo_install_v1 PREFIX EXE: "installs" Ver1.0 as the application's own installer would
# have: the program (and a readme) in C:\TESBWIN\LUNDER19\ and the uninstall entry whose
# DisplayIcon names the program, which is how the wizard finds the folder.
demo_install_v1() {
  local prefix="$1" exe="$2"
  local dir="$prefix/drive_c/TESBWIN/LUNDER19"
  [ -d "$prefix/drive_c" ] || { echo "demo_install_v1: $prefix is not a Wine prefix" >&2; return 1; }
  [ -f "$exe" ] || { echo "demo_install_v1: $exe is missing (build the Windows programs first)" >&2; return 1; }
  mkdir -p "$dir" || return 1
  cp "$exe" "$dir/Lunder19.EXE" || return 1
  # The installed files carry the release date, as an installer leaves them.
  printf 'Tesbrin 所得税平成19年度版 Ver1.0\r\n\r\nインストール先: C:\\TESBWIN\\LUNDER19\\\r\n' |
    iconv -f UTF-8 -t CP932 >"$dir/Readme.txt" || return 1
  touch -d '2007-01-15 09:00:00' "$dir/Lunder19.EXE" "$dir/Readme.txt"

  # Setup commands run with a UTF-8 locale, or Wine garbles the Japanese arguments.
  local key="$DEMO_UNINSTALL_KEY"
  (
    export WINEPREFIX="$prefix" LC_ALL=C.UTF-8 WINEDEBUG=-all
    export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
    set -e
    wine reg add "$key" /v DisplayIcon /t REG_SZ /d "$DEMO_INSTALL_DIR_WIN\\Lunder19.EXE" /f
    wine reg add "$key" /v DisplayName /t REG_SZ /d 'Tesbrin 所得税平成19年度版' /f
    wine reg add "$key" /v DisplayVersion /t REG_SZ /d '1.0' /f
    wine reg add "$key" /v Publisher /t REG_SZ /d 'Tesbrin' /f
    wine reg add "$key" /v InstallLocation /t REG_SZ /d "$DEMO_INSTALL_DIR_WIN\\" /f
  ) >/dev/null 2>&1 || { echo "demo_install_v1: the uninstall entry could not be written" >&2; return 1; }
}
