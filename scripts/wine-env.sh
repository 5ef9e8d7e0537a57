#!/usr/bin/env bash
# A private Wine prefix and X server for running the Windows program.
#
#   scripts/wine-env.sh run [--build DIR] -- COMMAND...
#       prepares the prefix (once), starts Xvfb on a free display and a
#       persistent wineserver, runs COMMAND with WINEPREFIX, DISPLAY etc.
#       exported, then stops both. Exits with COMMAND's status.
#   scripts/wine-env.sh prepare [--build DIR]
#       only creates and configures the prefix.
#
# Sourcing the file instead defines wine_env_setup BUILD_DIR and
# wine_env_cleanup for callers that want to manage the lifetime themselves.
#
# The prefix lives in BUILD_DIR/wine/prefix (default: build). Cleanup stops
# only this prefix's wineserver (and so only its processes) and only the Xvfb
# that was started here.

_wine_env_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Bump when the settings below change, so existing prefixes are updated.
_wine_env_version=4

_wine_env_exports() {
  export WINEPREFIX="$1/wine/prefix"
  export WINEARCH=win64
  export WINEDEBUG=-all
  # Without Mono and Gecko the prefix never offers to download them.
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  # A Chinese user locale where the system has one; the font substitutes
  # below are what makes Chinese text render either way.
  if locale -a 2>/dev/null | grep -qix 'zh_CN.utf8'; then
    export LANG=zh_CN.UTF-8 LC_ALL=zh_CN.UTF-8
  else
    export LANG=C.UTF-8 LC_ALL=C.UTF-8
  fi
}

# The program widths this Wine runs. A prefix made before Wine's 32-bit half
# was installed cannot run 32-bit programs: prefixes record what they were
# made with and are made again when it changes.
wine_env_widths() {
  if [ -x /usr/lib/wine/wine ]; then echo "win64 win32"; else echo "win64"; fi
}

# Creates and configures the prefix unless it is already current.
_wine_env_prepare() {
  local stamp="$WINEPREFIX/.zelp-prefix"
  local want
  want="$_wine_env_version $(wine_env_widths)"
  [ "$(cat "$stamp" 2>/dev/null)" = "$want" ] && return 0
  rm -rf "$WINEPREFIX"
  mkdir -p "$WINEPREFIX"
  echo "wine-env: preparing the Wine prefix $WINEPREFIX" >&2
  timeout 300 wineboot -i >/dev/null 2>&1 || { echo "wine-env: wineboot failed" >&2; return 1; }
  # Window caption buttons are drawn with Marlett; this Wine build does not
  # find its own copy, the prefix's font folder is always searched.
  local f
  for f in /usr/share/wine/fonts/marlett.ttf; do
    [ -f "$f" ] && cp "$f" "$WINEPREFIX/drive_c/windows/Fonts/"
  done
  local reg="$WINEPREFIX/zelp-settings.reg"
  # The dialog's font "MS Shell Dlg" must map to a font with CJK glyphs.
  # Unmanaged windows close at once instead of waiting for a window manager
  # that Xvfb does not have. A crash must fail the test, not open a dialog.
  cat > "$reg" <<'EOF'
REGEDIT4

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\FontSubstitutes]
"MS Shell Dlg"="WenQuanYi Micro Hei"
"MS Shell Dlg 2"="WenQuanYi Micro Hei"

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"
"Decorated"="Y"

[HKEY_CURRENT_USER\Software\Wine\WineDbg]
"ShowCrashDialog"=dword:00000000
EOF
  timeout 120 wine regedit /S "$reg" >/dev/null 2>&1 || { echo "wine-env: regedit failed" >&2; return 1; }
  timeout 120 wineserver -w || { echo "wine-env: the prefix did not settle" >&2; return 1; }
  echo "$want" >"$stamp"
}

# Starts Xvfb on a display it picks itself (-displayfd) and waits for it.
_wine_env_start_x() {
  local dir="$1/wine"
  mkdir -p "$dir"
  rm -f "$dir/display"
  Xvfb -displayfd 7 -screen 0 1024x768x24 -nolisten tcp -noreset 7>"$dir/display" \
    >"$dir/xvfb.log" 2>&1 &
  _wine_env_xvfb_pid=$!
  local i
  for i in $(seq 1 100); do
    if [ -s "$dir/display" ]; then
      export DISPLAY=":$(head -n1 "$dir/display")"
      return 0
    fi
    kill -0 "$_wine_env_xvfb_pid" 2>/dev/null || break
    sleep 0.1
  done
  echo "wine-env: Xvfb did not start (see $dir/xvfb.log)" >&2
  return 1
}

wine_env_setup() {
  local build="${1:-$_wine_env_root/build}"
  mkdir -p "$build"
  build=$(cd "$build" && pwd)
  _wine_env_exports "$build"
  _wine_env_start_x "$build" || return 1
  _wine_env_prepare || return 1
  # One wineserver for the whole session: starting every program is quicker.
  wineserver -p
}

wine_env_cleanup() {
  if [ -n "${WINEPREFIX:-}" ]; then
    wineserver -k >/dev/null 2>&1 || true
    timeout 60 wineserver -w >/dev/null 2>&1 || true
  fi
  if [ -n "${_wine_env_xvfb_pid:-}" ]; then
    kill "$_wine_env_xvfb_pid" 2>/dev/null || true
    wait "$_wine_env_xvfb_pid" 2>/dev/null || true
    _wine_env_xvfb_pid=
  fi
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  set -euo pipefail
  cmd=${1:-}
  shift || true
  build="$_wine_env_root/build"
  if [ "${1:-}" = "--build" ]; then build=$2; shift 2; fi
  case "$cmd" in
    prepare)
      mkdir -p "$build"
      build=$(cd "$build" && pwd)
      _wine_env_exports "$build"
      # wineboot wants a display for its windows; an X server only for that.
      _wine_env_start_x "$build"
      trap wine_env_cleanup EXIT
      _wine_env_prepare
      ;;
    run)
      [ "${1:-}" = "--" ] && shift
      [ $# -gt 0 ] || { echo "usage: $0 run [--build DIR] -- COMMAND..." >&2; exit 2; }
      trap wine_env_cleanup EXIT
      trap 'exit 130' INT TERM
      wine_env_setup "$build"
      status=0
      "$@" || status=$?
      exit $status
      ;;
    *)
      echo "usage: $0 prepare|run [--build DIR] [-- COMMAND...]" >&2
      exit 2
      ;;
  esac
fi
