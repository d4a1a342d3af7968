#!/usr/bin/env bash
# Takes docs/dialog.png: the windowed tool's dialog after a merge of a copy
# of examples/ with one playlist too large, under Wine on a virtual display
# (Xvfb), in a Wine prefix of its own. Needs the Windows build
# (cmake --build --preset windows) and ImageMagick.
#   scripts/dialog-screenshot.sh [OUT.png]
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-docs/dialog.png}")
if [ -z "${M3UMERGE_ON_XVFB:-}" ]; then
  source scripts/lib.sh
  install_packages xvfb xauth imagemagick
  exec env M3UMERGE_ON_XVFB=1 xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$out"
fi
source scripts/lib.sh
export WINEPREFIX="$PWD/build/windows/wine-window"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=" LC_ALL=C.UTF-8
scratch=$(mktemp -d)
music="$WINEPREFIX/drive_c/Music"
trap 'stop_wine "$WINEPREFIX"; rm -rf "$scratch" "$music"' EXIT
mkdir -p "$WINEPREFIX"
wineboot </dev/null >/dev/null 2>&1 || true
# In the prefix's drive C, so that the dialog shows C:\Music\.
rm -rf "$music"
cp -R examples "$music"
head -c 40960 /dev/zero | tr '\0' '#' >"$music/huge.m3u"
anchor='C:\Music\soundtrack.wsr'
# Wine's own desktop window draws the dialog's frame and title.
wine explorer /desktop=m3umerge,500x180 build/windows/m3umergew.exe "$anchor" </dev/null &
for _ in $(seq 60); do
  sleep 1
  import -window root "$scratch/screen.png"
  # The desktop shows up at once; the dialog once its text is there.
  [ "$(convert "$scratch/screen.png" -trim -format '%w' info:)" -gt 200 ] && [ -f "$music/soundtrack.m3u" ] && break
done
sleep 1
import -window root "$scratch/screen.png"
convert "$scratch/screen.png" -trim +repage "$out"
echo "wrote $out"
