#!/usr/bin/env bash
# Runs a cross-built Windows program (by default the 64-bit unit tests) under
# Wine, in a Wine prefix of its own under build/ (made on first use), without
# any X display: the prefix uses Wine's null graphics driver, which still
# creates windows. The prefix runs both widths of program.
# Usage: scripts/run-win-unit.sh [program.exe] [arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/wine-env.sh

exe=${1:-build/win64/tests/win32/zelp_win32_tests.exe}
shift || true
command -v wine >/dev/null || { echo "run-win-unit: wine is not installed" >&2; exit 1; }

export WINEPREFIX="$PWD/build/wineprefix-unit"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installers
unset DISPLAY WAYLAND_DISPLAY

# Only this prefix's server and processes, whatever happens.
trap 'wineserver -k >/dev/null 2>&1 || true' EXIT

ready="$WINEPREFIX/.zelp-ready"
if [ "$(cat "$ready" 2>/dev/null)" != "$(wine_env_widths)" ]; then
  rm -rf "$WINEPREFIX"
  timeout 300 wine wineboot -i >/dev/null 2>&1
  timeout 60 wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
  # The setting is read when the prefix starts: start it again.
  timeout 60 wineserver -w
  wine_env_widths >"$ready"
fi

timeout 600 wine "$exe" "$@"
