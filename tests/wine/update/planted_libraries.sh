#!/usr/bin/env bash
# Libraries planted under the names of system libraries where the elevated programs start:
# beside Update.exe in the download folder and in the install folder, where the applier
# runs. A first update, with the loader's trace on, lists every library the wizard and the
# applier load, directly or through another library (the folder browser opened and closed
# on the way); the libraries that the shell, COM and the common controls reach on Windows
# are named too. Then planted.dll lies in both folders under each of those names, a second
# update runs from Ver1.0 to its completion page, and none of them ran.
source "$(dirname "$0")/common.sh"
wine_init update/planted_libraries 240

PLANTED="$SPY_DIR/planted.dll"
[ -f "$PLANTED" ] || { echo "missing $PLANTED (build the Windows programs first)" >&2; exit 1; }
# Reached on Windows through the shell, COM and the common controls, whatever Wine loads.
KNOWN=(shcore.dll shlwapi.dll shell32.dll ole32.dll oleaut32.dll combase.dll comctl32.dll uxtheme.dll
       propsys.dll cfgmgr32.dll windows.storage.dll profapi.dll cryptbase.dll sspicli.dll version.dll
       dwmapi.dll imm32.dll msctf.dll kernel.appcore.dll bcryptprimitives.dll)

install_spy
demo_install_v1 "$WINEPREFIX" "$V1" || exit 1
folder="$(wine_unix "$INSTALL_DIR")"

# update_with_browser: an update to its completion page, the folder browser opened and
# cancelled on the way (it loads the shell).
update_with_browser() {
  start_update
  drive "wait $UPDATE_TITLE 15000" "click $F_DIRSELECT" "wait フォルダーの参照 5000" "sleep 500" \
    "click 2" "gone フォルダーの参照 5000" >/dev/null
  press_next
  applier_final_box "ファイルアップデート"
  press_applier_ok "ファイルアップデート"
  expect_end_page
  finish_end_page
}

echo "== the libraries the wizard and the applier load"
trace_from=$(($(wc -l <"$WINE_LOG") + 1))
export WINEDEBUG=+loaddll
update_with_browser
export WINEDEBUG=-all
expect_updated "$folder"
mapfile -t loaded < <(tail -n +"$trace_from" "$WINE_LOG" | sed -n 's/.*Loaded L"\([^"]*\)".*/\1/p' |
  sed 's/.*\\//' | tr 'A-Z' 'a-z' | grep '\.dll$' | sort -u)
echo "  loaded: ${loaded[*]}"
check "the trace names the libraries loaded" test "${#loaded[@]}" -ge 5
names=($(printf '%s\n' "${loaded[@]}" "${KNOWN[@]}" | sort -u))

echo "== ${#names[@]} libraries planted beside Update.exe and in the install folder"
rm -f "$(wine_ci "$folder/Lunder19.EXE")"
cp "$V1" "$folder/Lunder19.EXE"
rm -rf "$WINE_C/planted-ran"
mkdir -p "$WINE_C/Download"
for name in "${names[@]}"; do
  cp "$PLANTED" "$WINE_C/Download/$name"
  cp "$PLANTED" "$folder/$name"
done
update_with_browser
ran="$(ls "$WINE_C/planted-ran" 2>/dev/null | tr '\n' ' ')"
check_eq "no planted library ran" "" "$ran"
for name in "${names[@]}"; do rm -f "$WINE_C/Download/$name" "$folder/$name"; done
expect_updated "$folder"

wine_done
