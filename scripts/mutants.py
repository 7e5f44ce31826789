#!/usr/bin/env python3
"""Mutation run: applies each one-line mutation of tests/mutants/mutations.tsv to a copy of
the sources, rebuilds, runs every test that needs no Wine, and lists the mutants no test
killed. The working tree itself is never written: other work may be going on in it.

usage: mutants.py WORK_DIR [--from HEAD] [--only SUBSTRING] [--jobs N]

WORK_DIR keeps the copy (src/) and its build (build/) between runs, so a second run only
rebuilds what changed. --from HEAD takes the committed sources instead of the working tree.
Exit status 0 when every mutant is killed or marked equivalent in the table.
"""
import argparse
import os
import shutil
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TABLE = os.path.join(ROOT, "tests", "mutants", "mutations.tsv")
TEST_TIMEOUT = 300  # seconds per test; an endless loop counts as killed


class Mutation:
    def __init__(self, number, fields):
        self.number = number
        self.path, self.anchor, self.original, self.mutant, self.what = fields
        self.equivalent = self.what.startswith("equivalent:")

    def apply(self, text):
        """The mutated text, or a reason why the mutation no longer fits the file."""
        start = 0
        if self.anchor != "-":
            if text.count(self.anchor) != 1:
                return None, "anchor found %d times" % text.count(self.anchor)
            start = text.index(self.anchor)
        elif text.count(self.original) != 1:
            return None, "original found %d times" % text.count(self.original)
        at = text.find(self.original, start)
        if at < 0:
            return None, "original not found after the anchor"
        return text[:at] + self.mutant + text[at + len(self.original):], None


def read_table():
    mutations = []
    with open(TABLE, encoding="utf-8") as f:
        for line in f:
            line = line.rstrip("\n")
            if not line or line.startswith("#"):
                continue
            fields = line.split("\t")
            if len(fields) != 5:
                sys.exit("mutants: malformed row (%d fields): %s" % (len(fields), line))
            mutations.append(Mutation(len(mutations) + 1, fields))
    return mutations


def source_files(source):
    """Relative paths and contents of the sources to copy."""
    if source == "HEAD":
        listing = subprocess.run(["git", "-C", ROOT, "ls-tree", "-r", "-z", "--name-only", "HEAD"],
                                 check=True, capture_output=True).stdout
        for path in filter(None, listing.decode().split("\0")):
            blob = subprocess.run(["git", "-C", ROOT, "show", "HEAD:" + path], check=True, capture_output=True)
            yield path, blob.stdout
        return
    listing = subprocess.run(["git", "-C", ROOT, "ls-files", "-z", "-c", "-o", "--exclude-standard"],
                             check=True, capture_output=True).stdout
    for path in filter(None, listing.decode().split("\0")):
        top = path.split("/", 1)[0]
        if top.startswith("build") or top == "Testing":
            continue  # build folders of the working tree
        full = os.path.join(ROOT, path)
        if os.path.isfile(full):
            with open(full, "rb") as f:
                yield path, f.read()


def sync_copy(source, src_dir):
    """Brings src_dir up to date, writing only files whose contents differ (keeps mtimes,
    so the build stays incremental). Returns the number of files written."""
    written = 0
    for path, data in source_files(source):
        target = os.path.join(src_dir, path)
        try:
            with open(target, "rb") as f:
                if f.read() == data:
                    continue
        except OSError:
            os.makedirs(os.path.dirname(target), exist_ok=True)
        with open(target, "wb") as f:
            f.write(data)
        written += 1
    return written


def run(cmd, cwd, log):
    with open(log, "w") as out:
        return subprocess.run(cmd, cwd=cwd, stdout=out, stderr=subprocess.STDOUT).returncode


def build(build_dir, jobs, log):
    return run(["cmake", "--build", build_dir, "-j", str(jobs)], build_dir, log) == 0


def failed_tests(build_dir):
    path = os.path.join(build_dir, "Testing", "Temporary", "LastTestsFailed.log")
    try:
        with open(path) as f:
            return [line.strip().split(":", 1)[-1] for line in f if line.strip()]
    except OSError:
        return []


