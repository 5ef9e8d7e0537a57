#!/usr/bin/env bash
# Fails when a patch program is larger than its budget: every distributed
# patch carries it. 112 KiB for the 32-bit program, 128 KiB for the 64-bit
# one, resources included. Prints each program's size and its sections.
# Usage: scripts/check-stub-size.sh STUB.exe...
set -euo pipefail

status=0
for exe in "$@"; do
  format=$(x86_64-w64-mingw32-objdump -f "$exe" | sed -n 's/.*file format //p')
  case "$format" in
    pei-i386) budget=$((112 * 1024)) ;;
    pei-x86-64) budget=$((128 * 1024)) ;;
    *) echo "check-stub-size: $exe is no Windows program ($format)" >&2; status=1; continue ;;
  esac
  size=$(stat -c %s "$exe")
  sections=""
  while read -r _ name hex _; do
    [ "$name" = .bss ] || sections+="$name $((16#$hex)), "
  done < <(x86_64-w64-mingw32-objdump -h "$exe" | grep -E '^ +[0-9]+ ')
  if [ "$size" -gt "$budget" ]; then
    echo "check-stub-size: $exe is $size bytes, over its budget of $budget ($format)" >&2
    status=1
  else
    echo "check-stub-size: $exe: $size of $budget bytes (${sections%, })"
  fi
done
exit $status
