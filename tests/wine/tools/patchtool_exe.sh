#!/usr/bin/env bash
# What the vendor sees: patchtool.exe run on Windows (here: Wine) makes, inspects, verifies,
# packs and applies a patch between the demo program's two versions. Its patches are the
# native tool's byte for byte in all three formats and with two old versions; its redirected
# output is the native tool's UTF-8 bytes, and a console shows the same text; Japanese
# arguments and file names arrive whole; the applier's run rebuilds Ver2.0 in a folder with
# a Japanese name and refuses a second run; bad input ends with one clear line and a
# non-zero exit code.
export TZ=Asia/Tokyo
source "$(dirname "$0")/../harness.sh"
wine_init tools/patchtool_exe 240

TOOL="$OUT_BIN/patchtool.exe"
NATIVE="${PATCHTOOL:-$NATIVE_BIN/patchtool}"
v1="$OUT_BIN/demo/v1/Lunder19.EXE"
v11="$OUT_BIN/demo/v1.1/Lunder19.EXE"
v2="$OUT_BIN/demo/v2/Lunder19.EXE"
for f in "$TOOL" "$NATIVE" "$v1" "$v11" "$v2" "$OUT_BIN/applier.exe"; do
  [ -f "$f" ] || { echo "missing $f (make build)" >&2; exit 1; }
done

# tool NAME ARGS...: patchtool.exe in the working folder; standard output into NAME.out,
# standard error into NAME.err, the exit code into RC.
tool() {
  local name="$1"
  shift
  env ${WINE_LOCPATH:+LOCPATH="$WINE_LOCPATH"} LC_ALL="$WINE_RUN_LOCALE" WINEDLLOVERRIDES="$WINE_OVERRIDES" \
    wine "$TOOL" "$@" >"$out/$name.out" 2>"$out/$name.err" </dev/null
  RC=$?
}
# The same command of the native tool (NAME.native.out).
native() {
  local name="$1"
  shift
  "$NATIVE" "$@" >"$out/$name.native.out" 2>"$out/$name.native.err"
}

out="$WINE_WORK/out"
mkdir -p "$out"
# Inputs under drive C with Japanese names: the wide command line and the wide file calls
# must carry them.
work="$WINE_C/作業"
mkdir -p "$work"
cp "$v1" "$work/旧版.exe"
cp "$v11" "$work/旧版11.exe"
cp "$v2" "$work/新版.exe"
cd "$work" || exit 1
entry=(--name Lunder19.exe --description "アップデート Ver1.0⇒2.0" --stamp "2008-01-30 16:48:09")

# make, all three formats and two old versions: the native tool's bytes.
for format in 1 2 3; do
  tool make$format make 旧版.exe 新版.exe -o exe$format.patch --format $format "${entry[@]}"
  check_eq "make --format $format ends with exit code 0" 0 "$RC"
  native make$format make 旧版.exe 新版.exe -o native$format.patch --format $format "${entry[@]}"
  check_same_file "format $format: patchtool.exe's patch is the native one byte for byte" native$format.patch exe$format.patch
done
tool several make --old 旧版.exe --old 旧版11.exe 新版.exe -o several.patch --format 2 "${entry[@]}"
check_eq "make --old A --old B ends with exit code 0" 0 "$RC"
native several make --old 旧版.exe --old 旧版11.exe 新版.exe -o several-native.patch --format 2 "${entry[@]}"
check_same_file "two old versions: the native chain byte for byte" several-native.patch several.patch
check "make prints the size line of each entry" grep -q "^entry 2: .* from 旧版11.exe" "$out/several.out"

# info: the very bytes the native tool prints (UTF-8, "\n" line ends).
cp exe2.patch same.patch
tool info info same.patch
native info info same.patch
check_eq "info ends with exit code 0" 0 "$RC"
check "info prints what the native tool prints, byte for byte" cmp "$out/info.native.out" "$out/info.out"
check "info shows the description in UTF-8" grep -qx "  description     アップデート Ver1.0⇒2.0" "$out/info.out"
# To a console (here a terminal that script(1) holds) the text goes out through
# WriteConsoleW, and Wine shows it in the terminal's UTF-8: the same characters.
command=$(printf '%q ' env ${WINE_LOCPATH:+LOCPATH="$WINE_LOCPATH"} LC_ALL="$WINE_RUN_LOCALE" \
  WINEDLLOVERRIDES="$WINE_OVERRIDES" wine "$TOOL" info same.patch)
