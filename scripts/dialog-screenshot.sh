#!/usr/bin/env bash
# Takes screenshots of the windowed tool under Wine on a virtual display
# (Xvfb), in a Wine prefix of its own, merging a copy of examples/ in C:\Music:
#   written   docs/dialog.png           one playlist over the limit left out
#   held      docs/dialog-held.png      the merged playlist held open by another program
#   progress  docs/dialog-progress.png  the progress window of a long merge
#   left-out  docs/dialog-left-out.png  many playlists left out, the list shown
# Needs the Windows build (cmake --build --preset windows), ImageMagick and
# xdotool (installed here).
#   scripts/dialog-screenshot.sh [STATE [OUT.png]]    default: every state, to docs/
set -euo pipefail
cd "$(dirname "$0")/.."
if [ -z "${M3UMERGE_ON_XVFB:-}" ]; then
  source scripts/lib.sh
  install_packages xvfb xauth imagemagick xdotool
  exec env M3UMERGE_ON_XVFB=1 xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
source scripts/lib.sh
export WINEPREFIX="$PWD/build/windows/wine-window"
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=" LC_ALL=C.UTF-8
scratch=$(mktemp -d)
music="$WINEPREFIX/drive_c/Music"
trap 'stop_wine "$WINEPREFIX"; rm -rf "$scratch" "$music"' EXIT
mkdir -p "$WINEPREFIX"

# The screen, trimmed to what is drawn on it, once it is wider than $1
# pixels and, if given, the file $2 exists; then $3 seconds later.
capture() {
  local out=$1 width=$2 ready=${3:-} settle=${4:-1}
  for _ in $(seq 60); do
    sleep 1
    import -window root "$scratch/screen.png"
    # The desktop shows up at once; the dialog once its text is there.
    [ "$(convert "$scratch/screen.png" -trim -format '%w' info:)" -gt "$width" ] &&
      { [ -z "$ready" ] || [ -e "$ready" ]; } && break
  done
  sleep "$settle"
  import -window root "$scratch/screen.png"
  # The screen around the desktop, then the desktop around the window.
  convert "$scratch/screen.png" -trim +repage -trim +repage "$out"
  echo "wrote $out"
}

# Runs the windowed tool on C:\Music\soundtrack.wsr on a desktop of size $1.
start_tool() {
  wine explorer /desktop=m3umerge,"$1" build/windows/m3umergew.exe 'C:\Music\soundtrack.wsr' \
    </dev/null >/dev/null 2>&1 &
}

shoot() {
  local state=$1 out=docs/dialog-$1.png
  [ "$state" = written ] && out=docs/dialog.png
  out=$(realpath -m "${2:-$out}")
  stop_wine "$WINEPREFIX"
  wineboot </dev/null >/dev/null 2>&1 || true
  rm -rf "$music"
  cp -R examples "$music"
  case $state in
    written)
      head -c 40960 /dev/zero | tr '\0' '#' >"$music/huge.m3u"
      start_tool 500x180
      capture "$out" 200 "$music/soundtrack.m3u"
      ;;
    held)
      printf '#EXTM3U\r\n' >"$music/soundtrack.m3u"
      # cmd holds the playlist open as the input of a command that waits,
      # sharing reading and writing but not deletion, as a player does.
      wine cmd /c 'ping -n 60 127.0.0.1 >nul <C:\Music\soundtrack.m3u' </dev/null >/dev/null 2>&1 &
      sleep 2
      start_tool 560x200
      capture "$out" 200 "" 3
      ;;
    progress)
      for i in $(seq 100000 120000); do printf '#EXTM3U\r\n' >"$music/p$i.m3u"; done
      start_tool 500x180
      capture "$out" 200
      ;;
    left-out)
      for i in $(seq 10 54); do head -c 40000 /dev/zero | tr '\0' '#' >"$music/Live $i.m3u"; done
      start_tool 640x760
      capture "$scratch/collapsed.png" 200 "$music/soundtrack.m3u"
      # Show the list: the focus starts on Close, and the expand control
      # comes next.
      xdotool search --name m3umerge windowactivate --sync >/dev/null 2>&1 || true
      xdotool key Tab space
      capture "$out" 200
      ;;
    *) echo "unknown state: $state" >&2; return 2 ;;
  esac
}

if [ $# -eq 0 ]; then
  for state in written held progress left-out; do shoot "$state"; done
else
  shoot "$@"
fi
