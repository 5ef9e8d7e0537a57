#!/usr/bin/env bash
# A private Wine prefix and X server for running the Windows program.
#
#   scripts/wine-env.sh run [--build DIR] -- COMMAND...
#       prepares the prefix (once), starts Xvfb on a free display and a
#       persistent wineserver, runs COMMAND with WINEPREFIX, DISPLAY etc.
#       exported, then stops both. Exits with COMMAND's status.
#   scripts/wine-env.sh prepare [--build DIR]
#       only creates and configures the prefix.
#   scripts/wine-env.sh widths | skipped
#       prints the program widths this machine runs (win64 [win32]), or the
#       summary of the tests skipped for it (build/skipped.txt).
#
# Sourcing the file instead defines wine_env_setup BUILD_DIR and
# wine_env_cleanup for callers that want to manage the lifetime themselves.
#
# The prefix lives in BUILD_DIR/wine/prefix (default: build; prefix-win64
# where Wine runs only 64-bit programs). Cleanup stops
# only this prefix's wineserver (and so only its processes) and only the Xvfb
# that was started here.

_wine_env_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# Bump when the settings below change, so existing prefixes are updated.
_wine_env_version=4

_wine_env_exports() {
  wine_env_probe
  # A prefix of its own for a 64-bit-only Wine, so that trying both ways on
  # one machine does not make the other one again.
  export WINEPREFIX="$1/wine/prefix$([ "$ZELP_WINE_WIDTHS" = win64 ] && echo -win64)"
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

# What this machine runs, found out by running it once: Wine's 32-bit loader
# fails on a kernel without IA32 emulation even when wine32:i386 is
# installed, and the `wine` wrapper would still pick it. Where it cannot run,
# the 64-bit loader is used directly (ZELP_WINE) and the 32-bit programs'
# tests are reported skipped. ZELP_WINE32_LOADER names another loader to
# probe: a failing one stands for such a machine. The answer is exported, so
# the scripts started from here do not probe again.
wine_env_probe() {
  [ -n "${ZELP_WINE_WIDTHS:-}" ] && return 0
  local loader=${ZELP_WINE32_LOADER:-/usr/lib/wine/wine} out status=0
  out=$("$loader" --version 2>&1) || status=$?
  if [ $status -eq 0 ]; then
    ZELP_WINE_WIDTHS="win64 win32" ZELP_WINE=wine ZELP_WINE32_SKIP=
  else
    ZELP_WINE_WIDTHS=win64 ZELP_WINE=/usr/lib/wine/wine64
    if [ ! -e "$loader" ]; then
      ZELP_WINE32_SKIP="Wine's 32-bit half (wine32:i386) is not installed"
    elif [ $status -eq 126 ] && grep -q 'Exec format error' <<<"$out"; then
      ZELP_WINE32_SKIP="32-bit programs cannot run on this kernel (no IA32 emulation)"
    else
      ZELP_WINE32_SKIP="Wine's 32-bit loader $loader does not run (status $status: $(head -n1 <<<"$out"))"
    fi
    # What the wrapper sets when it falls back to the 64-bit loader.
    export WINELOADER=/usr/lib/wine/wine64
  fi
  export ZELP_WINE_WIDTHS ZELP_WINE ZELP_WINE32_SKIP
}

# The program widths this Wine runs. A prefix made before Wine's 32-bit half
# could run cannot run 32-bit programs: prefixes record what they were made
# with and are made again when it changes.
wine_env_widths() {
  wine_env_probe
  echo "$ZELP_WINE_WIDTHS"
}

# The width of a Windows program, from its PE header: win32 or win64.
wine_env_exe_width() {
  local pe machine
  pe=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  machine=$(od -An -tx2 -j$((pe + 4)) -N2 "$1" | tr -d ' ')
  if [ "$machine" = 014c ]; then echo win32; else echo win64; fi
}

# True when this machine runs the Windows program EXE.
wine_env_runs() {
  wine_env_probe
  case " $ZELP_WINE_WIDTHS " in *" $(wine_env_exe_width "$1") "*) return 0 ;; esac
  return 1
}

# The skips of this run, one "reason<TAB>what" a line, for the closing
# summary of `make test` (wine_env_skipped); ZELP_SKIP_LOG names another file.
_wine_env_skips=${ZELP_SKIP_LOG:-$_wine_env_root/build/skipped.txt}

# Says that WHAT (what is not run, with its count) is skipped, and why.
wine_env_skip() {
  echo "SKIPPED: $ZELP_WINE32_SKIP: $1"
  mkdir -p "$(dirname "$_wine_env_skips")"
  printf '%s\t%s\n' "$ZELP_WINE32_SKIP" "$1" >>"$_wine_env_skips"
}

# One line per reason with everything skipped for it; nothing when nothing was.
wine_env_skipped() {
  [ -s "$_wine_env_skips" ] || return 0
  awk -F'\t' '{ n[$1]++; w[$1] = n[$1] == 1 ? $2 : w[$1] "; " $2 }
              END { for (r in n) printf "SKIPPED: %s: %s\n", r, w[r] }' "$_wine_env_skips"
}

# Runs a tool of the set-up; when it fails, says so with the end of what it
# printed. Usage: _wine_env_step WHAT TIMEOUT COMMAND...
_wine_env_step() {
  local what=$1 seconds=$2 log status=0
  shift 2
  log=$(mktemp)
  timeout "$seconds" "$@" >"$log" 2>&1 || status=$?
  if [ $status -ne 0 ]; then
    echo "wine-env: $what failed (status $status$([ $status -eq 124 ] && echo ", timed out after ${seconds}s")); the end of its output:" >&2
    tail -n 20 "$log" | sed 's/^/    /' >&2
  fi
  rm -f "$log"
  return $status
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
  _wine_env_step wineboot 300 "$ZELP_WINE" wineboot -i || return 1
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
  _wine_env_step regedit 120 "$ZELP_WINE" regedit /S "$reg" || return 1
  _wine_env_step "waiting for the prefix to settle (wineserver -w)" 120 wineserver -w || return 1
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
  echo "wine-env: Xvfb did not start; the end of its output ($dir/xvfb.log):" >&2
  tail -n 20 "$dir/xvfb.log" | sed 's/^/    /' >&2
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
    widths) wine_env_widths ;;
    skipped) wine_env_skipped ;;
    *)
      echo "usage: $0 prepare|run|widths|skipped [--build DIR] [-- COMMAND...]" >&2
      exit 2
      ;;
  esac
fi
