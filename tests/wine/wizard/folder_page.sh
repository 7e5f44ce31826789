#!/usr/bin/env bash
# What the user sees first: the folder page, captioned with the update's title, its
# heading, the instruction and version lines, the folder label and the proposed folder
# (without an uninstall entry the default folder on the Windows drive), the buttons in their
# declared places; the taskbar entry is the application title. The keyboard works as
# declared: the focus starts in the folder box, Tab walks the buttons in order, Alt+S, Alt+C
# and Alt+N reach the folder box, the browser and Next also from inside the folder box, the
# keyboard's way into the folder box selects its whole text and a click does not, Enter
# presses Next (the run's missing-folder message), Esc and Cancel and the close box end the wizard.
source "$(dirname "$0")/common.sh"
wine_init wizard/folder_page 150

echo "== the program file: manifest asking for administrator rights, icon MAINICON"
resources="$("$WINE_MINGW-windres" -i "$OUT_BIN/Update.exe" -O rc 2>>"$WINE_LOG")"
check "manifest resource 1" grep -qx '1 24 /\* RT_MANIFEST \*/' <<<"$resources"
check "icon group MAINICON" grep -qx '"MAINICON" 14 /\* RT_GROUP_ICON \*/' <<<"$resources"
check "one icon image" test "$(grep -c ' 3 /\* RT_ICON \*/' <<<"$resources")" = 1
# The x86_64 twin names its own processor architecture.
arch=X86
[ "$WINE_BITS" = 64 ] && arch=amd64
check "manifest identity" grep -qaF "<assemblyIdentity version=\"1.0.0.0\" processorArchitecture=\"$arch\" name=\"Tesbrin\" type=\"win32\"/>" "$OUT_BIN/Update.exe"
check "manifest execution level" grep -qaF '<requestedExecutionLevel level="requireAdministrator" uiAccess="false"/>' "$OUT_BIN/Update.exe"
check "no common-controls dependency" bash -c "! grep -qa dependentAssembly '$OUT_BIN/Update.exe'"

no_uninstall_key
start_wizard
drive "wait $UPDATE_TITLE 15000" caption "item $F_LABEL4" "item $F_LABEL2" "item $F_LABEL3" "item $F_LABEL5" \
  "item $F_LABEL1" "item $F_DIREDIT" "item $F_DIRSELECT" "item $F_NEXT" "item $F_CANCEL" focus \
  "style" list
check_line "page caption is the update title" "caption: $UPDATE_TITLE"
check_line "heading" "item $F_LABEL4: $UPDATE_TITLE"
check_line "instruction, first line" "item $F_LABEL2: Tesbrin 所得税平成19年度版Ver2.0のアップデートを行います。システムのインストールされている"
check_line "instruction, second line" "item $F_LABEL3: フォルダを指定して [次へ] を押してください。"
check_line "version line with ideographic spaces" "item $F_LABEL5: アップデート対象バージョン　：　Ver1.0"
check_line "folder label" "item $F_LABEL1: Tesbrin 所得税平成19年度版Ver1.0の入っているフォルダ(&S)"
check_line "no uninstall entry: default folder" "item $F_DIREDIT: $DEFAULT_FOLDER"
check_line "browse button" "item $F_DIRSELECT: 変更(&C)"
check_line "next button" "item $F_NEXT: 次へ→(&N)"
check_line "cancel button" "item $F_CANCEL: キャンセル"
check_line "the focus starts in the folder box" "focus: id=$F_DIREDIT class=Edit text=\"$DEFAULT_FOLDER\""
check "the application window carries the title" grep -q "^window: FormsApplication \"$APP_TITLE\" visible=1" <<<"$DRIVEN"
check "no page has a taskbar entry of its own (owned windows)" test "$(drive "wait $UPDATE_TITLE 2000" owner | grep -c "owner: \"$APP_TITLE\"")" = 1
read -r style ex_style < <(sed -n 's/^style: //p' <<<"$DRIVEN")
check "fixed dialog frame: no sizing border, no minimise or maximise box ($style)" \
  test $((style & 0x00070000)) = $((0x00000000))
check "fixed dialog frame: dialog border ($ex_style)" test $((ex_style & 0x1)) = 1
shot folder-page

echo "== layout at 96 DPI: the declared rectangles"
drive "wait $UPDATE_TITLE 2000" "rect $F_DIREDIT" "rect $F_DIRSELECT" "rect $F_PANEL1" "rect $F_NEXT" \
  "rect $F_CANCEL" "rect $F_LABEL4" "rect $F_LABEL2" "rect $F_LABEL3" "rect $F_LABEL5" "rect $F_LABEL1" >/dev/null
