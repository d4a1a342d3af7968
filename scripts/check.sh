#!/usr/bin/env bash
# Installs what is missing, then: the native build and its tests, the same
# tests under AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer,
# the static checks, a bounded run of each fuzzer, and the Windows build with
# its tests under Wine; then the shell completions, the release packages,
# their manual page and a real player on a merged playlist. Exits non-zero on
# any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

install_packages "${NATIVE_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}" "${ANALYSIS_PACKAGES[@]}" \
  "${PACKAGING_PACKAGES[@]}"
install_packages "$(fuzzer_runtime_package)"
require_cmake

echo "== native build and tests"
cmake --preset native >/dev/null
cmake --build --preset native
ctest --preset native
report_skipped build/native

echo "== native tests under the sanitizers"
cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan
report_skipped build/asan

echo "== static checks"
cmake --preset windows >/dev/null
./scripts/lint.sh

echo "== fuzzing"
./scripts/fuzz.sh

echo "== Windows build and tests (under Wine)"
cmake --build --preset windows
# scripts/wine-run.sh keeps a Wine server up between tests; stop it at the end.
trap 'stop_wine "$PWD/build/windows/wine"' EXIT
ctest --preset windows
report_skipped build/windows

echo "== completions in bash, zsh and fish"
./tests/completion_test.sh

echo "== packages"
./scripts/package.sh
# The version in .Os is wanted, which mandoc's style notes question.
mandoc -Tlint -W warning build/native/m3umerge.1
./scripts/test-packages.sh

echo "== a real player"
./scripts/test-player.sh
