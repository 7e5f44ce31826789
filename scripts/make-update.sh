#!/usr/bin/env bash
# make-update.sh OLD NEW BUILD_DIR: the vendor's whole job in one command. Makes the patch
# data that rebuilds NEW from OLD, packs it onto the built applier and builds an Update.exe
# that carries that applier as its payload:
#
#   BUILD_DIR/out/update.patch       the patch data
#   BUILD_DIR/out/Lunder19Patch.EXE  the applier with the patch data appended
#   BUILD_DIR/out/Update.exe         the wizard to ship
#
# The wizard works on the installed Lunder19.EXE, so the entry's target name is always
# Lunder19.exe, whatever OLD and NEW are called; the description is the product's
# ("アップデート Ver1.0⇒2.0") and the stamp NEW's last-write time (local time). Override
# them with DESCRIPTION="…" and STAMP="YYYY-MM-DD hh:mm:ss".
#
# Needs `make build` first (BUILD_DIR/bin/patchtool and applier.exe); `make update OLD=…
# NEW=…` does both. The wizard is built in a Windows build tree of its own
# (BUILD_DIR/update-win32), so the build's own Update.exe keeps the demo payload.
set -euo pipefail

die() {
  echo "make-update: $*" >&2
  exit 1
}

[ $# -eq 3 ] || die "usage: make-update.sh OLD NEW BUILD_DIR"
old="$1" new="$2" build="$3"
repo="$(cd "$(dirname "$0")/.." && pwd)"
patchtool="$build/bin/patchtool"
applier="$build/bin/applier.exe"
out="$build/out"
tree="$build/update-win32"

[ -f "$old" ] || die "the old file $old does not exist or is not a file"
[ -f "$new" ] || die "the new file $new does not exist or is not a file"
[ -x "$patchtool" ] || die "$patchtool is missing: run 'make build' first"
[ -f "$applier" ] || die "$applier is missing: run 'make build' first"

# The format holds sizes and offsets in 32 bits, and the applier reads each file whole with
# one 32-bit read; a payload of 2 GiB or more cannot be a resource of a 32-bit program.
four_gib=$((1 << 32))
old_size=$(stat -L -c %s "$old")
new_size=$(stat -L -c %s "$new")
[ "$old_size" -lt "$four_gib" ] || die "the old file is $old_size bytes: the patch format takes files below 4 GiB (4294967296 bytes)"
[ "$new_size" -lt "$four_gib" ] || die "the new file is $new_size bytes: the patch format takes files below 4 GiB (4294967296 bytes)"

mkdir -p "$out"
patch="$out/update.patch"
payload="$out/Lunder19Patch.EXE"
make_args=(make "$old" "$new" -o "$patch" --name Lunder19.exe --description "${DESCRIPTION:-アップデート Ver1.0⇒2.0}")
[ -n "${STAMP:-}" ] && make_args+=(--stamp "$STAMP")

echo "make-update: patch data for $old -> $new"
"$patchtool" "${make_args[@]}" || die "patchtool make failed"
"$patchtool" pack "$applier" "$patch" -o "$payload" || die "patchtool pack failed"
payload_size=$(stat -c %s "$payload")
[ "$payload_size" -lt $((1 << 31)) ] || die "the packed applier is $payload_size bytes: too large to be carried by Update.exe (below 2 GiB)"
# The payload must rebuild NEW from OLD before anything is shipped.
"$patchtool" verify "$payload" "$old" >/dev/null || die "the packed applier does not rebuild the new file from the old one"

echo "make-update: building Update.exe with this payload (in $tree)"
cmake -S "$repo" -B "$tree" -DCMAKE_BUILD_TYPE=MinSizeRel -DOUT_BIN="$tree/bin" \
  -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64-i686.cmake" -DPATCHTOOL="$patchtool" \
  -DUPDATE_PAYLOAD_FILE="$payload" >"$tree.log" 2>&1 || die "configuring the wizard failed (see $tree.log)"
cmake --build "$tree" --target Update -j "${JOBS:-2}" >>"$tree.log" 2>&1 || die "building the wizard failed (see $tree.log)"
cp "$tree/bin/Update.exe" "$out/Update.exe"

# The wizard must carry exactly this payload.
python3 - "$out/Update.exe" "$payload" <<'PY' || die "Update.exe does not carry the packed applier"
import sys
exe, payload = open(sys.argv[1], "rb").read(), open(sys.argv[2], "rb").read()
sys.exit(0 if payload in exe else 1)
PY

echo
echo "  old file          $old ($old_size bytes)"
echo "  new file          $new ($new_size bytes)"
echo "  patch data        $patch ($(stat -c %s "$patch") bytes)"
echo "  packed applier    $payload ($payload_size bytes)"
echo "  Update.exe        $out/Update.exe ($(stat -c %s "$out/Update.exe") bytes, sha256 $(sha256sum "$out/Update.exe" | cut -c1-16)…)"
"$patchtool" info "$payload" | grep -E '^  (old_crc|new_crc|old_size|new_size|stamp|target_name|description) ' | sed 's/^/  /'
echo "make-update: done: $out/Update.exe"
