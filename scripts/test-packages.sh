#!/usr/bin/env bash
# Checks the packages in build/packages/ as a user would meet them: the
# binaries from the .deb and the .tar.gz and the exe from the zip (under
# Wine) merge the example folder into the expected bytes; every package is
# named with one version, the project's (a development build's says so),
# which each binary carries (the Linux ones in their package note and as
# text, the exe in its version information) and the manual page too; the
# .deb is hardened and lintian-clean, with compressed documents, the
# completions and the project's homepage and maintainer; the .tar.gz binary
# is static; each package has the third-party notices; both exes (the
# console tool and its windowed twin) carry their manifests and version; the
# MSI installs for the user in a Wine prefix of its own, with a right-click
# entry and a Send to entry that start the windowed twin, which merges like
# the zip's exe; it is replaced in place by another build of its version and uninstalls without a
# trace; SHA256SUMS matches.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib.sh
packages="$PWD/build/packages"
golden="$PWD/tests/golden"
scratch=$(mktemp -d)
msi_prefix="$PWD/build/msi-wine"
trap 'stop_wine "$msi_prefix"; stop_wine "$PWD/build/windows/wine"; rm -rf "$scratch"' EXIT
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

# carries_version BINARY TYPE: the package note and the text that name
# BINARY's package and version.
carries_version() {
  readelf --notes "$1" >"$scratch/notes"
  grep -qF "Packaging Metadata: {\"type\":\"$2\",\"os\":\"" "$scratch/notes" &&
    grep -qF "\"name\":\"m3umerge\",\"version\":\"$version\"}" "$scratch/notes" ||
    fail "package note of $1: $(cat "$scratch/notes")"
  strings "$1" >"$scratch/strings"
  grep -qxF "m3umerge $version" "$scratch/strings" || fail "no 'm3umerge $version' in $1"
}

