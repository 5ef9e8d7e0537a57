#!/usr/bin/env bash
# Runs the real Windows patch program under Wine, scenario by scenario, with
# the driver program (harness.cpp, scenarios.cpp), once for each Windows build
# given. Call it inside scripts/wine-env.sh run, which provides the prefix and
# the X server:
#
#   scripts/wine-env.sh run -- tests/wine/run.sh NATIVE_BUILD WIN_BUILD... [SCENARIO...]
#
# The scenarios are the driver's (`--list`). Prints each scenario's result and
# a closing line "N passed, N failed, N skipped"; the scenarios of a build
# this machine cannot run (32-bit without IA32 emulation) are skipped, with
# the reason in a line of their own.
set -uo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
native=$(cd "${1:?native build folder}" && pwd)
shift
builds=()
while [ $# -gt 0 ] && [ -d "$1" ]; do builds+=("$(cd "$1" && pwd)"); shift; done
[ ${#builds[@]} -gt 0 ] || { echo "wine tests: no Windows build folder given" >&2; exit 2; }
only=("$@")
: "${WINEPREFIX:?run inside scripts/wine-env.sh run}"
source "$root/scripts/wine-env.sh"

zelp="$native/src/cli/zelp"
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# Root opens read-only files for writing whatever their mode bits, and so
# does Wine run by root: scenarios marked so run as the user nobody, in a
# prefix of its own. Nobody cannot reach a checkout in a private folder, so
# everything a scenario touches lives in a world-readable temporary folder.
runner=()
if [ "$(id -u)" -eq 0 ] && command -v setpriv >/dev/null && id nobody >/dev/null 2>&1; then
  nobody_prefix="${TMPDIR:-/tmp}/zelp-wine-nobody-$(printf '%s' "$WINEPREFIX" | md5sum | cut -c1-8)"
  runner=(setpriv --reuid="$(id -u nobody)" --regid="$(id -g nobody)" --clear-groups
          env HOME="$nobody_prefix" WINEPREFIX="$nobody_prefix")
  want="$(wine_env_widths)"
  if [ "$(cat "$nobody_prefix/.zelp-ready" 2>/dev/null)" != "$want" ]; then
    rm -rf "$nobody_prefix"
    mkdir -p "$nobody_prefix"
    chown nobody "$nobody_prefix"
    # The same settings as the main prefix (fonts, unmanaged windows).
    cp "$WINEPREFIX/zelp-settings.reg" "$nobody_prefix/"
    if _wine_env_step "wineboot as nobody" 300 "${runner[@]}" "$ZELP_WINE" wineboot -i &&
       _wine_env_step "regedit as nobody" 120 "${runner[@]}" "$ZELP_WINE" regedit /S \
         "$(winpath "$nobody_prefix/zelp-settings.reg")"; then
      echo "$want" | "${runner[@]}" tee "$nobody_prefix/.zelp-ready" >/dev/null
    else
      echo "wine tests: cannot make a prefix for nobody; its scenarios run as root" >&2
      runner=()
    fi
  fi
fi

passed=0 failed=0 skipped=0
failures=()
scenarios=  # the driver's list: "name flag" a line

# True for a scenario that is to run (all, or those named).
chosen() { [ ${#only[@]} -eq 0 ] || printf '%s\n' "${only[@]}" | grep -qx "$1"; }

# Runs every scenario against the patch program of one Windows build.
run_build() {
  local win=$1 width
  width=$(basename "$win")
  local driver_built="$win/tests/wine/zelp_wine_driver.exe" stub="$win/src/ui/zelp-stub.exe"
  for f in "$driver_built" "$stub" "$zelp"; do
    [ -f "$f" ] || { echo "wine tests: missing $f" >&2; failed=$((failed + 1)); return; }
  done
  local work
  work=$(mktemp -d "${TMPDIR:-/tmp}/zelp-wine-$width.XXXXXX")
  chmod 755 "$work"
  if ! python3 "$root/tests/wine/fixtures.py" --zelp "$zelp" --stub "$stub" --out "$work" >/dev/null; then
    echo "wine tests: cannot make the test programs for $width" >&2
    failed=$((failed + 1))
    return
  fi
  local driver="$work/zelp_wine_driver.exe"
  cp "$driver_built" "$driver"
  # What the Windows side cannot make: a FIFO that no writer ever opens (a
  # program that waited on it would hang; the driver's deadlines catch
  # that), and a link to a program.
  mkfifo "$work/target.fifo"
  cp "$work/patch-good.exe" "$work/patch-linked.exe"
  ln -s patch-linked.exe "$work/link-to-program.rom"
  mkdir -p "$work/nobody"
  [ ${#runner[@]} -gt 0 ] && chown nobody "$work/nobody"
  chmod -R a+rX "$work"

  local W
  W=$(winpath "$work")
  local args=(program="$W\\patch-good.exe" original="$W\\original.rom" expected="$W\\expected.rom"
              desc="$W\\desc.txt" summary="$W\\summary.txt" work="$W")
  local list
  if ! list=$(timeout 60 "$ZELP_WINE" "$(winpath "$driver")" --list | tr -d '\r') || [ -z "$list" ]; then
    echo "wine tests: the $width driver cannot list its scenarios" >&2
    failed=$((failed + 1))
    return
  fi
  scenarios=$list
  local name flag log start status ms took as
  while read -r name flag; do
    chosen "$name" || continue
    log="$work/$name.log"
    start=$(date +%s%N)
    as=()
    [ "$flag" = nobody ] && as=("${runner[@]}")
    # The driver bounds every wait itself; the timeout only guards the driver.
    timeout -k 5 120 "${as[@]}" "$ZELP_WINE" "$(winpath "$driver")" "$name" "${args[@]}" >"$log" 2>&1
    status=$?
    [ ${#as[@]} -gt 0 ] && "${as[@]}" wineserver -k >/dev/null 2>&1
    ms=$((($(date +%s%N) - start) / 1000000))
    took=$((ms / 1000)).$((ms / 100 % 10))
    case $status in
      0) passed=$((passed + 1)); echo "PASS $width $name (${took}s)" ;;
      77) skipped=$((skipped + 1)); echo "SKIP $width $name:$(grep -m1 '^SKIP' "$log" | cut -d: -f2-)" ;;
      *)
        failed=$((failed + 1))
        failures+=("$width/$name")
        echo "FAIL $width $name (status $status, ${took}s)"
        grep -v 'FS volume label' "$log" | sed 's/^/    /'
        # Whatever the failed scenario left running must not disturb the next.
        wineserver -k >/dev/null 2>&1
        timeout 60 wineserver -w >/dev/null 2>&1
        wineserver -p >/dev/null 2>&1
        ;;
    esac
  done <<<"$list"
  rm -rf "$work"
}

not_run=()
for win in "${builds[@]}"; do
  if wine_env_runs "$win/src/ui/zelp-stub.exe"; then run_build "$win"; else not_run+=("$win"); fi
done
# Every build has the same scenarios: counted in a list that could be read.
for win in "${not_run[@]}"; do
  count=0
  while read -r name _; do [ -n "$name" ] && chosen "$name" && count=$((count + 1)); done <<<"$scenarios"
  skipped=$((skipped + count))
  wine_env_skip "$count Wine scenarios of the $(basename "$win") build"
done

[ $failed -eq 0 ] || echo "failed: ${failures[*]}"
echo "wine tests took ${SECONDS}s"
echo "$passed passed, $failed failed, $skipped skipped"
[ $failed -eq 0 ]
