#!/usr/bin/env bash
# clang-format over the C++ of src/, tests/, bench/ and web/: `--check` fails
# (and lists the files) when any is not formatted, otherwise they are
# formatted in place.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cpp' '*.h')
if [ "${1:-}" = --check ]; then
  bad=$(clang-format --dry-run "${files[@]}" 2>&1 | sed -n 's/^\([^:]*\):[0-9]*:[0-9]*: warning.*/\1/p' | sort -u)
  [ -z "$bad" ] && exit 0
  printf 'format: not clang-formatted (run make format):\n%s\n' "$bad" >&2
  exit 1
fi
clang-format -i "${files[@]}"
