#!/usr/bin/env bash
# Checks the packages in build/packages/ as a user would meet them: the
# binary from the .deb and the exe from the zip (under Wine) merge the
# example folder into the expected bytes; lintian finds no error in the
# .deb; the exe carries its manifest and version information.
set -euo pipefail
cd "$(dirname "$0")/.."
packages="$PWD/build/packages"
golden="$PWD/tests/golden"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
# The merged playlist expected for the example folder, given the listing:
# the signature, then each playlist's converted text and CR LF, in that order.
expected_for() {
  printf '\xEF\xBB\xBF'
  local name
  for name in $(printf '%s' "$1" | tr -d '\r'); do cat "$golden/$name.merged"; done
}

deb=$(ls "$packages"/m3umerge_*.deb)
echo "== $(basename "$deb")"
dpkg-deb -x "$deb" "$scratch/root"
cp -R examples "$scratch/deb-example"
listing=$("$scratch/root/usr/bin/m3umerge" "$scratch/deb-example/soundtrack.wsr")
[ "$listing" = $'aoi-sora.m3u\nchansons.m3u\nthemes.m3u' ] || fail "listing from the .deb: $listing"
cmp "$scratch/deb-example/soundtrack.m3u" <(expected_for "$listing") || fail "merged bytes from the .deb"
for file in usr/share/man/man1/m3umerge.1.gz usr/share/doc/m3umerge/copyright \
  usr/share/doc/m3umerge/README.md usr/share/doc/m3umerge/CHANGELOG.md; do
  [ -f "$scratch/root/$file" ] || fail "$file missing from the .deb"
done
dpkg-deb -f "$deb" Depends >"$scratch/depends"
grep -q libc6 "$scratch/depends" || fail "no computed dependencies"
lintian --fail-on error --tag-display-limit 0 "$deb" || fail "lintian"

tgz=$(ls "$packages"/m3umerge-*-Linux.tar.gz)
echo "== $(basename "$tgz")"
tar -tzf "$tgz" >"$scratch/tgz-files"
grep -q '/bin/m3umerge$' "$scratch/tgz-files" || fail "no binary in the .tar.gz"
grep -q '/share/man/man1/m3umerge.1.gz$' "$scratch/tgz-files" || fail "no manual page in the .tar.gz"

zip=$(ls "$packages"/m3umerge-*-win64.zip)
echo "== $(basename "$zip")"
unzip -q "$zip" -d "$scratch/zip"
exe=$(find "$scratch/zip" -name m3umerge.exe)
for file in README.md LICENSE CHANGELOG.md; do
  [ -f "$(dirname "$exe")/$file" ] || fail "$file missing from the zip"
done
cp -R examples "$scratch/zip-example"
windows_anchor="Z:$(echo "$scratch/zip-example/soundtrack.wsr" | tr / '\\')"
listing=$(scripts/wine-run.sh "$exe" "$windows_anchor" </dev/null)
# Windows lists in the folder's own order; every line ends in CR LF.
[ "$(printf '%s\n' "$listing" | sort)" = $'aoi-sora.m3u\r\nchansons.m3u\r\nthemes.m3u\r' ] ||
  fail "listing from the zip: $listing"
cmp "$scratch/zip-example/soundtrack.m3u" <(expected_for "$listing") || fail "merged bytes from the zip"
strings "$exe" >"$scratch/exe-strings"
strings -el "$exe" >"$scratch/exe-wide-strings"
grep -q '<longPathAware[^>]*>true</longPathAware>' "$scratch/exe-strings" || fail "no long-path manifest"
grep -q 'level="asInvoker"' "$scratch/exe-strings" || fail "no asInvoker manifest"
grep -q '^FileVersion$' "$scratch/exe-wide-strings" || fail "no version information"
grep -qx "$(sed -n 's/^project(m3umerge VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)" \
  "$scratch/exe-wide-strings" ||
  fail "version information does not carry the project's version"
echo "packages: all checks passed"
