#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for SECONDS (default 60).
#   tests/fuzz/run-fuzzer.sh [SECONDS] [BUILD_DIR] [TARGET ...]
# TARGET: applier (reader, engine and run: fuzz_applier) and program (the program-aware
# body: fuzz_program_body); both by default, one after the other.
# New inputs go to BUILD_DIR/corpus* (the committed corpus is read, never written);
# crash artifacts go to BUILD_DIR/artifacts. Copy an input into a committed corpus only
# once it has been turned into a known-bad case or a regression worth keeping.
set -euo pipefail
seconds=${1:-60}
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
build=${2:-$root/build/fuzz}
shift $(($# < 2 ? $# : 2))
targets=("$@")
[ $# -gt 0 ] || targets=(applier program)
mkdir -p "$build/corpus" "$build/corpus_program" "$build/artifacts"

CXX=${CXX_FUZZ:-clang++-14}
command -v "$CXX" >/dev/null || CXX=clang++
# The targets link the core libraries as the build lists them, instrumented for coverage.
cmake -S "$root" -B "$build/cmake" -DCMAKE_CXX_COMPILER="$CXX" -DCMAKE_C_COMPILER="${CXX/clang++/clang}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DFUZZ=ON -DOUT_BIN="$build" >/dev/null

cd "$build"
for target in "${targets[@]}"; do
  case $target in
    applier) binary=fuzz_applier corpus=corpus ;;
    program) binary=fuzz_program_body corpus=corpus_program ;;
    *) echo "run-fuzzer: unknown target $target (applier or program)" >&2; exit 2 ;;
  esac
  cmake --build "$build/cmake" --target "$binary" -j "$(nproc)" >/dev/null
  ./"$binary" -max_total_time="$seconds" -max_len=8192 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/" "$build/$corpus" "$here/$corpus"
done
