#!/usr/bin/env python3
"""Times commands in interleaved rounds, so that a busy moment on the machine
weighs on all of them alike and their ratios come from the same run.

  rounds.py RUNS RESULTS ROW...

Each ROW is "name|prepare|command|output|expected": `prepare` runs (in a
shell, not timed) before every run of `command`; `command` runs without a
shell (quoted as in a shell). When `command`'s name ends in "zelp_limit", it
times itself and prints milliseconds, which are taken instead of the wall
time. After every run `output` must equal `expected` (both may be empty). The
median in seconds of each name is appended to RESULTS as "name seconds".
"""
import filecmp
import shlex
import statistics
import subprocess
import sys
import time


def main():
    runs, results = int(sys.argv[1]), sys.argv[2]
    rows = [s.split("|") for s in sys.argv[3:]]
    times = {s[0]: [] for s in rows}
    for _ in range(runs + 1):  # the first round warms up and is dropped
        for name, prepare, command, output, expected in rows:
            if prepare:
                subprocess.run(prepare, shell=True, check=True)
            argv = shlex.split(command)
            start = time.perf_counter()
            done = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            took = time.perf_counter() - start
            if done.returncode != 0:
                sys.exit(f"rounds.py: {name} failed: {command}")
            if argv[0].endswith("zelp_limit"):
                took = float(done.stdout.split()[-1]) / 1000
            if output and not filecmp.cmp(output, expected, shallow=False):
                sys.exit(f"rounds.py: {name}: {output} differs from {expected}")
            times[name].append(took)
    with open(results, "a") as f:
        for name, t in times.items():
            f.write(f"{name} {statistics.median(t[1:])}\n")


main()
