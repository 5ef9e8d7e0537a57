#!/usr/bin/env bash
# Fails when a Windows program imports any DLL that is not part of Windows
# itself: the shipped programs must run from a single file.
# Usage: scripts/check-imports.sh PROGRAM.exe...
set -euo pipefail

objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
system='^(kernel32|user32|gdi32|comdlg32|shell32|comctl32|advapi32|ole32|oleaut32|shlwapi|msvcrt|ws2_32|bcrypt|ntdll)\.dll$'

status=0
for exe in "$@"; do
  if ! dlls=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: //p'); then
    echo "check-imports: cannot read $exe" >&2
    exit 1
  fi
  if [ -z "$dlls" ]; then
    echo "check-imports: $exe imports nothing (not a program?)" >&2
    status=1
    continue
  fi
  while read -r dll; do
    lower=$(printf '%s' "$dll" | tr 'A-Z' 'a-z')
    if ! [[ $lower =~ $system ]]; then
      echo "check-imports: $exe imports $dll, which is not a system DLL" >&2
      status=1
    fi
  done <<< "$dlls"
  [ $status -eq 0 ] && echo "check-imports: $(basename "$exe"): $(echo $dlls)"
done
exit $status
