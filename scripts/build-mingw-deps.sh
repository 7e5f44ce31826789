#!/usr/bin/env bash
# The producer's two libraries for the Windows build of patchtool: Debian ships libdivsufsort
# and libdeflate for Linux only, so they are built here for MinGW-w64 from Debian's own source
# packages (the versions the native build links, so both builds make the same patch bytes).
#
#   scripts/build-mingw-deps.sh WIDTH [CACHE]     WIDTH: i686 or x86_64
#
# Sources are fetched once into CACHE (default ~/.cache/lunder-deps), pinned by sha256; the
# static libraries and headers go to CACHE/mingw-WIDTH/{lib,include}, which the Windows
# patchtool tree searches. Idempotent: a finished prefix is kept. Nothing lands in the tree.
set -euo pipefail

width=${1:?usage: build-mingw-deps.sh i686|x86_64 [CACHE]}
case "$width" in i686|x86_64) ;; *) echo "build-mingw-deps: unknown width \"$width\" (i686 or x86_64)" >&2; exit 2 ;; esac
cache=${2:-${XDG_CACHE_HOME:-$HOME/.cache}/lunder-deps}

# file | folder in the pool | sha256 (from the source package's .dsc)
sources=(
  "libdivsufsort_2.0.1.orig.tar.bz2|libdivsufsort|55c02c86ea1763f581e0f50440008c554b8da2272129adee4ac84cb1362018bc"
  "libdeflate_1.14.orig.tar.gz|libdeflate|89e7df898c37c3427b0f39aadcf733731321a278771d20fc553f92da8d4808ac"
)

prefix=$cache/mingw-$width
stamp=$prefix/.complete-divsufsort-2.0.1-deflate-1.14
[ -f "$stamp" ] && exit 0

cc=$width-w64-mingw32-gcc-posix
command -v "$cc" >/dev/null || { echo "build-mingw-deps: $cc is missing (run scripts/install-deps.sh)" >&2; exit 1; }

# Debian's archive as apt on this machine reaches it: the ordinary client's own set-up.
debian_archive() {
  apt-get indextargets --format '$(REPO_URI)' 2>/dev/null | grep -m1 '/debian/$' && return
  sed -n -e 's|^URIs: *\([^ ]*/debian\)/\{0,1\}\( .*\)\{0,1\}$|\1/|p' \
    -e 's|^deb  *\(\[[^]]*\]  *\)\{0,1\}\([^ ]*/debian\)/\{0,1\} .*|\2/|p' \
    /etc/apt/sources.list.d/*.sources /etc/apt/sources.list 2>/dev/null | head -1
}

mkdir -p "$cache/sources"
for entry in "${sources[@]}"; do
  IFS='|' read -r file folder sum <<<"$entry"
  path=$cache/sources/$file
  if [ -f "$path" ] && ! echo "$sum  $path" | sha256sum -c --status; then rm -f "$path"; fi
  if [ ! -f "$path" ]; then
    archive=${archive:-$(debian_archive)}
    [ -n "$archive" ] || { echo "build-mingw-deps: apt names no Debian archive to fetch $file from" >&2; exit 1; }
    pool=${archive}pool/main/libd
    echo "build-mingw-deps: fetching $file"
    if ! curl -fsSL --retry 5 --retry-delay 3 --retry-all-errors --connect-timeout 20 -o "$path.part" "$pool/$folder/$file"; then
      rm -f "$path.part"
      echo "build-mingw-deps: cannot fetch $pool/$folder/$file (is Debian's archive reachable?)" >&2
      exit 1
    fi
    mv "$path.part" "$path"
  fi
  if ! echo "$sum  $path" | sha256sum -c --status; then
    echo "build-mingw-deps: $file does not have the pinned sha256 $sum; removed, try again" >&2
    rm -f "$path"
    exit 1
  fi
done

work=$(mktemp -d "$cache/build-$width.XXXXXX")
trap 'rm -rf "$work"' EXIT
rm -rf "$prefix"
mkdir -p "$prefix"
echo "build-mingw-deps: building libdivsufsort and libdeflate for $width-w64-mingw32"

# libdivsufsort with its own CMake build: static, 32-bit indexes (the native library's
# divsufsort.h), no examples.
tar -xjf "$cache/sources/libdivsufsort_2.0.1.orig.tar.bz2" -C "$work"
cmake -S "$work/libdivsufsort-2.0.1" -B "$work/divsufsort-build" -Wno-dev -Wno-deprecated \
  -DCMAKE_SYSTEM_NAME=Windows -DCMAKE_C_COMPILER="$cc" -DCMAKE_BUILD_TYPE=Release \
  -DBUILD_SHARED_LIBS=OFF -DBUILD_EXAMPLES=OFF -DCMAKE_INSTALL_PREFIX="$prefix" >"$work/divsufsort.log" 2>&1 ||
  { cat "$work/divsufsort.log" >&2; exit 1; }
cmake --build "$work/divsufsort-build" --target install >>"$work/divsufsort.log" 2>&1 ||
  { cat "$work/divsufsort.log" >&2; exit 1; }

# libdeflate with its own Makefile: the static library only.
tar -xzf "$cache/sources/libdeflate_1.14.orig.tar.gz" -C "$work"
make -C "$work/libdeflate-1.14" -j2 CC="$cc" AR="$width-w64-mingw32-ar" CFLAGS=-O2 libdeflatestatic.lib \
  >"$work/deflate.log" 2>&1 || { cat "$work/deflate.log" >&2; exit 1; }
mkdir -p "$prefix/lib" "$prefix/include"
cp "$work/libdeflate-1.14/libdeflatestatic.lib" "$prefix/lib/libdeflate.a"
cp "$work/libdeflate-1.14/libdeflate.h" "$prefix/include/"

touch "$stamp"
