#!/usr/bin/env bash
# Checks the packages in build/packages/ as a user would meet them: the
# binaries from the .deb and the .tar.gz and the exe from the zip (under
# Wine) merge the example folder into the expected bytes; every package is
# named with one version, the project's (a development build's says so),
# which each binary carries (the Linux ones in their package note and as
# text, the exes in their version information, whose numbers tell a
# development build too, as the MSI's Apps entry does) and the manual page
# too, in a foot that reads whole at 80 columns; the .deb is hardened and
# lintian-clean, with compressed documents and the completions; the .tar.gz
# binary is static and comes with what the GNU C Library's licence asks for
# (the library's source, and objects that relink to the same binary), and
# README's install steps for it make fish find the completion; each package
# has the third-party notices, which name every binary and what it links,
# and no package names a placeholder address; the zip's documents are .txt
# files with CR LF; both exes (the console tool and its windowed twin) carry
# their manifests and version; the MSI installs for the user in a Wine
# prefix of its own, puts its folder on the user's PATH, adds a right-click
# entry and a Send to entry that start the windowed twin, which merges like
# the zip's exe, named from the twin's English and Japanese strings; it is
# replaced in place by another build of its version and uninstalls without
# a trace, the PATH as it was; SHA256SUMS matches.
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
dpkg-deb -x "$deb" "$scratch/root"
merges_examples "$scratch/root/usr/bin/m3umerge"
carries_version "$scratch/root/usr/bin/m3umerge" deb
for file in usr/share/man/man1/m3umerge.1.gz usr/share/doc/m3umerge/copyright \
  usr/share/doc/m3umerge/changelog.gz usr/share/doc/m3umerge/README.md.gz \
  usr/share/doc/m3umerge/CHANGELOG.md.gz usr/share/doc/m3umerge/THIRD-PARTY-NOTICES.gz \
  usr/share/doc/m3umerge/docs/performance.md usr/share/doc/m3umerge/docs/dialog.png \
  usr/share/bash-completion/completions/m3umerge usr/share/zsh/vendor-completions/_m3umerge \
  usr/share/fish/vendor_completions.d/m3umerge.fish; do
  [ -f "$scratch/root/$file" ] || fail "$file missing from the .deb"
done
zcat "$scratch/root/usr/share/man/man1/m3umerge.1.gz" >"$scratch/manual"
grep -qxF ".Os $version" "$scratch/manual" || fail "the manual page names another version"
# Its foot at 80 columns, as man (groff) and mandoc lay it out: the version,
# the date and the version again, each whole, on one line.
date=$(sed -n 's/^\.Dd //p' "$scratch/manual")
for renderer in man mandoc; do
  case $renderer in
    man) MANWIDTH=80 man -l "$scratch/manual" >"$scratch/page" 2>/dev/null ;;
    mandoc) mandoc -T utf8 -O width=80 "$scratch/manual" >"$scratch/page" ;;
  esac
  foot=$(tail -n 1 "$scratch/page")
  [[ $foot =~ ^"$version"\ +"$date"\ +"$version"$ ]] ||
    fail "foot of the manual page under $renderer: $foot"
