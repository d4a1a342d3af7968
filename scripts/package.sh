#!/usr/bin/env bash
# Builds the release packages into build/packages/: the Windows ZIP
# (m3umerge.exe and m3umergew.exe with README, LICENSE, CHANGELOG and
# THIRD-PARTY-NOTICES as .txt files) and installer (MSI, the same files
# installed for the current user), the Debian package and the portable Linux
# archive (a statically linked binary, with what the GNU C Library's licence
# asks to go with it), each named with the version and the system, and
# SHA256SUMS.
# Reproducible: time stamps come from SOURCE_DATE_EPOCH, by default the time
# of the last commit, so any clone of one commit gives the same bytes.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh

install_packages "${NATIVE_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}" "${PACKAGING_PACKAGES[@]}"
install_packages "$(glibc_source_package)"
require_cmake
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null) ||
    { echo "SOURCE_DATE_EPOCH is not set and this is no git checkout" >&2; exit 1; }
fi
export SOURCE_DATE_EPOCH
out="$PWD/build/packages"
rm -rf "$out"
mkdir -p "$out"
for preset in native static windows; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  cpack --config "build/$preset/CPackConfig.cmake" -B "$out" >/dev/null
done
rm -rf "$out/_CPack_Packages"
# The installer holds what the ZIP holds.
source build/windows/msi.env
rm -rf build/windows/msi-files
cmake --install build/windows --prefix build/windows/msi-files --strip >/dev/null
make_msi build/windows/msi-files "$out/$msi_name" "${msi_variables[@]}"
(cd "$out" && sha256sum -- *.deb *.tar.gz *.zip *.msi >SHA256SUMS)
ls -l "$out"
cat "$out/SHA256SUMS"
