#!/usr/bin/env bash
# Installs the Debian packages this project builds and tests with. Idempotent and
# non-interactive: packages already present are skipped, and nothing is asked.
set -euo pipefail

native=(g++ cmake make pkg-config libgtest-dev libgmock-dev libbenchmark-dev zlib1g-dev libdivsufsort-dev libdeflate-dev
        clang libclang-rt-14-dev python3 osslsigncode openssl gcovr)
# patchtool.exe: the posix thread model of MinGW-w64, and what scripts/build-mingw-deps.sh
# fetches and unpacks Debian's sources of the producer's libraries with.
windows=(g++-mingw-w64-i686 g++-mingw-w64-x86-64 g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix curl bzip2 mingw-w64 wine wine32:i386 wine64 xvfb imagemagick fonts-ipafont-gothic fonts-wine locales)

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
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
