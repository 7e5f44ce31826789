#!/usr/bin/env bash
# The completion page, as a successful update shows it (here through the test build's
# hook): modal over the disabled folder page, captioned with the update's title, its
# two-line heading and texts, "完了" focused and "キャンセル" greyed. Enter finishes it and
# ends the wizard; Esc does nothing; the disabled button takes neither the focus nor clicks;
# the close box ends the wizard as "完了" does.
source "$(dirname "$0")/common.sh"
wine_init wizard/end_page 120

export WIZARD_TEST_END_PAGE=1
no_uninstall_key
start_wizard Update-test.exe
# The completion page lies above the folder page, which has the same caption.
check "the completion page comes up over the folder page" wait_windows "#32770" "$UPDATE_TITLE" 2
drive "wait $UPDATE_TITLE 1000" caption "item $E_LABEL1" "item $E_LABEL4" \
  "item $E_LABEL2" "item $E_LABEL3" "item $E_LABEL5" "item $E_LABEL6" "item $E_NEXT" "item $E_CANCEL" focus \
  "rect $E_NEXT" "rect $E_CANCEL" "rect $E_PANEL1" "rect $E_LABEL1" "rect $E_LABEL4" "rect $E_LABEL2" \
  "rect $E_LABEL3" "rect $E_LABEL5" "rect $E_LABEL6" list >/dev/null
check_line "page caption is the update title" "caption: $UPDATE_TITLE"
check_line "heading, first line" "item $E_LABEL1: $UPDATE_TITLE"
check_line "heading, second line" "item $E_LABEL4: が完了しました。"
check_line "done text" "item $E_LABEL2: Tesbrin 所得税平成19年度版Ver2.0アップデート は完了しました。"
check_line "after-update text" "item $E_LABEL3: アップデート後はVer2.0となります。Tesbrin 所得税平成19年度版の"
check_line "help pointer" "item $E_LABEL5: [ヘルプ(H)]-[バージョン情報(A)]でご確認ください。"
check_line "how to end" "item $E_LABEL6: 完了ボタンを押すと終了します。"
check_line "finish button" "item $E_NEXT: 完了"
check_line "greyed cancel button" "item $E_CANCEL: キャンセル"
check_line "the focus starts on 完了" "focus: id=$E_NEXT class=Button text=\"完了\""
check_line "NextButton" "rect $E_NEXT: 432 272 75 25"
check_line "CancelButton" "rect $E_CANCEL: 520 272 75 25"
check_line "Panel1" "rect $E_PANEL1: 8 256 590 3"
for spec in "$E_LABEL1 8 32" "$E_LABEL4 392 61" "$E_LABEL2 96 104" "$E_LABEL3 96 120" "$E_LABEL5 96 136" "$E_LABEL6 96 152"; do
  set -- $spec
  check "label $1 at $2,$3" grep -q "^rect $1: $2 $3 [0-9]* [0-9]*$" <<<"$DRIVEN"
done
check "both pages are visible" test "$(grep -c "^window: #32770 \"$UPDATE_TITLE\" visible=1" <<<"$DRIVEN")" = 2
shot end-page

drive "wait $UPDATE_TITLE 1000" "enabled" "style $E_CANCEL" >/dev/null
check_line "the completion page is enabled" "enabled: 1"
check "the cancel button is disabled" grep -qE "^style: 0x[0-9A-F]*[8-9A-F][0-9A-F]{6} " <<<"$DRIVEN"

echo "== Tab stays on 完了; Esc and a click on the greyed button do nothing"
drive "wait $UPDATE_TITLE 1000" "key TAB" "sleep 200" focus "key ESCAPE" "sleep 300" "click $E_CANCEL" "sleep 300" \
  focus list >/dev/null
check "Tab does not reach the disabled button" test "$(grep -c "^focus: id=$E_NEXT " <<<"$DRIVEN")" = 2
check "the page is still shown after Esc and the click" \
  test "$(grep -c "^window: #32770 \"$UPDATE_TITLE\" visible=1" <<<"$DRIVEN")" = 2
check "the wizard still runs" kill -0 "$wizard"

echo "== Enter finishes the page and ends the wizard"
drive "wait $UPDATE_TITLE 1000" "key RETURN" >/dev/null
expect_exit "Enter on 完了"

echo "== the close box ends the wizard as 完了 does"
start_wizard Update-test.exe
wait_windows "#32770" "$UPDATE_TITLE" 2
drive "wait $UPDATE_TITLE 1000" "item $E_NEXT" sysclose >/dev/null
check_line "the close box went to the completion page" "item $E_NEXT: 完了"
expect_exit "close box of the completion page"

wine_done
