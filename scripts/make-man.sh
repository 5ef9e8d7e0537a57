#!/usr/bin/env bash
# Writes the man page of zelp from the built program's own help texts
# (zelp --help, zelp --version and each command's --help), so that it can
# never say something else than the program. The sections that help cannot
# hold (examples, exit status, files) come from packaging/zelp.h2m.
# Usage: scripts/make-man.sh path/to/zelp path/to/zelp.1
set -euo pipefail
zelp=$1
out=$2
include=$(mktemp)
trap 'rm -f "$include"' EXIT
{
  echo "[COMMANDS]"
  for command in info check apply create convert pack version; do
    echo ".SS $command"
    echo ".nf"
    # Roff: a backslash is written twice, a line may not start with . or '.
    "$zelp" "$command" --help | sed -e 's/\\/\\e/g' -e "s/^\\([.']\\)/\\\\\\&\\1/"
    echo ".fi"
  done
} >"$include"
help2man --no-info --locale=C.UTF-8 --section 1 --name "apply, check and make ZELP 3.0 patches" \
  --include "$include" --include "$(dirname "$0")/../packaging/zelp.h2m" --output "$out.tmp" "$zelp"
mv "$out.tmp" "$out"
