#!/usr/bin/env bash
# What the user sees when an update is cut off: the applier (a test build that stops at a
# named point of its commit) is killed there, or the whole Windows session ends there (the
# wine server killed: a power cut as far as the programs can tell), or it is killed while
# its final box waits. The program is there after every cut, and the next Update.exe says
# "前回中断されたアップデートを完了しました。", ends on the completion page, and leaves
# Ver2.0 byte for byte with nothing of the update behind. A wizard killed while its applier
# runs leaves a finished update whose backup the next run removes, saying
# "すでにアップデートされています。"; so does a second run over an updated folder.
source "$(dirname "$0")/common.sh"
wine_init update/cut_off 420

RECOVERED_TEXT="前回中断されたアップデートを完了しました。"
UP_TO_DATE_TEXT="すでにアップデートされています。"
STOPS="$OUT_BIN/test/Lunder19Patch-stops.EXE"
[ -f "$STOPS" ] || { echo "missing $STOPS (build the Windows programs first)" >&2; exit 1; }

install_spy
demo_install_v1 "$WINEPREFIX" "$V1" || exit 1
folder="$(wine_unix "$INSTALL_DIR")"
export APPLIER_STOPPED='C:\stopped.txt'

fresh_v1() {
  rm -rf "${folder:?}"/*
  demo_install_v1 "$WINEPREFIX" "$V1" >/dev/null || exit 1
}

# cut POINT HOW: the test applier in the install folder, stopped at POINT, then cut off.
cut() {
  local point="$1" how="$2" i
  fresh_v1
  rm -f "$WINE_C/stopped.txt"
  cp "$STOPS" "$folder/Lunder19Patch.EXE"
  if [ "$point" = "final box" ]; then
    wine_bg app "$INSTALL_DIR\\Lunder19Patch.EXE"
    drive "wait ファイルアップデート 30000" >/dev/null
  else
    export APPLIER_STOP_AT="$point"
    wine_bg app "$INSTALL_DIR\\Lunder19Patch.EXE"
    unset APPLIER_STOP_AT
    for ((i = 0; i < 300; i++)); do [ -s "$WINE_C/stopped.txt" ] && break; sleep 0.1; done
  fi
  check_eq "$point, $how: the applier stopped there" "$point" \
    "$( [ "$point" = "final box" ] && echo "final box" || cat "$WINE_C/stopped.txt" 2>/dev/null)"
  if [ "$how" = kill ]; then
    wine_kill "$app"
  else
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
    wait "$app" 2>/dev/null
  fi
  rm -f "$folder/Lunder19Patch.EXE"
  check_exists "$point, $how: the program is there" "$folder/Lunder19.EXE"
}

points=("recorded 0" "kept 0" "placed 0" "committed 0" "finalized 0" "final box")
[ -n "${CUT_POINTS:-}" ] && IFS=, read -ra points <<<"$CUT_POINTS"  # by hand: CUT_POINTS="kept 0,final box"
for point in "${points[@]}"; do
  for how in kill power; do
    echo "== cut off at \"$point\" ($how)"
    cut "$point" "$how"
    start_update
    press_next
    expect_message "$point, $how: the next run" "$RECOVERED_TEXT"
    expect_end_page
    finish_end_page
    expect_updated "$folder"
    check_eq "$point, $how: no work file is left" "" "$(ls "$folder" | grep -i '^update' | tr '\n' ' ')"
  done
done

echo "== the wizard killed while its applier runs"
fresh_v1
start_update
press_next
applier_final_box "ファイルアップデート"
wine_kill "$wizard"
press_applier_ok "ファイルアップデート"
check_same_file "the applier finished the update" "$V2" "$folder/Lunder19.EXE"
check_same_file "its backup is left, the wizard being gone" "$V1" "$folder/Lunder19.OLD"
rm -f "$folder/Lunder19Patch.EXE"  # the wizard would have removed it
start_update
press_next
expect_message "the next run" "$UP_TO_DATE_TEXT"
expect_exit "after the message"
check_same_file "the program stays Ver2.0" "$V2" "$folder/Lunder19.EXE"
check_missing "the backup of the finished update is gone" "$folder/Lunder19.OLD"

echo "== a second run over an updated folder"
rm -f "$WINE_C/spy-cacls.log"
start_update
press_next
expect_message "the second run" "$UP_TO_DATE_TEXT"
expect_exit "after the message"
check_same_file "the program stays Ver2.0" "$V2" "$folder/Lunder19.EXE"
check_missing "no applier was written" "$folder/Lunder19Patch.EXE"
check_eq "cacls was not asked" "" "$(spy_log)"
wine_done
