#!/usr/bin/env bash
# Builds the libFuzzer target with clang and runs it for SECONDS (default 60).
#   tests/fuzz/run-fuzzer.sh [SECONDS] [BUILD_DIR]
# New inputs go to BUILD_DIR/corpus (the committed corpus is read, never written);
# crash artifacts go to BUILD_DIR/artifacts. Copy an input into corpus/ only once it
# has been turned into a known-bad case or a regression worth keeping.
set -euo pipefail
seconds=${1:-60}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${2:-$root/build/fuzz}
mkdir -p "$build/corpus" "$build/artifacts"

CXX=${CXX_FUZZ:-clang++-14}
command -v "$CXX" >/dev/null || CXX=clang++
# clang keeps string literals in UTF-8; the texts' bytes do not matter to the invariants.
"$CXX" -std=c++20 -O1 -g -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I "$root" \
  "$here/fuzz_applier.cpp" \
  "$root/core/text/cp932.cpp" "$root/core/patch/checksum.cpp" "$root/core/patch/format.cpp" \
  "$root/core/patch/engine.cpp" "$root/core/patch/applier_run.cpp" "$root/core/patch/memory_platform.cpp" \
  -o "$build/fuzz_applier"

cd "$build"
exec ./fuzz_applier -max_total_time="$seconds" -max_len=8192 -print_final_stats=1 \
  -artifact_prefix="$build/artifacts/" "$build/corpus" "$here/corpus"
