#!/usr/bin/env bash
# Builds the native tool and runs it on a copy of the bundled example folder
# in build/demo/, then shows the listing and the start of the merged
# playlist as bytes. The checkout itself stays unchanged.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

install_packages "${NATIVE_PACKAGES[@]}"
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
echo "The merged playlist, build/demo/soundtrack.m3u ($(wc -c <build/demo/soundtrack.m3u) bytes), first 256 bytes:"
od -A d -t x1z -N 256 build/demo/soundtrack.m3u
