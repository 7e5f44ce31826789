#!/usr/bin/env bash
# make-update.sh OLD NEW BUILD_DIR: the vendor's whole job in one command. Makes the patch
# data that rebuilds NEW from OLD, packs it onto the built applier and builds an Update.exe
# that carries that applier as its payload. OLD may name several old versions separated by
# spaces ("v1/Lunder19.EXE v11/Lunder19.EXE"; a path with spaces in quotes, or OLD naming
# one existing file whole): the patch data then holds one entry per old version, each
# skipped when its old file is not the installed one.
#
# With OLD_DIR and NEW_DIR set (and OLD and NEW empty) the update covers a whole product
# folder: every file that changed, was added or is gone, in sub-folders too (patchtool make
# --old-dir); OLD_DIR may name several old releases as OLD does.
#
#   BUILD_DIR/out/update.patch       the patch data
#   BUILD_DIR/out/Lunder19Patch.EXE  the applier with the patch data appended (named by
#                                    the profile's PatchExeName)
#   BUILD_DIR/out/Update.exe         the wizard to ship
#
# PROFILE=file picks the product (docs/profile.md; default profiles/lunder19.ini): the
# wizard's names and texts, the entry's target name (PatchTargetName, whatever OLD and NEW
# are called) and its description (PatchDescription). The stamp is NEW's last-write time
# (local time). Override them with DESCRIPTION="…" and STAMP="YYYY-MM-DD hh:mm:ss".
#
# SIGN_CERT=cert.pfx [SIGN_PASS_FILE=file] signs the finished Update.exe with Authenticode
# and checks the signature (scripts/sign-update.sh: SIGN_TIMESTAMP_URL, SIGN_CA_FILE).
#
# Needs `make build` first (BUILD_DIR/bin/patchtool and applier.exe); `make update OLD=…
# NEW=…` does both. The wizard is built in a Windows build tree of its own
# (BUILD_DIR/update-win32), so the build's own Update.exe keeps the demo payload.
#
# FORMAT=2 writes the patch in entry format 2.00 (compressed streams, docs/format-2.md), several
# times smaller for program files; FORMAT=3 writes 3.00 (docs/format-3.md) where both files
# are PE programs and it is smaller, else 2.00; the default is 1.04.
#
# ARCH=x64 makes the same update from the x86_64 twins (BUILD_DIR/bin/x64/applier.exe) in a
# tree of its own (BUILD_DIR/update-win64), into BUILD_DIR/out/x64/. The product is the
# 32-bit one; the x86_64 update serves machines and tests that run no 32-bit code.
set -euo pipefail

die() {
  echo "make-update: $*" >&2
  exit 1
}

[ $# -eq 3 ] || die "usage: make-update.sh OLD NEW BUILD_DIR (or OLD_DIR=… NEW_DIR=… make-update.sh \"\" \"\" BUILD_DIR)"
# A list of paths: one existing path taken whole, else words as the shell splits them
# (quotes keep spaces).
split_paths() {
  if [ -e "$1" ]; then
    printf '%s\n' "$1"
  else
    python3 -c 'import shlex, sys; print("\n".join(shlex.split(sys.argv[1])))' "$1" || die "cannot split the list of paths: $1"
  fi
}
folders=0
if [ -z "$1" ] && [ -z "$2" ] && [ -n "${OLD_DIR:-}" ] && [ -n "${NEW_DIR:-}" ]; then
  folders=1
  mapfile -t olds < <(split_paths "$OLD_DIR")
  new="$NEW_DIR"
else
  mapfile -t olds < <(split_paths "$1")
  new="$2"
fi
build="$3"
[ ${#olds[@]} -gt 0 ] || die "no old file given"
old="${olds[0]}"
repo="$(cd "$(dirname "$0")/.." && pwd)"
patchtool="$build/bin/patchtool"
profilegen="$build/bin/profilegen"
profile="$(realpath -m "${PROFILE:-$repo/profiles/lunder19.ini}")"
case "${ARCH:-}" in
  "") applier="$build/bin/applier.exe" out="$build/out" tree="$build/update-win32" toolchain=mingw-w64-i686 ;;
  x64) applier="$build/bin/x64/applier.exe" out="$build/out/x64" tree="$build/update-win64" toolchain=mingw-w64-x86_64 ;;
  *) die "ARCH must be x64 or unset (32-bit, the product), not \"$ARCH\"" ;;
