#!/usr/bin/env bash
# The harness and the UI driver themselves: programs under test must see code page 932,
# Japanese commands and answers must survive the trip through the driver, and a folder
# named in Japanese on the Unix side must be the same folder for Windows programs.
source "$(dirname "$0")/harness.sh"
wine_init harness/check 60

drive acp "echo 表示ソフト"
check_line "programs see code page 932" "acp: 932"
check_line "Japanese commands reach the driver and come back" "表示ソフト"

mkdir -p "$WINE_C/表示ソフト"
out="$(wine_cmd cmd /c 'if exist C:\表示ソフト\nul echo found')"
check_eq "a Unix folder named in Japanese is the same folder under Wine" found "$(tr -d '\r' <<<"$out")"

drive "wait NoSuchWindow 200"
check_eq "waiting for a missing window fails the driver" 1 "$?"

wine_done
