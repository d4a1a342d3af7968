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
# A server that outlives each program by a minute, detached from our output:
# programs then start in a fraction of a second, and whoever reads our output
# (ctest) is not kept waiting for the server to quit.
wineserver -p60 </dev/null >/dev/null 2>&1 || true
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  wineboot --init </dev/null >/dev/null 2>&1 || true
fi
exec wine "$@"
