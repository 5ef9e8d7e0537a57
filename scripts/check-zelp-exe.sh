#!/usr/bin/env bash
# Runs the Windows zelp.exe under Wine on a sample patch and checks that it
# prints and writes exactly what the native zelp does (its output, when
# redirected, is UTF-8 like the native tool's).
# Usage: scripts/check-zelp-exe.sh [native-zelp] [zelp.exe]
set -euo pipefail
cd "$(dirname "$0")/.."

native=${1:-build/native/src/cli/zelp}
exe=${2:-build/win64/src/cli/zelp.exe}
source scripts/wine-env.sh
if ! wine_env_runs "$exe"; then
  wine_env_skip "1 check of the $(wine_env_exe_width "$exe") zelp.exe against the native zelp"
  exit 0
fi
work="$(cd "$(dirname "$exe")/../.." && pwd)/zelp-exe-check"
rm -rf "$work"
mkdir -p "$work"

# A patch with a Chinese description that writes "新" (UTF-8) at 4 and
# grows the target to 12 bytes; the target's CRC is checked.
python3 - "$work" <<'PY'
import struct, sys, zlib
work = sys.argv[1]
target = b"0123456789"
records = b"\x02" + struct.pack("<QH", 4, 3) + "新".encode() + b"\xff"
desc = "说明：第一行\r\nline two".encode("utf-16-le") + b"\0\0"
header = b"KOVA-PATCH3.0\0\0\0" + struct.pack("<qIIQ", 12, zlib.crc32(target), 40,
                                            40 + len(records))
open(f"{work}/p.zelp", "wb").write(header + records + desc)
for name in ("native.bin", "win.bin"):
    open(f"{work}/{name}", "wb").write(target)
PY

winpath() { printf 'Z:%s' "${1//\//\\}"; }
run_win() { scripts/run-win-unit.sh "$exe" "$@"; }

fail=0
check() {  # name, expected file, actual file
  if ! cmp -s "$2" "$3"; then
    echo "check-zelp-exe: $1 differs:" >&2
    diff <(od -c "$2") <(od -c "$3") | head -20 >&2 || true
    fail=1
  fi
}

"$native" info "$work/p.zelp" >"$work/info.native" 2>&1
run_win info "$(winpath "$work/p.zelp")" >"$work/info.win" 2>&1
check "info output" "$work/info.native" "$work/info.win"

for round in first second; do
  set +e
  "$native" apply "$work/p.zelp" "$work/native.bin" >"$work/$round.native.out" 2>"$work/$round.native.err"
  echo $? >"$work/$round.native.rc"
  run_win apply "$(winpath "$work/p.zelp")" "$(winpath "$work/win.bin")" \
    >"$work/$round.win.out" 2>"$work/$round.win.err"
  echo $? >"$work/$round.win.rc"
  set -e
  # The line after success names the target as each was given it.
  for side in native win; do
    sed -i -E "s/^zelp: patched '[^']*'/zelp: patched 'TARGET'/" "$work/$round.$side.out"
  done
  for part in out err rc; do
    check "apply ($round) $part" "$work/$round.native.$part" "$work/$round.win.$part"
  done
  check "target after the $round apply" "$work/native.bin" "$work/win.bin"
done
# Making patches and programs: the same bytes on both sides.
head -c 200000 /dev/urandom >"$work/orig.rom"
cp "$work/orig.rom" "$work/mod.rom"
printf 'CHANGED' | dd of="$work/mod.rom" bs=1 seek=12345 conv=notrunc 2>/dev/null
head -c 777 /dev/urandom >>"$work/mod.rom"
printf '说明\n第二行\n' >"$work/desc.txt"
"$native" create "$work/orig.rom" "$work/mod.rom" -o "$work/native.zelp" \
  --description "$work/desc.txt" >/dev/null
run_win create "$(winpath "$work/orig.rom")" "$(winpath "$work/mod.rom")" \
  -o "$(winpath "$work/win.zelp")" --description "$(winpath "$work/desc.txt")" >/dev/null
check "created patch" "$work/native.zelp" "$work/win.zelp"
printf 'MZ stand-in stub ' >"$work/stub.bin"
printf 'ZELP-PATCH-AT\x9e\x3c\xa7\xff\xff\xff\xff\xff\xff\xff\xff tail' >>"$work/stub.bin"
printf ' ZELP-DIALOG-\xd1\xa7\x6b\x2e' >>"$work/stub.bin"  # the dialog program's own mark
"$native" pack "$work/stub.bin" "$work/native.zelp" -o "$work/native.exe" >/dev/null
run_win pack "$(winpath "$work/stub.bin")" "$(winpath "$work/native.zelp")" \
  -o "$(winpath "$work/win.exe")" >/dev/null
check "packed program" "$work/native.exe" "$work/win.exe"

# apply -o and --backup: the target untouched (or kept), the same bytes written.
for side in native win; do cp "$work/orig.rom" "$work/$side.t.rom"; rm -f "$work/$side.o.rom" "$work/$side.t.rom.bak"; done
"$native" apply "$work/native.zelp" "$work/native.t.rom" -o "$work/native.o.rom" >/dev/null
run_win apply "$(winpath "$work/win.zelp")" "$(winpath "$work/win.t.rom")" \
  -o "$(winpath "$work/win.o.rom")" >/dev/null
check "apply -o output" "$work/native.o.rom" "$work/win.o.rom"
check "apply -o target" "$work/orig.rom" "$work/win.t.rom"
run_win apply "$(winpath "$work/win.zelp")" "$(winpath "$work/win.t.rom")" --backup >/dev/null 2>&1
check "apply --backup target" "$work/native.o.rom" "$work/win.t.rom"
check "apply --backup copy" "$work/orig.rom" "$work/win.t.rom.bak"

# The second run must have been refused by the CRC check.
grep -q 'CRC32' "$work/second.win.err" || { echo "check-zelp-exe: second apply not refused" >&2; fail=1; }

[ $fail -eq 0 ] && echo "check-zelp-exe: zelp.exe matches the native zelp (info, apply, refused re-apply, create, pack, apply -o, --backup)"
exit $fail