deb=$(ls "$packages"/m3umerge_*.deb)
echo "== $(basename "$deb")"
# The one version of every package: the project's, or a development build of it.
version=$(dpkg-deb -f "$deb" Version)
project_version=$(sed -n 's/^project(m3umerge VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
[[ $version == "$project_version" || $version == "$project_version~dev+"* ]] ||
  fail "version $version is not the project's, $project_version"
[ "$(basename "$deb")" = "m3umerge_${version}_amd64.deb" ] || fail "name of $deb"
[ "$(dpkg-deb -f "$deb" Maintainer)" = "The m3umerge developers <m3umerge@example.org>" ] ||
  fail "maintainer: $(dpkg-deb -f "$deb" Maintainer)"
[ -n "$(dpkg-deb -f "$deb" Homepage)" ] || fail "no homepage"
dpkg-deb -x "$deb" "$scratch/root"
merges_examples "$scratch/root/usr/bin/m3umerge"
carries_version "$scratch/root/usr/bin/m3umerge" deb
for file in usr/share/man/man1/m3umerge.1.gz usr/share/doc/m3umerge/copyright \
  usr/share/doc/m3umerge/changelog.gz usr/share/doc/m3umerge/README.md.gz \
  usr/share/doc/m3umerge/CHANGELOG.md.gz usr/share/doc/m3umerge/THIRD-PARTY-NOTICES.gz \
  usr/share/bash-completion/completions/m3umerge usr/share/zsh/vendor-completions/_m3umerge \
  usr/share/fish/vendor_completions.d/m3umerge.fish; do
  [ -f "$scratch/root/$file" ] || fail "$file missing from the .deb"
done
zcat "$scratch/root/usr/share/man/man1/m3umerge.1.gz" >"$scratch/manual"
grep -qxF ".Os m3umerge $version" "$scratch/manual" || fail "the manual page names another version"
dpkg-deb -f "$deb" Depends >"$scratch/depends"
grep -q libc6 "$scratch/depends" || fail "no computed dependencies"
# What dpkg-buildflags asks for on Debian 12; control flow protection needs
# a C library and start files built for it, which Debian 12 does not have.
hardening-check --nocfprotection "$scratch/root/usr/bin/m3umerge" ||
  fail "hardening"
# lintian leaves its caches in TMPDIR.
TMPDIR="$scratch" lintian --fail-on error,warning,info --display-info --tag-display-limit 0 "$deb" ||
  fail "lintian"

tgz="$packages/m3umerge-$version-linux-x86_64.tar.gz"
echo "== $(basename "$tgz")"
mkdir "$scratch/tgz"
tar -xzf "$tgz" -C "$scratch/tgz"
top=$(find "$scratch/tgz" -mindepth 1 -maxdepth 1 -type d)
file "$top/bin/m3umerge" >"$scratch/file"
grep -q 'static-pie linked\|statically linked' "$scratch/file" || fail "not static: $(cat "$scratch/file")"
merges_examples "$top/bin/m3umerge"
carries_version "$top/bin/m3umerge" tgz
for file in README.md LICENSE CHANGELOG.md THIRD-PARTY-NOTICES share/man/man1/m3umerge.1.gz \
  share/bash-completion/completions/m3umerge share/zsh/site-functions/_m3umerge \
  share/fish/vendor_completions.d/m3umerge.fish; do
  [ -f "$top/$file" ] || fail "$file missing from the .tar.gz"
done
[ ! -e "$top/share/doc" ] || fail "Debian's documents in the .tar.gz"
# The static binary holds the GNU C Library: its licence and where the sources are.
grep -q 'GNU LESSER GENERAL PUBLIC LICENSE' "$top/THIRD-PARTY-NOTICES" &&
  grep -q '^Source offer' "$top/THIRD-PARTY-NOTICES" || fail "no source offer in THIRD-PARTY-NOTICES"

zip="$packages/m3umerge-$version-windows-x86_64.zip"
echo "== $(basename "$zip")"
unzip -q "$zip" -d "$scratch/zip"
exe=$(find "$scratch/zip" -name m3umerge.exe)
for file in m3umergew.exe README.md LICENSE CHANGELOG.md THIRD-PARTY-NOTICES; do
  [ -f "$(dirname "$exe")/$file" ] || fail "$file missing from the zip"
done
cp -R examples "$scratch/zip-example"
windows_anchor="Z:$(echo "$scratch/zip-example/soundtrack.wsr" | tr / '\\')"
listing=$(scripts/wine-run.sh "$exe" "$windows_anchor" </dev/null)
# Windows lists in the folder's own order; every line ends in CR LF.
[ "$(printf '%s\n' "$listing" | sort)" = $'aoi-sora.m3u\r\nchansons.m3u\r\nthemes.m3u\r' ] ||
  fail "listing from the zip: $listing"
cmp "$scratch/zip-example/soundtrack.m3u" <(expected_for "$listing") || fail "merged bytes from the zip"
for program in "$exe" "$(dirname "$exe")/m3umergew.exe"; do
  strings "$program" >"$scratch/exe-strings"
  strings -el "$program" >"$scratch/exe-wide-strings"
  grep -q '<longPathAware[^>]*>true</longPathAware>' "$scratch/exe-strings" ||
    fail "no long-path manifest in $program"
  grep -q 'level="asInvoker"' "$scratch/exe-strings" || fail "no asInvoker manifest in $program"
  for field in FileVersion ProductVersion; do
    [ "$(grep -A1 -x "$field" "$scratch/exe-wide-strings" | sed -n 2p)" = "$version" ] ||
      fail "the $field of $program is not $version"
  done
  [ "$(grep -A1 -x OriginalFilename "$scratch/exe-wide-strings" | sed -n 2p)" = \
    "$(basename "$program")" ] || fail "the OriginalFilename of $program"
done
# The windowed twin: task dialogs need common controls 6; sharp at any scale.
grep -q 'name="Microsoft.Windows.Common-Controls" version="6.0.0.0"' "$scratch/exe-strings" ||
  fail "no common controls 6 in the manifest of m3umergew.exe"
grep -q '<dpiAwareness[^>]*>PerMonitorV2' "$scratch/exe-strings" ||
  fail "m3umergew.exe is not per-monitor DPI aware"
objdump -p "$(dirname "$exe")/m3umergew.exe" >"$scratch/exe-headers"
grep -q 'Subsystem.*(Windows GUI)' "$scratch/exe-headers" || fail "m3umergew.exe is no GUI program"

msi="$packages/m3umerge-$version-windows-x86_64.msi"
echo "== $(basename "$msi")"
stop_wine "$msi_prefix"
rm -rf "$msi_prefix"
# Wine's menu builder would mirror shortcuts into the desktop's menus.
in_msi_prefix() {
  WINEPREFIX="$msi_prefix" WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=" \
    scripts/wine-run.sh "$@" </dev/null
}
windows_path() { echo "Z:$(echo "$1" | tr / '\\')"; }
# installed: the m3umerge lines of Wine's list of installed programs.
installed() { in_msi_prefix uninstaller --list | tr -d '\r' | grep m3umerge || true; }
verb='HKCU\Software\Classes\SystemFileAssociations\.wsr\shell\m3umerge'
in_msi_prefix msiexec /i "$(windows_path "$msi")" /qn || fail "msiexec /i"
programs=$(find "$msi_prefix/drive_c/users" -path '*/AppData/Local/Programs' -type d)
[ -n "$programs" ] || fail "no %LOCALAPPDATA%\\Programs"
for file in m3umerge.exe m3umergew.exe README.md LICENSE CHANGELOG.md THIRD-PARTY-NOTICES; do
  cmp "$programs/m3umerge/$file" "$(dirname "$exe")/$file" || fail "$file as installed"
done
send_to=$(find "$msi_prefix/drive_c/users" -path '*/SendTo/m3umerge (merge playlists).lnk')
[ -n "$send_to" ] || fail "no Send to shortcut"
strings "$send_to" >"$scratch/send-to-strings"
grep -q 'Programs\\m3umerge\\m3umergew.exe$' "$scratch/send-to-strings" ||
  fail "Send to shortcut points elsewhere: $(cat "$scratch/send-to-strings")"
# reg prints "    (Default)    REG_SZ    VALUE" and the like.
registry_value() { in_msi_prefix reg query "$1" "${@:2}" | tr -d '\r' | sed -n 's/^ .*REG_SZ *//p'; }
[ "$(registry_value "$verb" /ve)" = "Merge playlists" ] || fail "verb name"
local_app_data=$(in_msi_prefix cmd /c 'echo %LOCALAPPDATA%' | tr -d '\r')
install_dir="$local_app_data"'\Programs\m3umerge\'
[ "$(registry_value 'HKCU\Software\m3umerge' /v InstallDir)" = "$install_dir" ] ||
  fail "installed elsewhere than $install_dir"
# An entry beside the program that opens .wsr files, not a new owner of the type.
! in_msi_prefix reg query 'HKCU\Software\Classes\.wsr' >/dev/null 2>&1 || fail "took over .wsr"
[ "$(registry_value "$verb" /v Icon)" = "\"${install_dir}m3umergew.exe\",0" ] || fail "verb icon"
command=$(registry_value "$verb\\command" /ve)
[ "$command" = "\"${install_dir}m3umergew.exe\" \"%L\"" ] || fail "verb command: $command"
[ "$(registry_value "$verb" /v MultiSelectModel)" = Player ] || fail "verb hidden for many files"
# As Explorer runs it: the program the command names, with %L the clicked
# file. Without a display Wine shows no dialog, and the run ends after the
# merge (tests/window_test.cpp sees the dialog).
cp -R examples "$scratch/verb-example"
in_msi_prefix "${install_dir}m3umergew.exe" \
  "$(windows_path "$scratch/verb-example/soundtrack.wsr")" >/dev/null || fail "the verb's program"
cmp "$scratch/verb-example/soundtrack.m3u" "$scratch/zip-example/soundtrack.m3u" ||
  fail "the verb merged other bytes than the zip's exe"
first=$(installed)
[ -n "$first" ] && [ "$(wc -l <<<"$first")" = 1 ] || fail "installed: $first"

# Another build of the same version over it, then its removal.
source build/windows/msi.env
version=${msi_variables[0]#Version=}
upgrade_code=${msi_variables[1]#UpgradeCode=}
SOURCE_DATE_EPOCH=1767225600 make_msi "$PWD/build/windows/msi-files" "$scratch/upgrade.msi" \
  "Version=$version" "UpgradeCode=$upgrade_code" \
  ProductCode=5B0F6F4E-9C8A-4E1D-8B77-2D3C4A5E6F70 PackageCode=7C1E2D3F-4A5B-4C6D-8E9F-0A1B2C3D4E5F
in_msi_prefix msiexec /i "$(windows_path "$scratch/upgrade.msi")" /qn || fail "msiexec /i of the rebuild"
upgraded=$(installed)
[ -n "$upgraded" ] && [ "$(wc -l <<<"$upgraded")" = 1 ] && [ "$upgraded" != "$first" ] ||
  fail "after the rebuild: $upgraded (before: $first)"
[ -f "$programs/m3umerge/m3umerge.exe" ] || fail "the rebuild removed the program"
in_msi_prefix msiexec /x "$(windows_path "$scratch/upgrade.msi")" /qn || fail "msiexec /x"
[ -z "$(installed)" ] || fail "still installed: $(installed)"
[ ! -e "$programs/m3umerge" ] || fail "left behind: $(find "$programs/m3umerge")"
[ ! -e "$send_to" ] || fail "Send to shortcut left behind"
for key in 'HKCU\Software\m3umerge' 'HKCU\Software\Classes\SystemFileAssociations\.wsr'; do
  ! in_msi_prefix reg query "$key" >/dev/null 2>&1 || fail "registry key left behind: $key"
done

(cd "$packages" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS"
echo "packages: all checks passed"