done
dpkg-deb -f "$deb" Depends >"$scratch/depends"
grep -q libc6 "$scratch/depends" || fail "no computed dependencies"
# names_binary NOTICES BINARY LIBRARY...: the third-party notices NOTICES name
# BINARY and each library it links.
names_binary() {
  local notices=$1 name
  shift
  for name; do
    grep -qF "$name" "$notices" || fail "$(basename "$notices") does not name $name"
  done
}
zcat "$scratch/root/usr/share/doc/m3umerge/THIRD-PARTY-NOTICES.gz" >"$scratch/deb-notices"
names_binary "$scratch/deb-notices" /usr/bin/m3umerge \
  $(readelf -d "$scratch/root/usr/bin/m3umerge" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
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
  docs/performance.md docs/dialog-left-out.png \
  share/bash-completion/completions/m3umerge share/zsh/site-functions/_m3umerge \
  share/fish/vendor_completions.d/m3umerge.fish; do
  [ -f "$top/$file" ] || fail "$file missing from the .tar.gz"
done
[ ! -e "$top/share/doc" ] || fail "Debian's documents in the .tar.gz"
names_binary "$top/THIRD-PARTY-NOTICES" bin/m3umerge 'GNU LESSER GENERAL PUBLIC LICENSE'
# The static binary holds the GNU C Library: the archive carries the source
# of the one that linked it, and the objects, linked again with it, give
# the binary itself.
glibc=$(dpkg-query -W -f='${source:Version}' libc6-dev)
[ -f "$top/lgpl/glibc/glibc-${glibc%%-*}.tar.xz" ] &&
  [ "$(head -n 1 "$top/lgpl/glibc/debian/changelog")" = "glibc ($glibc) bookworm; urgency=medium" ] ||
  fail "no source of the GNU C Library $glibc in lgpl/glibc"
"$top/lgpl/relink.sh" /usr/lib/x86_64-linux-gnu "$scratch/relinked" || fail "relink.sh"
cmp "$top/bin/m3umerge" "$scratch/relinked" || fail "relink.sh links another binary"
# README's steps for the archive, run as written but for sudo, in a mount
# namespace of its own over copies of /usr/local and /etc/fish: fish, with
# no XDG_DATA_DIRS, then completes the tool's anchors.
if unshare -m true 2>/dev/null; then
  awk '/^\*\*Other Linux\.\*\*/ { found = 1 } found && /^```sh$/ { block = 1; next }
       block && /^```$/ { exit } block { print }' README.md |
    sed -e 's/^sudo //' -e "s/<version>/$version/g" >"$scratch/install-steps"
  [ -s "$scratch/install-steps" ] || fail "no install steps for the archive in README"
  mkdir -p "$scratch/local/bin" "$scratch/local/share" "$scratch/fish-home" "$scratch/fish-work" \
    "$scratch/unpack"
  cp -a /etc/fish "$scratch/etc-fish"
  cp "$tgz" "$scratch/unpack"
  touch "$scratch/fish-work/soundtrack.wsr"
  answer=$(unshare -m --propagation private bash -c '
    set -e
    mount --bind "$1" /usr/local
    mount --bind "$2" /etc/fish
    (cd "$3" && bash -e "$4") >/dev/null
    cd "$5"
    env -i HOME="$6" PATH=/usr/local/bin:/usr/bin:/bin fish -c "complete -C \"m3umerge sou\""
  ' - "$scratch/local" "$scratch/etc-fish" "$scratch/unpack" "$scratch/install-steps" \
    "$scratch/fish-work" "$scratch/fish-home") || fail "README's install steps for the archive"
  [ "$answer" = "$scratch/fish-work/soundtrack.wsr" ] ||
    fail "fish completes 'sou' after README's install steps as '$answer'"
else
  echo "note: README's install steps for the archive not tried: no mount namespace (needs root)"
fi

zip="$packages/m3umerge-$version-windows-x86_64.zip"
echo "== $(basename "$zip")"
unzip -q "$zip" -d "$scratch/zip"
exe=$(find "$scratch/zip" -name m3umerge.exe)
[ -f "$(dirname "$exe")/m3umergew.exe" ] || fail "m3umergew.exe missing from the zip"
# The documents as Windows opens them: .txt, with CR LF, the same text.
while read -r name source; do
  cmp "$(dirname "$exe")/$name" <(sed 's/$/\r/' "$source") || fail "$name in the zip"
done <<END
README.txt README.md
LICENSE.txt LICENSE
CHANGELOG.txt CHANGELOG.md
THIRD-PARTY-NOTICES.txt $top/THIRD-PARTY-NOTICES
docs/reliability.txt docs/reliability.md
END
cmp "$(dirname "$exe")/docs/dialog-held.png" docs/dialog-held.png || fail "docs/dialog-held.png in the zip"
cp -R examples "$scratch/zip-example"
windows_anchor="Z:$(echo "$scratch/zip-example/soundtrack.wsr" | tr / '\\')"
listing=$(scripts/wine-run.sh "$exe" "$windows_anchor" </dev/null)
# Windows lists in the folder's own order; every line ends in CR LF.
[ "$(printf '%s\n' "$listing" | sort)" = $'aoi-sora.m3u\r\nchansons.m3u\r\nthemes.m3u\r' ] ||
  fail "listing from the zip: $listing"
cmp "$scratch/zip-example/soundtrack.m3u" <(expected_for "$listing") || fail "merged bytes from the zip"
# The numbers of the version information: a release's and 0, or a
# development build's and its date as YYDDD, flagged as a prerelease.
if [ "$version" = "$project_version" ]; then
  windows_version=$project_version.0 prerelease=""
else
  day=${version#*~dev+}
  windows_version=$project_version.$((10#$(date -u -d "${day%%.*}" +%y%j))) prerelease=0x2
fi
for program in "$exe" "$(dirname "$exe")/m3umergew.exe"; do
  names_binary "$(dirname "$exe")/THIRD-PARTY-NOTICES.txt" "$(basename "$program")" \
    $(objdump -p "$program" | sed -n 's/^.*DLL Name: //p')
  x86_64-w64-mingw32-windres -i "$program" -O rc >"$scratch/resources.rc"
  for field in FILEVERSION PRODUCTVERSION; do
    [ "$(sed -n "s/^ $field //p" "$scratch/resources.rc" | tr -d ' ' | tr , .)" = \
      "$windows_version" ] || fail "the $field of $program is not $windows_version"
  done
  [ "$(sed -n 's/^ FILEFLAGS //p' "$scratch/resources.rc")" = "$prerelease" ] ||
    fail "the FILEFLAGS of $program"
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
# string LANGUAGE ID: the string ID of the twin's string table in LANGUAGE
# (9 English, 17 Japanese), which windres shows with \xHHHH for what is not
# ASCII.
x86_64-w64-mingw32-windres -i "$(dirname "$exe")/m3umergew.exe" -O rc >"$scratch/strings.rc"
string() {
  local text
  text=$(awk -v language="$1" -v id="$2" '/^LANGUAGE / { current = $2 + 0 }
    current == language && $1 == id "," { sub(/^[^,]*, L?"/, ""); sub(/"$/, ""); print }' \
    "$scratch/strings.rc")
  LC_ALL=C.UTF-8 printf '%b' "${text//\\x/\\u}"
}

msi="$packages/m3umerge-$version-windows-x86_64.msi"
echo "== $(basename "$msi")"
# What the Apps entry shows: a development build says so in its name, and
# its version is that of the exes.
msiinfo export "$msi" Property | tr -d '\r' >"$scratch/msi-properties"
if [ "$version" = "$project_version" ]; then
  msi_version=$project_version product=m3umerge
else
  msi_version=$windows_version product="m3umerge (development build $version)"
fi
grep -qxF "ProductVersion"$'\t'"$msi_version" "$scratch/msi-properties" &&
  grep -qxF "ProductName"$'\t'"$product" "$scratch/msi-properties" ||
  fail "the MSI's product: $(grep '^Product' "$scratch/msi-properties")"
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
# reg prints "    (Default)    REG_SZ    VALUE" and the like.
registry_value() { in_msi_prefix reg query "$1" "${@:2}" | tr -d '\r' | sed -n 's/^ .*REG_SZ *//p'; }
# user_path: the folders on the user's PATH. Wine's uninstall leaves the
# separator before a folder it removes; an empty folder is none.
user_path() { registry_value 'HKCU\Environment' /v PATH | tr ';' '\n' | sed '/^$/d' | paste -sd ';'; }
verb='HKCU\Software\Classes\SystemFileAssociations\.wsr\shell\m3umerge'
# The user's own PATH, which the install appends to and the uninstall gives
# back; %LOCALAPPDATA%\Programs, which a new prefix does not have.
in_msi_prefix reg add 'HKCU\Environment' /v PATH /d 'C:\tools' /f >/dev/null || fail "reg add"
[ -z "$(find "$msi_prefix/drive_c/users" -path '*/AppData/Local/Programs')" ] ||
  fail "%LOCALAPPDATA%\\Programs before the install"
in_msi_prefix msiexec /i "$(windows_path "$msi")" /qn || fail "msiexec /i"
programs=$(find "$msi_prefix/drive_c/users" -path '*/AppData/Local/Programs' -type d)
[ -n "$programs" ] || fail "no %LOCALAPPDATA%\\Programs"
for file in m3umerge.exe m3umergew.exe README.txt LICENSE.txt CHANGELOG.txt \
  THIRD-PARTY-NOTICES.txt docs/performance.txt docs/dialog-progress.png; do
  cmp "$programs/m3umerge/$file" "$(dirname "$exe")/$file" || fail "$file as installed"
done
send_to=$(find "$msi_prefix/drive_c/users" -path '*/SendTo/m3umerge (merge playlists).lnk')
[ -n "$send_to" ] || fail "no Send to shortcut"
strings "$send_to" >"$scratch/send-to-strings"
grep -q 'Programs\\m3umerge\\m3umergew.exe$' "$scratch/send-to-strings" ||
  fail "Send to shortcut points elsewhere: $(cat "$scratch/send-to-strings")"
# The Send to folder of a new prefix has no desktop.ini, and gets none.
send_to_ini="$(dirname "$send_to")/desktop.ini"
[ ! -e "$send_to_ini" ] || fail "a desktop.ini in the Send to folder: $(cat "$send_to_ini")"
[ "$(registry_value "$verb" /ve)" = "Merge playlists" ] || fail "verb name"
local_app_data=$(in_msi_prefix cmd /c 'echo %LOCALAPPDATA%' | tr -d '\r')
install_dir="$local_app_data"'\Programs\m3umerge\'
[ "$(registry_value 'HKCU\Software\m3umerge' /v InstallDir)" = "$install_dir" ] ||
  fail "installed elsewhere than $install_dir"
# The names Explorer shows, in the display language: the verb's is string
# 101 of the twin, the Send to entry's 102, in English and Japanese.
[ "$(registry_value "$verb" /v MUIVerb)" = "@${install_dir}m3umergew.exe,-101" ] ||
  fail "verb's MUIVerb: $(registry_value "$verb" /v MUIVerb)"
while read -r language id text; do
  [ "$(string "$language" "$id")" = "$text" ] ||
    fail "string $id of m3umergew.exe in language $language: $(string "$language" "$id")"
done <<END
9 101 Merge playlists
17 101 プレイリストを結合
9 102 m3umerge (merge playlists)
17 102 m3umerge (プレイリストを結合)
END
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
# On the user's PATH, after what was there: a new command prompt finds the
# console tool.
[ "$(user_path)" = "C:\\tools;$install_dir" ] || fail "PATH after the install: $(user_path)"
cp -R examples "$scratch/path-example"
in_msi_prefix cmd /c "m3umerge $(windows_path "$scratch/path-example/soundtrack.wsr")" >/dev/null ||
  fail "no m3umerge in a new command prompt"
cmp "$scratch/path-example/soundtrack.m3u" "$scratch/zip-example/soundtrack.m3u" ||
  fail "m3umerge on the PATH merged other bytes than the zip's exe"
first=$(installed)
[ -n "$first" ] && [ "$(wc -l <<<"$first")" = 1 ] || fail "installed: $first"

# Another build of the same version over it, where the Send to folder has a
# desktop.ini, as on Windows: it gets the shortcut's localized name. Then
# the removal.
printf '[.ShellClassInfo]\r\nConfirmFileOp=0\r\n' >"$send_to_ini"
source build/windows/msi.env
SOURCE_DATE_EPOCH=1767225600 make_msi "$PWD/build/windows/msi-files" "$scratch/upgrade.msi" \
  "${msi_variables[@]:0:2}" ProductCode=5B0F6F4E-9C8A-4E1D-8B77-2D3C4A5E6F70 \
  PackageCode=7C1E2D3F-4A5B-4C6D-8E9F-0A1B2C3D4E5F "${msi_variables[@]:4}"
in_msi_prefix msiexec /i "$(windows_path "$scratch/upgrade.msi")" /qn || fail "msiexec /i of the rebuild"
upgraded=$(installed)
[ -n "$upgraded" ] && [ "$(wc -l <<<"$upgraded")" = 1 ] && [ "$upgraded" != "$first" ] ||
  fail "after the rebuild: $upgraded (before: $first)"
[ -f "$programs/m3umerge/m3umerge.exe" ] || fail "the rebuild removed the program"
[ "$(user_path)" = "C:\\tools;$install_dir" ] || fail "PATH after the rebuild: $(user_path)"
tr -d '\r' <"$send_to_ini" | awk '/^\[/ { names = $0 == "[LocalizedFileNames]" } names' |
  grep -qxF "m3umerge (merge playlists).lnk=@${install_dir}m3umergew.exe,-102" ||
  fail "no localized name of the Send to shortcut: $(cat "$send_to_ini")"
in_msi_prefix msiexec /x "$(windows_path "$scratch/upgrade.msi")" /qn || fail "msiexec /x"
[ -z "$(installed)" ] || fail "still installed: $(installed)"
[ ! -e "$programs" ] || fail "left behind: $(find "$programs")"
[ ! -e "$send_to" ] || fail "Send to shortcut left behind"
for key in 'HKCU\Software\m3umerge' 'HKCU\Software\Classes\SystemFileAssociations\.wsr'; do
  ! in_msi_prefix reg query "$key" >/dev/null 2>&1 || fail "registry key left behind: $key"
done
[ "$(user_path)" = 'C:\tools' ] || fail "PATH after the removal: $(user_path)"
grep -q '^ConfirmFileOp=0' "$send_to_ini" && ! grep -q m3umerge "$send_to_ini" ||
  fail "desktop.ini of the Send to folder after the removal: $(cat "$send_to_ini")"

# No package names a placeholder address (the GNU C Library's files aside).
dpkg-deb -f "$deb" >"$scratch/root/control"
mkdir "$scratch/msi-tables"
# msidump writes the binary columns under the folder it runs in.
(cd "$scratch/msi-tables" && msidump -d . "$msi" >/dev/null)
placeholders=$(grep -rlE --exclude-dir=glibc 'example\.(com|net|org)|\.invalid\b' \
  "$scratch/root" "$top" "$scratch/zip" "$scratch/msi-tables" || true)
[ -z "$placeholders" ] || fail "a placeholder address in $placeholders"

(cd "$packages" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS"
echo "packages: all checks passed"
