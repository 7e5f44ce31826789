#!/usr/bin/env bash
# Line and branch coverage of core/ and tools/ by every test that needs no Wine, printed
# as one table per file (gcovr). usage: coverage.sh BUILD_DIR [JOBS]
# The build is its own (Debug, --coverage); counters are cleared before each run.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
dir=$1
jobs=${2:-2}
mkdir -p "$dir"

cmake -S "$root" -B "$dir" -DCMAKE_BUILD_TYPE=Debug -DOUT_BIN="$dir/bin" \
  -DCMAKE_C_FLAGS=--coverage -DCMAKE_CXX_FLAGS=--coverage -DCMAKE_EXE_LINKER_FLAGS=--coverage >/dev/null
cmake --build "$dir" -j "$jobs" >"$dir/build.log" 2>&1 || { tail -30 "$dir/build.log"; exit 1; }
find "$dir" -name '*.gcda' -delete
# A failing test still leaves its counters; the table is printed, the status kept.
status=0
(cd "$dir" && ctest -LE "wine|windows" -j "$jobs" --timeout 600 >"$dir/tests.log" 2>&1) || status=$?
tail -3 "$dir/tests.log"

# The compiler checks CMake ran at configure time leave counters without sources.
find "$dir/CMakeFiles" -name '*CompilerId*.gcno' -delete
# Exception paths the compiler adds to every call are no branches of this code.
gcovr --root "$root" --object-directory "$dir" --filter "$root/core/" --filter "$root/tools/" \
  --exclude-throw-branches --exclude-unreachable-branches --json "$dir/coverage.json" -j "$jobs"

python3 - "$dir/coverage.json" <<'EOF'
import json, sys

def ranges(numbers):
    out, start, prev = [], None, None
    for n in numbers + [None]:
        if start is not None and n == prev + 1:
            prev = n
            continue
        if start is not None:
            out.append(str(start) if start == prev else "%d-%d" % (start, prev))
        start = prev = n
    return ",".join(out)

files = json.load(open(sys.argv[1]))["files"]
rows, totals = [], {}
for f in sorted(files, key=lambda f: f["file"]):
    lines = [l for l in f["lines"] if not l.get("gcovr/noncode")]
    hit = sum(l["count"] > 0 for l in lines)
    branches = [b for l in lines for b in l["branches"]]
    taken = sum(b["count"] > 0 for b in branches)
    missing = ranges(sorted(l["line_number"] for l in lines if l["count"] == 0))
    rows.append((f["file"], hit, len(lines), taken, len(branches), missing))
    top = f["file"].split("/")[0]
    t = totals.setdefault(top, [0, 0, 0, 0])
    for i, v in enumerate((hit, len(lines), taken, len(branches))):
        t[i] += v

pct = lambda a, b: "%5.1f%%" % (100.0 * a / b) if b else "    - "
print("%-38s %13s %7s %13s %7s  %s" % ("file", "lines", "", "branches", "", "lines not run"))
for name, hit, n, taken, nb, missing in rows:
    print("%-38s %6d/%-6d %s %6d/%-6d %s  %s" % (name, hit, n, pct(hit, n), taken, nb, pct(taken, nb), missing))
for top, (hit, n, taken, nb) in sorted(totals.items()):
    print("%-38s %6d/%-6d %s %6d/%-6d %s" % ("total " + top + "/", hit, n, pct(hit, n), taken, nb, pct(taken, nb)))
EOF
exit $status
