#!/usr/bin/env bash
# Runs the cross-built Windows unit tests under Wine, in a Wine prefix of
# their own under build/ (made on first use), without any X display: the
# prefix uses Wine's null graphics driver, which still creates windows.
# Usage: scripts/run-win-unit.sh [test.exe] [gtest arguments...]
set -euo pipefail
cd "$(dirname "$0")/.."

exe=${1:-build/win64/tests/win32/zelp_win32_tests.exe}
shift || true
wine=$(command -v wine64 || command -v wine || true)
[ -x /usr/lib/wine/wine64 ] && wine=/usr/lib/wine/wine64
[ -n "$wine" ] || { echo "run-win-unit: wine is not installed" >&2; exit 1; }
server=$(command -v wineserver || echo /usr/lib/wine/wineserver)

export WINEPREFIX="$PWD/build/wineprefix-unit"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="  # no Mono or Gecko installers
unset DISPLAY WAYLAND_DISPLAY

# Only this prefix's server and processes, whatever happens.
trap '"$server" -k >/dev/null 2>&1 || true' EXIT

if [ ! -f "$WINEPREFIX/.zelp-ready" ]; then
  rm -rf "$WINEPREFIX"
  timeout 300 "$wine" wineboot -i >/dev/null 2>&1
  timeout 60 "$wine" reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
  # The setting is read when the prefix starts: start it again.
  timeout 60 "$server" -w
  touch "$WINEPREFIX/.zelp-ready"
fi

timeout 600 "$wine" "$exe" "$@"
