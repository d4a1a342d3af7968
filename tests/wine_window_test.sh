#!/usr/bin/env bash
# The windowed tool's dialogs under Wine, which shows windows only on a
# display: a virtual one (Xvfb), and a Wine prefix of its own, whose server
# and desktop end with the test, so that no other test meets the display.
#   wine_window_test.sh PATH/TO/m3umerge_window_tests.exe
set -euo pipefail
exe="$1"
here=$(cd "$(dirname "$0")/.." && pwd)
if [ -z "${M3UMERGE_ON_XVFB:-}" ]; then
  command -v xvfb-run >/dev/null || { echo "SKIP: xvfb-run is not installed (Debian: xvfb)"; exit 77; }
  exec env M3UMERGE_ON_XVFB=1 xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
source "$here/scripts/lib.sh"
export WINEPREFIX="$here/build/windows/wine-window"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe="
# The dialog's words are checked in English.
export LC_ALL=C.UTF-8
trap 'stop_wine "$WINEPREFIX"' EXIT
mkdir -p "$WINEPREFIX"
if [ -f "$WINEPREFIX/system.reg" ]; then
  wineboot </dev/null >/dev/null 2>&1 || true
else
  wineboot --init </dev/null >/dev/null 2>&1 || true
fi
wine "$exe" </dev/null
