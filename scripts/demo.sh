#!/usr/bin/env bash
# Builds the native tool and runs it on a copy of the bundled example folder
# in build/demo/, then shows the merged playlist as text, says how each
# input was taken, and shows its first line as bytes (signature, CR LF).
# The checkout itself stays unchanged.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

install_packages "${NATIVE_PACKAGES[@]}"
require_cmake
cmake --preset native >/dev/null
cmake --build --preset native --target m3umerge >/dev/null

rm -rf build/demo
cp -R examples build/demo
echo "The example folder:"
ls -l build/demo
echo
echo "\$ m3umerge build/demo/soundtrack.wsr"
build/native/m3umerge build/demo/soundtrack.wsr
echo
echo "The merged playlist, build/demo/soundtrack.m3u ($(wc -c <build/demo/soundtrack.m3u) bytes), as text:"
echo "----"
tr -d '\r' <build/demo/soundtrack.m3u
echo "----"
echo
echo "How each input was taken:"
for playlist in build/demo/*.m3u; do
  [ "$playlist" = build/demo/soundtrack.m3u ] && continue
  if [ "$(head -c3 "$playlist" | od -An -tx1 | tr -d ' ')" = efbbbf ]; then
    echo "  $(basename "$playlist"): UTF-8 with signature, copied as it is"
  else
    echo "  $(basename "$playlist"): Windows-1252, converted to UTF-8"
  fi
done
echo
echo "Its first line as bytes: the signature EF BB BF, then the text and CR LF:"
head -n1 build/demo/soundtrack.m3u | od -A d -t x1z