def run_suite(build_dir, jobs, log, stop_early):
    cmd = ["ctest", "-LE", "wine|windows", "-j", str(jobs), "--timeout", str(TEST_TIMEOUT)]
    if stop_early:
        cmd.append("--stop-on-failure")
    return run(cmd, build_dir, log) == 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("work_dir")
    parser.add_argument("--from", dest="source", default="worktree", choices=["worktree", "HEAD"])
    parser.add_argument("--only", default="", help="run only mutations whose file or text holds this")
    parser.add_argument("--jobs", type=int, default=2)
    args = parser.parse_args()

    work = os.path.abspath(args.work_dir)
    src_dir, build_dir, logs = (os.path.join(work, d) for d in ("src", "build", "logs"))
    for d in (src_dir, build_dir, logs):
        os.makedirs(d, exist_ok=True)
    mutations = [m for m in read_table() if args.only in m.path + m.original]

    print("mutants: copying the %s sources to %s (%d files changed)" %
          ("committed" if args.source == "HEAD" else "working-tree", src_dir, sync_copy(args.source, src_dir)))
    if run(["cmake", "-S", src_dir, "-B", build_dir, "-DOUT_BIN=" + os.path.join(build_dir, "bin")],
           build_dir, os.path.join(logs, "configure.log")) != 0:
        sys.exit("mutants: configure failed, see %s/configure.log" % logs)
    started = time.monotonic()
    if not build(build_dir, args.jobs, os.path.join(logs, "baseline-build.log")):
        sys.exit("mutants: the unmutated sources do not build, see %s/baseline-build.log" % logs)
    if not run_suite(build_dir, args.jobs, os.path.join(logs, "baseline-tests.log"), False):
        sys.exit("mutants: the unmutated suite fails (%s); see %s/baseline-tests.log" %
                 (", ".join(failed_tests(build_dir)), logs))
    print("mutants: baseline built and green in %.0f s; %d mutations" % (time.monotonic() - started, len(mutations)))

    results = []
    for m in mutations:
        path = os.path.join(src_dir, m.path)
        try:
            with open(path, encoding="utf-8") as f:
                pristine = f.read()
        except OSError:
            pristine, reason = None, "file missing"
        mutated, reason = m.apply(pristine) if pristine is not None else (None, reason)
        if mutated is None:
            result = "stale (%s)" % reason
        else:
            t0 = time.monotonic()
            try:
                with open(path, "w", encoding="utf-8") as f:
                    f.write(mutated)
                log = os.path.join(logs, "mutant-%02d.log" % m.number)
                if not build(build_dir, args.jobs, log):
                    result = "unbuildable (see %s)" % log
                elif run_suite(build_dir, args.jobs, log, True):
                    result = "SURVIVED" if not m.equivalent else "survived (equivalent)"
                else:
                    killers = failed_tests(build_dir)
                    result = "killed by %s%s" % (killers[0] if killers else "?", " +" if len(killers) > 1 else "")
            finally:
                with open(path, "w", encoding="utf-8") as f:
                    f.write(pristine)  # a fresh mtime: the next build compiles it again
            result += " [%.0f s]" % (time.monotonic() - t0)
        results.append((m, result))
        print("%2d %-36s %-58s %s" % (m.number, m.path, m.what[:58], result), flush=True)

    killed = sum(r.startswith("killed") for _, r in results)
    survived = [m for m, r in results if r.startswith("SURVIVED")]
    equivalent = sum(r.startswith("survived (equivalent)") for _, r in results)
    other = len(results) - killed - len(survived) - equivalent
    judged = killed + len(survived)
    print("\nmutants: %d killed, %d survived, %d equivalent, %d stale or unbuildable; kill rate %s" %
          (killed, len(survived), equivalent, other, "%.0f%%" % (100.0 * killed / judged) if judged else "n/a"))
    for m in survived:
        print("  survivor %d: %s: %s -> %s" % (m.number, m.path, m.original, m.mutant))
    # Leave the build matching the pristine sources for the next run.
    build(build_dir, args.jobs, os.path.join(logs, "restore-build.log"))
    return 1 if survived else 0


if __name__ == "__main__":
    sys.exit(main())
