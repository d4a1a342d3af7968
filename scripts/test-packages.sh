#!/usr/bin/env bash
# Checks the packages in build/packages/ as a user would meet them: the
# binaries from the .deb and the .tar.gz and the exe from the zip (under
# Wine) merge the example folder into the expected bytes; the .deb is
# hardened and lintian-clean, with compressed documents and the bash
# completion, which offers .wsr files and folders; the .tar.gz binary is
# static; the exe carries its manifest and version information; SHA256SUMS
# matches.
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

# merges_examples BINARY...: runs the Linux tool on a copy of the example
# folder and checks the listing and the merged bytes.
merges_examples() {
  local copy listing
  copy=$(mktemp -d "$scratch/example.XXXXXX")
  cp -R examples/. "$copy"
  listing=$("$@" "$copy/soundtrack.wsr")
  [ "$listing" = $'aoi-sora.m3u\nchansons.m3u\nthemes.m3u' ] || fail "listing of $*: $listing"
  cmp "$copy/soundtrack.m3u" <(expected_for "$listing") || fail "merged bytes of $*"
}

# completes WORD: what the bash completion offers for "m3umerge WORD".
completes() {
  (
    source "$completion"
    COMP_WORDS=(m3umerge "$1")
    COMP_CWORD=1
    _m3umerge
    printf '%s\n' "${COMPREPLY[@]}" | sort
  )
}

deb=$(ls "$packages"/m3umerge_*.deb)
echo "== $(basename "$deb")"
dpkg-deb -x "$deb" "$scratch/root"
merges_examples "$scratch/root/usr/bin/m3umerge"
for file in usr/share/man/man1/m3umerge.1.gz usr/share/doc/m3umerge/copyright \
  usr/share/doc/m3umerge/changelog.gz usr/share/doc/m3umerge/README.md.gz \
  usr/share/doc/m3umerge/CHANGELOG.md.gz usr/share/bash-completion/completions/m3umerge; do
  [ -f "$scratch/root/$file" ] || fail "$file missing from the .deb"
done
dpkg-deb -f "$deb" Depends >"$scratch/depends"
grep -q libc6 "$scratch/depends" || fail "no computed dependencies"
# What dpkg-buildflags asks for on Debian 12; control flow protection needs
# a C library and start files built for it, which Debian 12 does not have.
hardening-check --nocfprotection "$scratch/root/usr/bin/m3umerge" ||
  fail "hardening"
lintian --fail-on error,warning,info --display-info --tag-display-limit 0 "$deb" || fail "lintian"

completion="$scratch/root/usr/share/bash-completion/completions/m3umerge"
mkdir -p "$scratch/complete/music" "$scratch/complete/Music Box"
touch "$scratch/complete/a.wsr" "$scratch/complete/B.WSR" "$scratch/complete/c.m3u"
[ "$(cd "$scratch/complete" && completes '')" = $'B.WSR\nMusic Box\na.wsr\nmusic' ] ||
  fail "completion offers: $(cd "$scratch/complete" && completes '')"
[ "$(cd "$scratch/complete" && completes 'M')" = 'Music Box' ] || fail "completion of M"

tgz=$(ls "$packages"/m3umerge-*-Linux.tar.gz)
echo "== $(basename "$tgz")"
mkdir "$scratch/tgz"
tar -xzf "$tgz" -C "$scratch/tgz"
top=$(find "$scratch/tgz" -mindepth 1 -maxdepth 1 -type d)
file "$top/bin/m3umerge" >"$scratch/file"
grep -q 'static-pie linked\|statically linked' "$scratch/file" || fail "not static: $(cat "$scratch/file")"
merges_examples "$top/bin/m3umerge"
for file in README.md LICENSE CHANGELOG.md share/man/man1/m3umerge.1.gz \
  share/bash-completion/completions/m3umerge; do
  [ -f "$top/$file" ] || fail "$file missing from the .tar.gz"
done
[ ! -e "$top/share/doc" ] || fail "Debian's documents in the .tar.gz"

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
(cd "$packages" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS"
echo "packages: all checks passed"
