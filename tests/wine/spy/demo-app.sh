#!/bin/bash
# The demo application that the demo update works on, as a user would see it: Ver1.0
# installed under C:\TESBWIN\LUNDER19 with its uninstall entry, its window captioned
# "Tesbrin 所得税平成19年度版 Ver1.0", the About box "バージョン情報" naming Ver1.0, the mutex
# TESBWIN_LUNDER_H19 held exactly while it runs, a second copy ending at once; Ver2.0 with
# its own caption, About text and extra "概算税額" function.
source "$(dirname "$0")/../harness.sh"
source "$REPO_DIR/demo/lib.sh"
wine_init spy/demo-app "${WINE_TIMEOUT:-120}"

V1="$OUT_BIN/demo/v1/Lunder19.EXE"
V2="$OUT_BIN/demo/v2/Lunder19.EXE"
MUTEX_PROBE='C:\probe\open_mutex.exe'
mkdir -p "$WINE_C/probe" "$WINE_C/v2"
cp "$OUT_BIN/spy/open_mutex.exe" "$WINE_C/probe/"
cp "$V2" "$WINE_C/v2/Lunder19.EXE"

# Both versions: a realistic size, and an update has something to change.
for exe in "$V1" "$V2"; do
  size=$(stat -c %s "$exe")
  [ "$size" -ge 300000 ] && [ "$size" -le 600000 ]
  _check $? "size of $(basename "$(dirname "$exe")") between 300 and 600 KB" "$size bytes"
done
! cmp -s "$V1" "$V2"
_check $? "Ver1.0 and Ver2.0 differ"

demo_install_v1 "$WINEPREFIX" "$V1"
_check $? "Ver1.0 installed"
check_same_file "installed program is Ver1.0" "$V1" "$WINE_C/TESBWIN/LUNDER19/Lunder19.EXE"
entry="$(LC_ALL=C.UTF-8 wine reg query "$DEMO_UNINSTALL_KEY" /v DisplayIcon 2>>"$WINE_LOG" | tr -d '\r')"
grep -qF 'REG_SZ    C:\TESBWIN\LUNDER19\Lunder19.EXE' <<<"$entry"
_check $? "uninstall entry DisplayIcon names the program" "$entry"

check_eq "no mutex before the start" "mutex: missing, error 2" "$(wine_cmd "$MUTEX_PROBE" "$DEMO_MUTEX" | tr -d '\r')"

caption_v1='Tesbrin 所得税平成19年度版 Ver1.0'
wine_bg app 'C:\TESBWIN\LUNDER19\Lunder19.EXE'
drive "wait $caption_v1 20000" >/dev/null
check_line "Ver1.0 main window" "caption: $caption_v1"
check_eq "mutex held while running" "mutex: exists" "$(wine_cmd "$MUTEX_PROBE" "$DEMO_MUTEX" | tr -d '\r')"
shot demo-v1-main

# A second copy finds the mutex and ends at once, leaving one main window.
wine_bg second 'C:\TESBWIN\LUNDER19\Lunder19.EXE'
wine_wait "$second" 20
_check $? "a second copy ends at once"
drive list >/dev/null
check_eq "one main window" 1 "$(grep -c "\"$caption_v1\"" <<<"$DRIVEN")"

# ヘルプ(H) → バージョン情報(A) is menu command 1002.
drive "wait $caption_v1 2000" "click 1002" "wait バージョン情報 5000" text icon >/dev/null
grep -qF 'text: Tesbrin 所得税平成19年度版\r\nVer1.0\r\n' <<<"$DRIVEN"
_check $? "About box names Ver1.0" "$DRIVEN"
check_line "About box shows the application's icon" "icon: yes"
shot demo-v1-about
drive "wait バージョン情報 2000" "click 1" "gone バージョン情報 5000" >/dev/null
_check $? "About box closes with OK"

drive "wait $caption_v1 2000" close >/dev/null
wine_wait "$app" 20 && check_eq "Ver1.0 exit code" 0 "$WINE_RC"
check_eq "mutex released after the end" "mutex: missing, error 2" \
  "$(wine_cmd "$MUTEX_PROBE" "$DEMO_MUTEX" | tr -d '\r')"

caption_v2='Tesbrin 所得税平成19年度版 Ver2.0'
wine_bg app2 'C:\v2\Lunder19.EXE'
drive "wait $caption_v2 20000" "click 1002" "wait バージョン情報 5000" text >/dev/null
grep -qF 'text: Tesbrin 所得税平成19年度版\r\nVer2.0\r\n' <<<"$DRIVEN"
_check $? "About box names Ver2.0" "$DRIVEN"
shot demo-v2-about
drive "wait バージョン情報 2000" "click 1" "gone バージョン情報 5000" \
  "wait $caption_v2 2000" "click 1003" "wait 概算税額 5000" text >/dev/null
check_line "Ver2.0's estimate" "text: 月額給与 300,000円・扶養親族 2人の源泉徴収税額は 14,861円です。"
shot demo-v2-estimate
drive "wait 概算税額 2000" "click 1" "gone 概算税額 5000" "wait $caption_v2 2000" close >/dev/null
wine_wait "$app2" 20 && check_eq "Ver2.0 exit code" 0 "$WINE_RC"

wine_done
