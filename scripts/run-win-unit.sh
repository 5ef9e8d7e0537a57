#!/usr/bin/env bash
# Runs a cross-built Windows program (by default the 64-bit unit tests) under
# Wine, in a Wine prefix of its own under build/ (made on first use), without
# any X display: the prefix uses Wine's null graphics driver, which still
# creates windows. The prefix runs both widths of program where the machine
# does; a 32-bit program it cannot run is reported skipped (scripts/wine-env.sh
# says why), with the count of the 64-bit build's tests when it is those.
# Usage: scripts/run-win-unit.sh [program.exe] [arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine-env.sh

exe=${1:-build/win64/tests/win32/zelp_win32_tests.exe}
shift || true
command -v wine >/dev/null || { echo "run-win-unit: wine is not installed" >&2; exit 1; }

wine_env_probe
export WINEPREFIX="$PWD/build/wineprefix-unit$([ "$ZELP_WINE_WIDTHS" = win64 ] && echo -win64)"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installers
unset DISPLAY WAYLAND_DISPLAY

# Only this prefix's server and processes, whatever happens.
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

ready="$WINEPREFIX/.zelp-ready"
if [ "$(cat "$ready" 2>/dev/null)" != "$(wine_env_widths)" ]; then
  rm -rf "$WINEPREFIX"
  _wine_env_step wineboot 300 "$ZELP_WINE" wineboot -i
  _wine_env_step "reg add" 60 "$ZELP_WINE" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f
  # The setting is read when the prefix starts: start it again.
  _wine_env_step "waiting for the prefix to settle (wineserver -w)" 60 wineserver -w
  wine_env_widths >"$ready"
fi

if ! wine_env_runs "$exe"; then
  what="$(basename "$exe") $*"
  if [ $# -eq 0 ]; then
    # The unit tests of the 32-bit build are those of the 64-bit one: counted there.
    sibling=${exe/\/win32\//\/win64\/}
    count=
    if [ "$sibling" != "$exe" ] && [ -f "$sibling" ]; then
      count=$(timeout 120 "$ZELP_WINE" "$sibling" --gtest_list_tests | grep -c '^  ' || true)
    fi
    what="${count:-the} Win32 unit tests of the 32-bit build"
  fi
  wine_env_skip "$what"
  exit 0
fi

timeout 600 "$ZELP_WINE" "$exe" "$@"
