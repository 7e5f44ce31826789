#!/usr/bin/env bash
# On a screen of 120 pixels per inch the pages keep their proportions: every declared
# position and size is scaled by 120/96 (the folder box at 100,230 and 561×25, the labels'
# corners), and the fonts grow with them (see the screenshot).
source "$(dirname "$0")/common.sh"
wine_init wizard/dpi 120

wiz_reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d 120 /f
wiz_reg add 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' /v LogPixels /t REG_DWORD /d 120 /f
no_uninstall_key
start_wizard
drive "wait $UPDATE_TITLE 15000" "rect $F_DIREDIT" "rect $F_DIRSELECT" "rect $F_PANEL1" "rect $F_NEXT" \
  "rect $F_CANCEL" "rect $F_LABEL4" "rect $F_LABEL1" >/dev/null
check_line "DirEdit scaled" "rect $F_DIREDIT: 100 230 561 25"
check_line "DirSelectButton scaled" "rect $F_DIRSELECT: 570 260 94 31"
check_line "Panel1 scaled" "rect $F_PANEL1: 10 320 738 4"
check_line "NextButton scaled" "rect $F_NEXT: 540 340 94 31"
check_line "CancelButton scaled" "rect $F_CANCEL: 650 340 94 31"
check "heading label at 10,40" grep -q "^rect $F_LABEL4: 10 40 " <<<"$DRIVEN"
check "folder label at 90,210" grep -q "^rect $F_LABEL1: 90 210 " <<<"$DRIVEN"
shot folder-page-120dpi
cancel_wizard "at 120 DPI"

wine_done
