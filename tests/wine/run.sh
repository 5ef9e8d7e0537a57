#!/usr/bin/env bash
# Runs the real Windows patch program under Wine, scenario by scenario, with
# the driver program (driver.cpp). Call it inside scripts/wine-env.sh run,
# which provides the prefix and the X server:
#
#   scripts/wine-env.sh run -- tests/wine/run.sh NATIVE_BUILD WIN64_BUILD [SCENARIO...]
#
# Prints each scenario's result and a closing line "N passed, N failed".
set -uo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
native=$(cd "${1:?native build folder}" && pwd)
win=$(cd "${2:?win64 build folder}" && pwd)
shift 2

driver="$win/tests/wine/zelp_wine_driver.exe"
stub="$win/src/ui/zelp-stub.exe"
zelp="$native/src/cli/zelp"
for f in "$driver" "$stub" "$zelp"; do
  [ -f "$f" ] || { echo "wine tests: missing $f" >&2; exit 1; }
done
: "${WINEPREFIX:?run inside scripts/wine-env.sh run}"

# Everything the scenarios touch lives here; Wine sees it through drive Z:.
work="$win/wine-tests"
rm -rf "$work"
mkdir -p "$work"
winpath() { printf 'Z:%s' "${1//\//\\}"; }

python3 "$root/tests/wine/fixtures.py" --zelp "$zelp" --stub "$stub" --out "$work" || {
  echo "wine tests: cannot make the test programs" >&2
  echo "0 passed, 1 failed"
  exit 1
}

W=$(winpath "$work")
common=(original="$W\\original.rom" expected="$W\\expected.rom" desc="$W\\desc.txt"
        summary="$W\\summary.txt" work="$W")
good="program=$W\\patch-good.exe"

# name | driver scenario | arguments
scenarios=(
  "info|info|$good"
  "apply|apply|$good|target=$W\\target-apply.rom"
  "cancel|cancel|$good|target=$W\\target-cancel.rom"
  "locked|locked|$good|target=$W\\target-locked.rom"
  "readonly|readonly|$good|target=$W\\nobody\\target-readonly.rom"
  "damaged|damaged|program=$W\\patch-damaged.exe|target=$W\\target-damaged.rom"
  "nopatch|nopatch|program=$W\\patch-none.exe"
  "escape|escape|$good"
  "cmd|cmd|$good|target=$W\\target-cmd.rom"
  "cjk|cjk|$good"
  "shortname|shortname|$good"
  "path259|path259|$good"
  "path260|path260|$good"
  "longprogram|longprogram|$good"
  "banners|banners|$good"
  "self|self|$good"
  "folder|folder|$good"
  "fifo|fifo|$good|target=$W\\target.fifo"
  "dash|dash|$good"
  "selflink|selflink|program=$W\\patch-linked.exe|target=$W\\link-to-program.rom"
)

# A FIFO the Windows side cannot make: no writer ever opens it, so a program
# that waited on it would hang (the driver's deadlines catch that).
mkfifo "$work/target.fifo"
# A link to a program, made here for the same reason.
cp "$work/patch-good.exe" "$work/patch-linked.exe"
ln -s patch-linked.exe "$work/link-to-program.rom"

# Root opens read-only files for writing whatever their mode bits, and so
# does Wine run by root: the read-only scenario then runs as the user nobody,
# in a prefix of its own.
mkdir -p "$work/nobody"
runner=()
if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null && id nobody >/dev/null 2>&1; then
  nobody_prefix="$WINEPREFIX-nobody"
  runner=(setpriv --reuid="$(id -u nobody)" --regid="$(id -g nobody)" --clear-groups
          env HOME="$nobody_prefix" WINEPREFIX="$nobody_prefix")
  chown nobody "$work/nobody"
  if [ ! -f "$nobody_prefix/.zelp-ready" ]; then
    rm -rf "$nobody_prefix"
    mkdir -p "$nobody_prefix"
    chown nobody "$nobody_prefix"
    # The same settings as the main prefix (fonts, unmanaged windows).
    if "${runner[@]}" timeout 300 wineboot -i >/dev/null 2>&1 &&
       "${runner[@]}" wine regedit /S "$(winpath "$WINEPREFIX/zelp-settings.reg")" >/dev/null 2>&1; then
      "${runner[@]}" touch "$nobody_prefix/.zelp-ready"
    else
      echo "wine tests: cannot make a prefix for nobody; read-only case as root" >&2
      runner=()
    fi
  fi
fi

passed=0 failed=0 skipped=0
failures=()
for entry in "${scenarios[@]}"; do
  IFS='|' read -r -a parts <<<"$entry"
  name=${parts[0]}
  if [ $# -gt 0 ] && ! printf '%s\n' "$@" | grep -qx "$name"; then continue; fi
  log="$work/$name.log"
  start=$(date +%s%N)
  # The driver bounds every wait itself; the timeout only guards the driver.
  as=()
  [ "$name" = readonly ] && as=("${runner[@]}")
  timeout -k 5 120 "${as[@]}" wine "$(winpath "$driver")" "${parts[1]}" "${parts[@]:2}" \
    "${common[@]}" >"$log" 2>&1
  status=$?
  [ ${#as[@]} -gt 0 ] && "${as[@]}" wineserver -k >/dev/null 2>&1
  ms=$((($(date +%s%N) - start) / 1000000))
  took=$((ms / 1000)).$((ms / 100 % 10))
  case $status in
    0) passed=$((passed + 1)); echo "PASS $name (${took}s)" ;;
    77) skipped=$((skipped + 1)); echo "SKIP $name:$(grep -m1 '^SKIP' "$log" | cut -d: -f2-)" ;;
    *)
      failed=$((failed + 1))
      failures+=("$name")
      echo "FAIL $name (status $status, ${took}s)"
      grep -v 'FS volume label' "$log" | sed 's/^/    /'
      # Whatever the failed scenario left running must not disturb the next.
      wineserver -k >/dev/null 2>&1
      timeout 60 wineserver -w >/dev/null 2>&1
      wineserver -p >/dev/null 2>&1
      ;;
  esac
done

[ $failed -eq 0 ] || echo "failed: ${failures[*]}"
echo "wine tests took ${SECONDS}s"
echo "$passed passed, $failed failed${skipped:+, $skipped skipped}"
[ $failed -eq 0 ]
