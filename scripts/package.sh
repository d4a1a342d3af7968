#!/usr/bin/env bash
# Builds the release packages into build/packages/: the Windows ZIP
# (m3umerge.exe with README, LICENSE, CHANGELOG) and the Linux DEB and TGZ
# (the binary, the manual page and the documents).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

install_packages "${NATIVE_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}" "${PACKAGING_PACKAGES[@]}"
out="$PWD/build/packages"
rm -rf "$out"
mkdir -p "$out"
for preset in native windows; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  cpack --config "build/$preset/CPackConfig.cmake" -B "$out" >/dev/null
done
rm -rf "$out/_CPack_Packages"
ls -l "$out"