check_line "DirEdit" "rect $F_DIREDIT: 80 184 449 20"
check_line "DirSelectButton" "rect $F_DIRSELECT: 456 208 75 25"
check_line "Panel1" "rect $F_PANEL1: 8 256 590 3"
check_line "NextButton" "rect $F_NEXT: 432 272 75 25"
check_line "CancelButton" "rect $F_CANCEL: 520 272 75 25"
# Labels size themselves to their text in the font at hand: their corners are declared,
# their height is the font's line height.
for spec in "$F_LABEL4 8 32" "$F_LABEL2 24 72" "$F_LABEL3 24 88" "$F_LABEL5 40 112" "$F_LABEL1 72 168"; do
  set -- $spec
  check "label $1 at $2,$3" grep -q "^rect $1: $2 $3 [0-9]* [0-9]*$" <<<"$DRIVEN"
done
heading_height="$(sed -n "s/^rect $F_LABEL4: [0-9]* [0-9]* [0-9]* //p" <<<"$DRIVEN")"
line_height="$(sed -n "s/^rect $F_LABEL2: [0-9]* [0-9]* [0-9]* //p" <<<"$DRIVEN")"
check "the heading is set larger than the text ($heading_height > $line_height)" test "$heading_height" -gt "$line_height"

echo "== Tab order: browse, next, cancel, back to the folder box"
drive "wait $UPDATE_TITLE 2000" "key TAB" "sleep 200" focus "key TAB" "sleep 200" focus "key TAB" "sleep 200" focus \
  "key TAB" "sleep 200" focus >/dev/null
check_eq "tab order" "$(printf 'focus: id=%s\n' $F_DIRSELECT $F_NEXT $F_CANCEL $F_DIREDIT)" \
  "$(grep -o '^focus: id=[0-9]*' <<<"$DRIVEN")"

echo "== mnemonics: S focuses the folder box through its label, C opens the browser"
# With a button focused, the dialog manager takes a plain letter as the mnemonic, just as
# Alt+letter anywhere; the driver posts plain keys only.
drive "wait $UPDATE_TITLE 2000" "key TAB" "key TAB" "key TAB" "sleep 200" focus "key 0x53" "sleep 300" focus >/dev/null
check_line "a button has the focus" "focus: id=$F_CANCEL class=Button text=\"キャンセル\""
check_line "S moved the focus to the folder box" "focus: id=$F_DIREDIT class=Edit text=\"$DEFAULT_FOLDER\""
drive "wait $UPDATE_TITLE 2000" "key TAB" "sleep 200" "key 0x43" "wait フォルダーの参照 5000" "click 2" \
  "gone フォルダーの参照 5000" "wait $UPDATE_TITLE 2000" "key TAB" "key TAB" "key TAB" "sleep 200" focus >/dev/null
check_line "C opened the folder browser" "caption: フォルダーの参照"
check_line "back in the folder box" "focus: id=$F_DIREDIT class=Edit text=\"$DEFAULT_FOLDER\""

echo "== a click into the folder box puts the caret there; Alt+S selects the whole folder"
# The click is posted to the box: its own click handling, which is where a real click
# gives it the focus, without the window activation that comes first.
drive "wait $UPDATE_TITLE 2000" "key TAB" "sleep 200" focus "mouseclick $F_DIREDIT 10 8" "sleep 300" focus \
  "sel $F_DIREDIT" "key TAB" "sleep 200" "syskey S" "sleep 300" focus "sel $F_DIREDIT" >/dev/null
check "the browse button has the focus before the click" \
  test "$(grep -m1 '^focus: ' <<<"$DRIVEN")" = "focus: id=$F_DIRSELECT class=Button text=\"変更(&C)\""
check "the click moved the focus to the folder box" \
  test "$(grep '^focus: ' <<<"$DRIVEN" | sed -n 2p)" = "focus: id=$F_DIREDIT class=Edit text=\"$DEFAULT_FOLDER\""
read -r sel_start sel_end < <(grep -m1 "^sel $F_DIREDIT: " <<<"$DRIVEN" | cut -d' ' -f3-)
check "the click selects nothing (selection $sel_start $sel_end)" test "${sel_start:-x}" = "${sel_end:-y}"
check "Alt+S moved the focus back to the folder box" \
  test "$(grep '^focus: ' <<<"$DRIVEN" | sed -n 3p)" = "focus: id=$F_DIREDIT class=Edit text=\"$DEFAULT_FOLDER\""
