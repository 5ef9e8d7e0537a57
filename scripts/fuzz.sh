#!/usr/bin/env bash
# Runs every libFuzzer target of build/fuzz for SECONDS each (default 60),
# one after the other, one job at a time. The working corpus grows in
# build/fuzz/corpus/<target>, seeded from tests/fuzz/corpus/<target>; a
# finding is written to build/fuzz/findings/<target>/ and fails the run.
# Keep a finding as tests/fuzz/regressions/<target>/<name> once fixed.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
status=0
for bin in build/fuzz/tests/fuzz/fuzz_*; do
  [ -x "$bin" ] || continue
  name=$(basename "$bin")
  mkdir -p "build/fuzz/corpus/$name" "build/fuzz/findings/$name"
  echo "fuzz: $name for ${seconds}s"
  if ! "$bin" -max_total_time="$seconds" -max_len=8192 -timeout=10 -print_final_stats=1 \
      -artifact_prefix="build/fuzz/findings/$name/" \
      "build/fuzz/corpus/$name" "tests/fuzz/corpus/$name" \
      > "build/fuzz/$name.log" 2>&1; then
    echo "fuzz: $name found a problem:" >&2
    grep -E 'invariant|ERROR|runtime error|SUMMARY|Test unit written' "build/fuzz/$name.log" >&2 || tail -30 "build/fuzz/$name.log" >&2
    status=1
  fi
  grep -E 'stat::number_of_executed_units|Done [0-9]+ runs' "build/fuzz/$name.log" || true
done
exit $status
