#!/usr/bin/env bash
# What the user sees: each wrong folder, a missing program and a running application stop
# the run with a plain message, and the page stays open with the folder as the run used it
# (a backslash of its own appended: also after "表", whose second byte is 0x5C; an empty box
# becomes "\", the root of the current drive). A missing cmd.exe ends the run in the
# two-line "Exec Error" box (the error box's "." after the command's last letter); the
# page stays open after it, and nothing was written into the install folder.
source "$(dirname "$0")/common.sh"
wine_init update/early_stops 180

install_spy
demo_install_v1 "$WINEPREFIX" "$V1" || exit 1
folder="$(wine_unix "$INSTALL_DIR")"
mkdir -p "$WINE_C/empty" "$WINE_C/sub/Lunder19.EXE"

start_update

echo "== a folder that does not exist"
set_folder 'C:\nowhere'
press_next
expect_message "missing folder" 'フォルダ C:\nowhere\ が存在しません。フォルダを指定しなおしてください。'
expect_folder "missing folder" 'C:\nowhere\'

echo "== a missing folder whose name ends in 表 (95 5C)"
set_folder 'C:\データ表'
press_next
expect_message "folder ending in 表" 'フォルダ C:\データ表\ が存在しません。フォルダを指定しなおしてください。'
expect_folder "folder ending in 表" 'C:\データ表\'

echo "== a folder without the program"
set_folder 'C:\empty\'
press_next
expect_message "no program" "$MISSING_SYSTEM_TEXT"
expect_folder "no program" 'C:\empty\'

echo "== a sub-folder named Lunder19.EXE is not the program"
set_folder 'C:\sub'
press_next
expect_message "sub-folder named like the program" "$MISSING_SYSTEM_TEXT"
expect_folder "sub-folder named like the program" 'C:\sub\'

echo "== an empty box: the root of the current drive (C:, the wizard's folder is C:\Download)"
set_folder ''
press_next
expect_message "empty box" "$MISSING_SYSTEM_TEXT"
expect_folder "empty box" '\'
shot early-stop-empty-box

echo "== the application is running"
wine_bg app "$INSTALL_DIR\\Lunder19.EXE"
drive "wait Tesbrin 所得税平成19年度版 Ver1.0 20000" >/dev/null
set_folder "$INSTALL_DIR\\"
press_next
# The two lines are joined by a carriage return alone; the driver writes it as \r.
expect_message "application running" 'アプリケーションが起動されています。\r終了してからインストールしてください。'
expect_folder "application running" "$INSTALL_DIR\\"
drive "wait Tesbrin 所得税平成19年度版 Ver1.0 2000" close >/dev/null
wine_wait "$app" 20
check_missing "no cacls call before any of these stops" "$WINE_C/spy-cacls.log"

echo "== cmd.exe cannot be started"
mv "$WINE_C/windows/system32/cmd.exe" "$WINE_C/windows/system32/cmd.exe.away"
press_next
expect_error_box "no cmd.exe" 'Exec Error2\r\ncmd.exe /d /c cacls "C:\TESBWIN\LUNDER19" /T /E /G "Authenticated Users":F.'
mv "$WINE_C/windows/system32/cmd.exe.away" "$WINE_C/windows/system32/cmd.exe"
shot exec-error-after
check "the wizard still runs" kill -0 "$wizard"
expect_folder "no cmd.exe" "$INSTALL_DIR\\"
check_missing "no answer file" "$WINE_C/Download/yes.txt"
check_missing "no cacls call" "$WINE_C/spy-cacls.log"

echo "== nothing was written into the install folder"
check_same_file "the program is untouched" "$V1" "$folder/Lunder19.EXE"
check_missing "no applier file" "$folder/Lunder19Patch.EXE"
check_missing "no backup" "$folder/Lunder19.OLD"
cancel_wizard "Cancel after the stops"

wine_done