check "Alt+S selected the whole folder" \
  test "$(grep "^sel $F_DIREDIT: " <<<"$DRIVEN" | sed -n 2p)" = "sel $F_DIREDIT: 0 ${#DEFAULT_FOLDER}"

echo "== Alt+C and Alt+N from inside the folder box: browser and Next, no letter typed"
drive "wait $UPDATE_TITLE 2000" "syskey C" "wait フォルダーの参照 5000" "click 2" "gone フォルダーの参照 5000" \
  "wait $UPDATE_TITLE 2000" "item $F_DIREDIT" >/dev/null
check_line "Alt+C opened the folder browser" "caption: フォルダーの参照"
check_line "the folder box is unchanged after the browser" "item $F_DIREDIT: $DEFAULT_FOLDER"
drive "wait $UPDATE_TITLE 2000" "syskey S" "sleep 200" focus "syskey N" >/dev/null
check_line "the focus is in the folder box before Alt+N" "focus: id=$F_DIREDIT class=Edit text=\"$DEFAULT_FOLDER\""
check "Alt+N pressed Next: a plain message comes up" wait_windows "#32770" "$APP_TITLE" 1
drive "wait #32770 5000" "item 100" "key ESCAPE" "sleep 500" list "wait $UPDATE_TITLE 2000" "item $F_DIREDIT" >/dev/null
check_line "Alt+N: the missing-folder message" "item 100: フォルダ $DEFAULT_FOLDER が存在しません。フォルダを指定しなおしてください。"
check "Alt+N: Esc closes the message" test "$(grep -c "^window: #32770 \"$APP_TITLE\"" <<<"$DRIVEN")" = 0
check_line "Alt+N typed nothing into the folder box" "item $F_DIREDIT: $DEFAULT_FOLDER"

echo "== Enter in the folder box presses Next: the run stops at the missing default folder"
# The application window carries the same title, so the message is found as the topmost
# dialog and counted in the window list.
drive "wait $UPDATE_TITLE 2000" "key RETURN" >/dev/null
check "a plain message comes up" wait_windows "#32770" "$APP_TITLE" 1
drive "wait #32770 5000" "item 100" "item 101" children list >/dev/null
check_line "plain message caption" "caption: $APP_TITLE"
check_line "plain message text" "item 100: フォルダ $DEFAULT_FOLDER が存在しません。フォルダを指定しなおしてください。"
check_line "plain message has one OK button" "item 101: OK"
check "plain message has no icon: one label and one button" test "$(grep -c '^child: ' <<<"$DRIVEN")" = 2
check "plain message is a dialog of the wizard" grep -q "^window: #32770 \"$APP_TITLE\" visible=1" <<<"$DRIVEN"
shot plain-message
drive "wait $UPDATE_TITLE 2000" enabled >/dev/null
check_line "the folder page is disabled behind the message" "enabled: 0"
drive "wait #32770 2000" "key ESCAPE" "sleep 500" list "wait $UPDATE_TITLE 2000" enabled focus >/dev/null
check "Esc closes the plain message" test "$(grep -c "^window: #32770 \"$APP_TITLE\"" <<<"$DRIVEN")" = 0
check_line "the folder page is enabled again" "enabled: 1"
check_line "the focus is back in the folder box" "focus: id=$F_DIREDIT class=Edit text=\"$DEFAULT_FOLDER\""

echo "== Enter on a focused button presses that button, not the default one"
drive "wait $UPDATE_TITLE 2000" "key TAB" "sleep 200" focus "key RETURN" "wait フォルダーの参照 5000" "click 2" \
  "gone フォルダーの参照 5000" >/dev/null
check_line "the browse button has the focus" "focus: id=$F_DIRSELECT class=Button text=\"変更(&C)\""
check_line "Enter on it opened the folder browser" "caption: フォルダーの参照"

echo "== Esc ends the wizard, also with the focus on a button"
drive "wait $UPDATE_TITLE 2000" "sleep 300" focus "key ESCAPE" >/dev/null
check_line "the focus is still on the browse button" "focus: id=$F_DIRSELECT class=Button text=\"変更(&C)\""
expect_exit "Esc"

echo "== Cancel ends the wizard"
start_wizard
cancel_wizard "Cancel"

echo "== the close box ends the wizard"
start_wizard
drive "wait $UPDATE_TITLE 15000" sysclose >/dev/null
expect_exit "close box"

wine_done
