#!/usr/bin/env bash
# Installs what is missing, builds the native and the Windows tool and runs
# every test: natively first, then the Windows build under Wine. Exits
# non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

install_packages "${NATIVE_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}"

echo "== native build and tests"
cmake --preset native >/dev/null
cmake --build --preset native
ctest --preset native

echo "== Windows build and tests (under Wine)"
cmake --preset windows >/dev/null
cmake --build --preset windows
# scripts/wine-run.sh keeps a Wine server up between tests; stop it at the end.
trap 'WINEPREFIX="$PWD/build/windows/wine" wineserver -k >/dev/null 2>&1 || true' EXIT
ctest --preset windows