esac

if [ "$folders" = 1 ]; then
  for each_old in "${olds[@]}"; do
    [ -d "$each_old" ] || die "the old folder $each_old does not exist or is not a folder"
  done
  [ -d "$new" ] || die "the new folder $new does not exist or is not a folder"
else
  for each_old in "${olds[@]}"; do
    [ -f "$each_old" ] || die "the old file $each_old does not exist or is not a file"
  done
  [ -f "$new" ] || die "the new file $new does not exist or is not a file"
fi
[ -x "$patchtool" ] || die "$patchtool is missing: run 'make build' first"
[ -f "$applier" ] || die "$applier is missing: run 'make build' first"
[ -x "$profilegen" ] || die "$profilegen is missing: run 'make build' first"
[ -f "$profile" ] || die "the profile $profile does not exist or is not a file"
"$profilegen" "$profile" --check || die "the profile $profile cannot be used"
# A signing that cannot work is refused before the wizard is built.
if [ -n "${SIGN_CERT:-}" ]; then
  [ -f "$SIGN_CERT" ] || die "the certificate $SIGN_CERT does not exist or is not a file"
  [ -z "${SIGN_PASS_FILE:-}" ] || [ -f "$SIGN_PASS_FILE" ] || die "the password file $SIGN_PASS_FILE does not exist or is not a file"
  command -v osslsigncode >/dev/null || die "osslsigncode is missing (Debian package osslsigncode; make deps)"
fi
target_name="$("$profilegen" "$profile" --get PatchTargetName)"
description="${DESCRIPTION:-$("$profilegen" "$profile" --get PatchDescription)}"

# The format holds sizes and offsets in 32 bits, and the applier reads each file whole with
# one 32-bit read; a payload of 2 GiB or more cannot be a resource of a 32-bit program.
four_gib=$((1 << 32))
if [ "$folders" = 0 ]; then
  for each_old in "${olds[@]}"; do
    old_size=$(stat -L -c %s "$each_old")
    [ "$old_size" -lt "$four_gib" ] || die "the old file is $old_size bytes: the patch format takes files below 4 GiB (4294967296 bytes): $each_old"
  done
  new_size=$(stat -L -c %s "$new")
  [ "$new_size" -lt "$four_gib" ] || die "the new file is $new_size bytes: the patch format takes files below 4 GiB (4294967296 bytes)"
fi

mkdir -p "$out"
patch="$out/update.patch"
payload="$out/$("$profilegen" "$profile" --get PatchExeName)"
if [ "$folders" = 1 ]; then
  # Names, descriptions and stamps come from the files themselves; the program comes first.
  make_args=(make)
  for each_old in "${olds[@]}"; do make_args+=(--old-dir "$each_old"); done
  make_args+=(--new-dir "$new" -o "$patch" --program "$("$profilegen" "$profile" --get TargetExeName)")
