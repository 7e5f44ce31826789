#!/usr/bin/env bash
# Where the wizard looks for the installed application: the folder part of DisplayIcon in
# the application's uninstall entry, taken as stored (quotes, variables and an icon index
# are not cleaned up); the default folder when the entry names no folder. A value of the
# wrong type is reported at start-up in a stop box with the application title, and the page
# then comes up with its declared (empty) folder text; an empty binary value is no error.
source "$(dirname "$0")/common.sh"
wine_init wizard/registry 180

# case TYPE DATA EXPECTED-FOLDER
folder_case() {
  set_display_icon "$1" "$2"
  start_wizard
  check_eq "$1 \"$2\"" "$3" "$(folder_text)"
  cancel_wizard "$1 \"$2\""
}

folder_case REG_SZ 'C:\Program Files\Tesbrin\Lunder19.EXE' 'C:\Program Files\Tesbrin\'
folder_case REG_SZ 'Lunder19.EXE' "$DEFAULT_FOLDER"
folder_case REG_EXPAND_SZ '%ProgramFiles%\Tesbrin\Lunder19.EXE' '%ProgramFiles%\Tesbrin\'
folder_case REG_SZ '"C:\Tax Soft\Lunder19.EXE"' '"C:\Tax Soft\'
folder_case REG_SZ 'C:\TAX\Lunder19.EXE,0' 'C:\TAX\'
# The second byte of 表 is 0x5C: the folder ends at the real backslash after it.
folder_case REG_SZ 'C:\申告表\Lunder19.EXE' 'C:\申告表\'
folder_case REG_SZ '' "$DEFAULT_FOLDER"

echo "== REG_DWORD: the type error at start-up, then the page with the declared text"
set_display_icon REG_DWORD 1
start_wizard
drive "wait #32770 15000" text icon "item 2" >/dev/null
check_line "box caption is the application title" "caption: $APP_TITLE"
check_line "box text with the final period" "text: 'DisplayIcon' のデータ型が不正です."
check_line "box shows the stop icon" "icon: yes"
shot registry-type-error
drive "wait #32770 2000" "click 2" "click 1" >/dev/null
drive "wait $UPDATE_TITLE 10000" caption "item $F_LABEL4" "item $F_DIREDIT" >/dev/null
check_line "the page comes up after the box" "caption: $UPDATE_TITLE"
check_line "texts set before the error are there" "item $F_LABEL4: $UPDATE_TITLE"
check_line "the folder box keeps its declared text" "item $F_DIREDIT: "
cancel_wizard "after the type error"

echo "== REG_BINARY of size 0: no box, the default folder"
set_display_icon REG_BINARY ""
check "the value is an empty REG_BINARY" grep -qE "DisplayIcon +REG_BINARY *$" \
  <<<"$(env LC_ALL=C.UTF-8 wine reg query "$UNINSTALL_KEY" /v DisplayIcon 2>/dev/null | tr -d '\r')"
start_wizard
drive "wait $UPDATE_TITLE 15000" "item $F_DIREDIT" list >/dev/null
check_line "empty binary value: default folder" "item $F_DIREDIT: $DEFAULT_FOLDER"
check "empty binary value: no box" test "$(grep -c "^window: #32770 \"$APP_TITLE\"" <<<"$DRIVEN")" = 0
cancel_wizard "empty binary value"

wine_done