script -qec "$command" "$out/console.txt" </dev/null >/dev/null 2>&1
check_eq "info to a console ends with exit code 0" 0 "$?"
check "info to a console shows the description" grep -q "  description     アップデート Ver1.0⇒2.0" "$out/console.txt"

# verify: against the old version, and against a file that is not it.
tool verify verify several.patch 旧版11.exe
check_eq "verify of the chain against Ver1.1 ends with exit code 0" 0 "$RC"
check "verify names the entry that applies" grep -q "1 of 2 update entries apply" "$out/verify.out"
tool verify-wrong verify exe1.patch 新版.exe
check_eq "verify against the new file ends with exit code 1" 1 "$RC"

# pack onto the applier: the native tool's payload.
cp "$OUT_BIN/applier.exe" applier.exe
tool pack pack applier.exe exe2.patch -o Lunder19Patch.EXE
native pack pack applier.exe exe2.patch -o native-payload.exe
check_eq "pack ends with exit code 0" 0 "$RC"
check_same_file "the payload is the native one byte for byte" native-payload.exe Lunder19Patch.EXE

# apply: the applier's run in a folder with a Japanese name whose second byte is 0x5C.
dir="$WINE_C/表示ソフト"
mkdir -p "$dir"
cp "$v1" "$dir/Lunder19.EXE"
cp Lunder19Patch.EXE "$dir/"
# Where the ANSI code page is not 932 (1252 under C.UTF-8) the run's code page 932 paths
# would name other files: refused before anything is touched.
env LC_ALL=C.UTF-8 WINEDLLOVERRIDES="$WINE_OVERRIDES" wine "$TOOL" apply 'C:\表示ソフト\Lunder19Patch.EXE' \
  >"$out/apply-1252.out" 2>"$out/apply-1252.err" </dev/null
check_eq "apply under code page 1252 ends with exit code 1" 1 "$?"
check "it names the code page" grep -q "this system's ANSI code page is 1252, not 932" "$out/apply-1252.err"
check_same_file "the program is still Ver1.0" "$v1" "$dir/Lunder19.EXE"
check_missing "no backup is made" "$dir/Lunder19.OLD"
tool apply apply 'C:\表示ソフト\Lunder19Patch.EXE' --verbose
check_eq "apply ends with exit code 0" 0 "$RC"
check "apply prints the completion box" grep -qx "ファイルアップデート: 正常終了" "$out/apply.out"
check "apply prints the dialog's target line" grep -qxF '[900] C:\表示ソフト\Lunder19.exe' "$out/apply.out"
check_same_file "the program is Ver2.0 byte for byte" "$v2" "$dir/Lunder19.EXE"
check_same_file "Ver1.0 is kept as Lunder19.OLD" "$v1" "$dir/Lunder19.OLD"
check_mtime "stamped 2008-01-30 16:48:09 local time" "2008-01-30 16:48:09" "$dir/Lunder19.EXE"
check_missing "no UPDATE.TMP is left" "$dir/UPDATE.TMP"
tool apply-again apply 'C:\表示ソフト\Lunder19Patch.EXE'
check_eq "a second apply ends with exit code 1" 1 "$RC"
check "it names the checksum mismatch" grep -q "^patchtool: error: the update did not complete: CRCが一致しません" "$out/apply-again.err"
check_same_file "the program is still Ver2.0" "$v2" "$dir/Lunder19.EXE"

# Bad input: one clear line, no output file.
tool no-cp932 make 旧版.exe 新版.exe -o bad.patch --description "更新 😀"
check_eq "a description without a code page 932 form ends with exit code 1" 1 "$RC"
check "the refusal names the text" grep -q "has no code page 932 form" "$out/no-cp932.err"
check_missing "no patch is written" "$work/bad.patch"
tool missing info 無い.patch
check_eq "a missing file ends with exit code 1" 1 "$RC"
check "the refusal names the file" grep -q "^patchtool: error: cannot open FILE 無い.patch: " "$out/missing.err"
tool unknown frobnicate
check_eq "an unknown command ends with exit code 2" 2 "$RC"

wine_done