elif [ ${#olds[@]} -eq 1 ]; then
  make_args=(make "$old" "$new")
else
  make_args=(make)
  for each_old in "${olds[@]}"; do make_args+=(--old "$each_old"); done
  make_args+=("$new")
fi
if [ "$folders" = 0 ]; then
  make_args+=(-o "$patch" --name "$target_name" --description "$description")
  [ -n "${STAMP:-}" ] && make_args+=(--stamp "$STAMP")
fi
[ -n "${FORMAT:-}" ] && make_args+=(--format "$FORMAT")

echo "make-update: patch data for ${olds[*]} -> $new"
"$patchtool" "${make_args[@]}" || die "patchtool make failed"
"$patchtool" pack "$applier" "$patch" -o "$payload" || die "patchtool pack failed"
payload_size=$(stat -c %s "$payload")
[ "$payload_size" -lt $((1 << 31)) ] || die "the packed applier is $payload_size bytes: too large to be carried by Update.exe (below 2 GiB)"
# The payload must rebuild NEW from OLD before anything is shipped (a folder's chain was run
# over each old folder by patchtool make itself).
if [ "$folders" = 0 ]; then
  for each_old in "${olds[@]}"; do
    "$patchtool" verify "$payload" "$each_old" >/dev/null || die "the packed applier does not rebuild the new file from $each_old"
  done
fi

echo "make-update: building Update.exe with this payload (in $tree)"
cmake -S "$repo" -B "$tree" -DCMAKE_BUILD_TYPE=MinSizeRel -DOUT_BIN="$tree/bin" \
  -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/$toolchain.cmake" -DPATCHTOOL="$patchtool" \
  -DUPDATE_PAYLOAD_FILE="$payload" -DUPDATE_PROFILE="$profile" >"$tree.log" 2>&1 || die "configuring the wizard failed (see $tree.log)"
cmake --build "$tree" --target Update -j "${JOBS:-2}" >>"$tree.log" 2>&1 || die "building the wizard failed (see $tree.log)"
cp "$tree/bin/Update.exe" "$out/Update.exe"

# The wizard must carry exactly this payload.
python3 - "$out/Update.exe" "$payload" <<'PY' || die "Update.exe does not carry the packed applier"
import sys
exe, payload = open(sys.argv[1], "rb").read(), open(sys.argv[2], "rb").read()
sys.exit(0 if payload in exe else 1)
PY

# Signed last: the signature covers the whole finished wizard.
if [ -n "${SIGN_CERT:-}" ]; then
  SIGN_DESCRIPTION="${SIGN_DESCRIPTION:-$("$profilegen" "$profile" --get AppTitle)}" \
    bash "$repo/scripts/sign-update.sh" "$out/Update.exe" "$SIGN_CERT" ${SIGN_PASS_FILE:+"$SIGN_PASS_FILE"} ||
    die "Update.exe could not be signed"
fi

echo
for each_old in "${olds[@]}"; do
  if [ "$folders" = 1 ]; then
    echo "  old folder        $each_old ($(find "$each_old" -type f | wc -l) files)"
  else
    echo "  old file          $each_old ($(stat -L -c %s "$each_old") bytes)"
  fi
done
echo "  profile           $profile"
if [ "$folders" = 1 ]; then
  echo "  new folder        $new ($(find "$new" -type f | wc -l) files)"
else
  echo "  new file          $new ($new_size bytes)"
fi
echo "  patch data        $patch ($(stat -c %s "$patch") bytes)"
echo "  packed applier    $payload ($payload_size bytes)"
echo "  Update.exe        $out/Update.exe ($(stat -c %s "$out/Update.exe") bytes, sha256 $(sha256sum "$out/Update.exe" | cut -c1-16)…)"
# What the user downloads: the wizard's own bytes (everything but the payload it carries),
# the applier and the patch data packed onto it.
total=$(stat -c %s "$out/Update.exe")
applier_size=$(stat -c %s "$applier")
echo "  download          wizard $((total - payload_size)) + applier $applier_size + patch $((payload_size - applier_size)) = $total bytes"
if [ "$folders" = 1 ]; then
  "$patchtool" info "$payload" | sed -n '/^files:/,$p' | sed 's/^/  /'
else
  "$patchtool" info "$payload" | grep -E '^  (old_crc|new_crc|old_size|new_size|stamp|target_name|description) ' | sed 's/^/  /'
fi
echo "make-update: done: $out/Update.exe"
