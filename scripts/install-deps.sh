#!/usr/bin/env bash
# Installs the Debian packages this project builds and tests with. Idempotent and
# non-interactive: packages already present are skipped, and nothing is asked.
set -euo pipefail

# Everything the builds, the demo and the tests run, also what a developer machine happens to
# have and a bare Debian 12 lacks: the compilers, make, git (the mutants' copies of the sources),
# python3, ca-certificates (the https fetches of scripts/build-mingw-deps.sh), locales.
native=(g++ gcc cmake make pkg-config git python3 ca-certificates
        libgtest-dev libgmock-dev libbenchmark-dev zlib1g-dev libdivsufsort-dev libdeflate-dev
        clang libclang-rt-14-dev osslsigncode openssl gcovr)
# The Windows programs: the MinGW-w64 compilers (default thread model for the product, posix for
# patchtool.exe), zlib built for them, Wine of both widths on a private X server, the Japanese
# font and locale the programs are seen and checked with; curl and bzip2 fetch and unpack
# Debian's sources of the producer's libraries for patchtool.exe.
windows=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix mingw-w64
         libz-mingw-w64-dev curl bzip2 wine wine32:i386 wine64 xvfb imagemagick fonts-ipafont-gothic fonts-wine
         locales)

# Only for `make bench-producer` (scripts/bench-producer.sh): the tools it compares with.
bench=(bsdiff zstd xdelta3 time)

if [ "${1:-}" = bench ]; then
  wanted=("${bench[@]}")
  command -v npm >/dev/null || wanted+=(npm)
else
  wanted=("${native[@]}" "${windows[@]}")
fi

missing=()
for p in "${wanted[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages (${missing[*]}); run as root to install them" >&2
  exit 1
fi

export DEBIAN_FRONTEND=noninteractive
dpkg --print-foreign-architectures | grep -qx i386 || dpkg --add-architecture i386
echo "install-deps: installing ${missing[*]}"
# A mirror in the middle of a sync fails one index now and then; try again, then go on with the
# indexes there are (the install below fails clearly if a package cannot be found).
for try in 1 2 3; do
  apt-get update -qq && break
  [ $try -eq 3 ] && echo "install-deps: apt-get update failed; installing from the indexes there are" >&2
  sleep 5
done
if ! apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null; then
  # wine32 needs the i386 twins of the system's libraries at the very versions installed; when the
  # mirror lacks them the rest is still worth having: the Wine tests then run the x86_64 programs
  # under wine64, as on a machine that executes no 32-bit code (tests/wine/harness.sh says which).
  [[ " ${missing[*]} " == *" wine32:i386 "* ]] || exit 1
  rest=()
  for p in "${missing[@]}"; do [ "$p" = wine32:i386 ] || rest+=("$p"); done
  echo "install-deps: wine32:i386 cannot be installed from this mirror; installing the rest" >&2
  [ ${#rest[@]} -eq 0 ] || apt-get install -y -qq --no-install-recommends "${rest[@]}" >/dev/null
fi
