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
# The target links the core libraries as the build lists them, instrumented for coverage.
cmake -S "$root" -B "$build/cmake" -DCMAKE_CXX_COMPILER="$CXX" -DCMAKE_C_COMPILER="${CXX/clang++/clang}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DFUZZ=ON -DOUT_BIN="$build" >/dev/null
cmake --build "$build/cmake" --target fuzz_applier -j "$(nproc)" >/dev/null

cd "$build"
exec ./fuzz_applier -max_total_time="$seconds" -max_len=8192 -print_final_stats=1 \
  -artifact_prefix="$build/artifacts/" "$build/corpus" "$here/corpus"
