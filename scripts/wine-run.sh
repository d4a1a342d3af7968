#!/usr/bin/env bash
# Runs a Windows program under Wine with a prefix of its own in the build
# tree (build/windows/wine), quietly and without any dialog.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX="${WINEPREFIX:-$here/build/windows/wine}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
unset DISPLAY WAYLAND_DISPLAY
mkdir -p "$WINEPREFIX"
# Start a server that outlives each program by a minute and bring up Wine's
# own services with it, all detached from our output: whoever reads our
# output (ctest) then need not wait for them to quit, and later programs
# start in a fraction of a second. The server answers 2 when it already runs.
if wineserver -p60 </dev/null >/dev/null 2>&1; then
  if [ -f "$WINEPREFIX/system.reg" ]; then
    wineboot </dev/null >/dev/null 2>&1 || true
  else
    wineboot --init </dev/null >/dev/null 2>&1 || true
  fi
fi
exec wine "$@"
