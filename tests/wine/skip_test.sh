#!/usr/bin/env bash
# The way of a machine whose kernel cannot run 32-bit programs, tried on any
# machine: Wine's 32-bit loader is replaced by a file the kernel refuses to
# run ("Exec format error"). The set-up must use the 64-bit loader, the
# 64-bit scenarios must run and pass, and the 32-bit ones be reported skipped,
# counted, with the reason.
# Usage: tests/wine/skip_test.sh NATIVE_BUILD WIN32_BUILD WIN64_BUILD
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
tmp=$(mktemp -d "${TMPDIR:-/tmp}/zelp-skip-test.XXXXXX")
trap 'rm -rf "$tmp"' EXIT

# An ELF header for a machine no kernel here runs: execve fails with ENOEXEC.
printf '\177ELF\001\001\001\000\000\000\000\000\000\000\000\000\002\000\377\377' >"$tmp/wine"
chmod +x "$tmp/wine"
# Its prefix is kept for the next run (made in about a minute).
prefixes="$root/build/skip-test"
scenarios=(apply escape)
out=$(env -u ZELP_WINE_WIDTHS ZELP_WINE32_LOADER="$tmp/wine" ZELP_SKIP_LOG="$tmp/skipped.txt" \
  "$root/scripts/wine-env.sh" run --build "$prefixes" -- \
  "$root/tests/wine/run.sh" "$1" "$2" "$3" "${scenarios[@]}" 2>&1)
status=$?
echo "$out" | sed 's/^/    /'

fail=0
expect() {  # the start of a line the output must hold, and what it means
  grep -q "^$1" <<<"$out" || { echo "skip test: no line '$1' ($2)"; fail=1; }
}
[ $status -eq 0 ] || { echo "skip test: the run failed (status $status)"; fail=1; }
for s in "${scenarios[@]}"; do expect "PASS win64 $s " "the 64-bit scenario did not pass"; done
reason="32-bit programs cannot run on this kernel (no IA32 emulation)"
expect "SKIPPED: $reason: ${#scenarios[@]} Wine scenarios of the win32 build\$" "the skip is not reported"
expect "${#scenarios[@]} passed, 0 failed, ${#scenarios[@]} skipped\$" "the counts are wrong"
[ "$(cat "$prefixes/wine/prefix-win64/.zelp-prefix" 2>/dev/null)" = "4 win64" ] ||
  { echo "skip test: no prefix was made for the 64-bit loader alone"; fail=1; }
if grep -q '^\(PASS\|FAIL\) win32' <<<"$out"; then echo "skip test: a 32-bit scenario ran"; fail=1; fi
[ "$(cat "$tmp/skipped.txt" 2>/dev/null)" = "$reason	${#scenarios[@]} Wine scenarios of the win32 build" ] ||
  { echo "skip test: the skip was not recorded for the summary"; fail=1; }
[ $fail -eq 0 ] && echo "skip test: the 64-bit scenarios ran, the 32-bit ones were reported skipped"
exit $fail
