# Shared by the scripts: installs Debian packages that are missing.
# shellcheck shell=bash

# install_packages PACKAGE...: installs those not yet installed, as root or
# through sudo, without questions. PACKAGE=VERSION asks for that version.
install_packages() {
  local missing=()
  local package installed
  for package in "$@"; do
    installed=$(dpkg-query -W -f='${Status} ${Version}' "${package%%=*}" 2>/dev/null) || true
    if [[ $installed != "install ok installed "* ||
      ($package == *=* && ${installed##* } != "${package#*=}") ]]; then
      missing+=("$package")
    fi
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local as_root=()
  if [ "$(id -u)" -ne 0 ]; then
    command -v sudo >/dev/null || { echo "need root or sudo to install: ${missing[*]}" >&2; return 1; }
    as_root=(sudo)
  fi
  echo "Installing: ${missing[*]}"
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
}

# The packages that build and test the native tool.
NATIVE_PACKAGES=(cmake ninja-build g++ libgtest-dev)
# The packages that cross-build the Windows tool and run it under Wine.
# Xvfb gives Wine a display for the windowed tool's dialogs.
WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix googletest wine wine64 xvfb xauth)
# The sanitizers, fuzzers and static checks; the fuzzers' runtime comes with
# fuzzer_runtime_package once clang is there.
ANALYSIS_PACKAGES=(clang clang-tidy clang-format cppcheck git strace)
# Building and checking the release packages.
# man-db, whose man lays out the manual page with groff.
PACKAGING_PACKAGES=(dpkg-dev lintian mandoc man-db unzip binutils file devscripts
  bash-completion zsh fish wixl msitools faketime)
# The source of the GNU C Library that the portable Linux archive carries:
# Debian's, of the version that links the tool (see cmake/packaging.cmake).
glibc_source_package() {
  echo "glibc-source=$(dpkg-query -W -f='${source:Version}' libc6-dev)"
}

# fuzzer_runtime_package: the package with libFuzzer for the installed clang,
# whose major version names it (libclang-rt-14-dev for clang 14; before
# Debian split it off, libclang-common-N-dev).
fuzzer_runtime_package() {
  local version major
  version=$(clang --version)
  major=$(sed -n 's/.*clang version \([0-9]*\)\..*/\1/p' <<<"$version")
  [ -n "$major" ] || { echo "cannot tell the version of clang: $version" >&2; return 1; }
  if apt-cache show "libclang-rt-$major-dev" >/dev/null 2>&1; then
    echo "libclang-rt-$major-dev"
  else
    echo "libclang-common-$major-dev"
  fi
}

# require_cmake: stops with a clear message where CMake is older than the
# presets need.
require_cmake() {
  local version
  version=$(cmake --version)
  version=$(sed -n 's/^cmake version \([0-9.]*\).*/\1/p' <<<"$version")
  if ! printf '3.25\n%s\n' "$version" | sort -V -C; then
    echo "CMake $version is too old: the build needs 3.25 or later (Debian 12, Ubuntu 23.04)" >&2
    exit 1
  fi
}

# make_msi FILES OUT NAME=VALUE...: builds the Windows installer OUT (an
# absolute path) from packaging/m3umerge.wxs and FILES, the Windows build
# installed into a folder, with the wixl variables given (Version,
# UpgradeCode, ProductCode, PackageCode, FullVersion, ProductName). The same
# input and SOURCE_DATE_EPOCH give the same bytes.
make_msi() {
  local files=$1 out=$2
  shift 2
  local wxs="$PWD/packaging/m3umerge.wxs" variables=() variable package_code="" when
  local upgrade_code="" version=""
  for variable in "$@"; do
    variables+=(-D "$variable")
    case $variable in
      PackageCode=*) package_code=${variable#PackageCode=} ;;
      UpgradeCode=*) upgrade_code=${variable#UpgradeCode=} ;;
      Version=*) version=${variable#Version=} ;;
    esac
  done
  # GNU date, as on Debian, where the packages are built (docs/release.md).
  when=$(date -u -d "@${SOURCE_DATE_EPOCH:?}" '+%Y-%m-%d %H:%M:%S')
  # wixl takes file names from where it runs, records the files' times and
  # its own, and makes up a package code, which msibuild then replaces.
  find "$files" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
  (cd "$files" && TZ=UTC NO_FAKE_STAT=1 faketime -f "$when" wixl -a x64 "${variables[@]}" -o "$out" "$wxs")
  TZ=UTC faketime -f "$when" msibuild "$out" -s m3umerge "The m3umerge developers" "x64;1033" \
    "{$package_code}"
  # What wixl cannot write. The major upgrade also replaces another build of
  # this version (513: features migrated, maximum version included).
  # The install folder at the end of the user's PATH, removed with the
  # program ("=-": set on install, removed on uninstall; "[~];" appends).
  # The Send to shortcut's localized name, an entry of the Send to folder's
  # desktop.ini, which AppSearch looks for: the component that writes it is
  # installed only where the file is, so that none is ever created. The
  # standard sequence numbers of the actions that do the work.
  TZ=UTC faketime -f "$when" msibuild "$out" \
    -q "DELETE FROM Upgrade WHERE ActionProperty = 'WIX_UPGRADE_DETECTED'" \
    -q "INSERT INTO Upgrade (UpgradeCode, VersionMax, Attributes, ActionProperty)
        VALUES ('{$upgrade_code}', '$version', 513, 'WIX_UPGRADE_DETECTED')" \
    -q "CREATE TABLE Environment (Environment CHAR(72) NOT NULL, Name CHAR(255) NOT NULL
        LOCALIZABLE, Value CHAR(255) LOCALIZABLE, Component_ CHAR(72) NOT NULL
        PRIMARY KEY Environment)" \
    -q "INSERT INTO Environment (Environment, Name, Value, Component_)
        VALUES ('UserPath', '=-PATH', '[~];[INSTALLDIR]', 'Program')" \
    -q "CREATE TABLE DrLocator (Signature_ CHAR(72) NOT NULL, Parent CHAR(72), Path CHAR(255),
        Depth SHORT PRIMARY KEY Signature_, Parent, Path)" \
    -q "INSERT INTO Signature (Signature, FileName) VALUES ('SendToDesktopIni', 'desktop.ini')" \
    -q "INSERT INTO DrLocator (Signature_, Path, Depth)
        VALUES ('SendToDesktopIni', '[SendToFolder]', 0)" \
    -q "INSERT INTO AppSearch (Property, Signature_)
        VALUES ('SENDTO_DESKTOP_INI', 'SendToDesktopIni')" \
    -q "UPDATE Component SET Condition = 'SENDTO_DESKTOP_INI' WHERE Component = 'SendToName'" \
    -q "CREATE TABLE IniFile (IniFile CHAR(72) NOT NULL, FileName CHAR(255) NOT NULL LOCALIZABLE,
        DirProperty CHAR(72), Section CHAR(96) NOT NULL LOCALIZABLE, \`Key\` CHAR(128) NOT NULL
        LOCALIZABLE, Value CHAR(255) NOT NULL LOCALIZABLE, Action SHORT NOT NULL,
        Component_ CHAR(72) NOT NULL PRIMARY KEY IniFile)" \
    -q "INSERT INTO IniFile (IniFile, FileName, DirProperty, Section, \`Key\`, Value, Action,
        Component_) VALUES ('SendToName', 'desktop.ini', 'SendToFolder', 'LocalizedFileNames',
        'm3umerge (merge playlists).lnk', '@[INSTALLDIR]m3umergew.exe,-102', 0, 'SendToName')" \
    -q "INSERT INTO InstallUISequence (Action, Sequence) VALUES ('AppSearch', 50)" \
    -q "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('AppSearch', 50)" \
    -q "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('RemoveIniValues', 3100)" \
    -q "INSERT INTO InstallExecuteSequence (Action, Sequence)
        VALUES ('RemoveEnvironmentStrings', 3300)" \
    -q "INSERT INTO InstallExecuteSequence (Action, Sequence) VALUES ('WriteIniValues', 5100)" \
    -q "INSERT INTO InstallExecuteSequence (Action, Sequence)
        VALUES ('WriteEnvironmentStrings', 5200)"
}

# stop_wine PREFIX: ends the Wine server of PREFIX, waiting for it, and
# removes the folder it kept in /tmp, which Wine names after the prefix's
# device and inode and leaves behind.
stop_wine() {
  local dev ino server
  [ -d "$1" ] || return 0
  read -r dev ino < <(stat -c '%d %i' "$1")
  server=$(printf 'server-%x-%x' "$dev" "$ino")
  WINEPREFIX="$1" wineserver -k >/dev/null 2>&1 || true
  WINEPREFIX="$1" wineserver -w >/dev/null 2>&1 || true
  for server in /tmp/wine-*/"$server"; do
    [ -d "$server" ] || continue
    rm -rf "$server"
    rmdir "$(dirname "$server")" 2>/dev/null || true
  done
}

# report_skipped BUILD_DIR: after ctest, prints why each skipped test or
# check was skipped (the line after GoogleTest's "Skipped", and the tests'
# own "note:" lines), so that a check that did not run is never silent.
report_skipped() {
  local log="$1/Testing/Temporary/LastTest.log"
  [ -f "$log" ] || return 0
  awk '/: Skipped$/ { getline reason }
       /^\[  SKIPPED \] .* \(/ { print "skipped: " $4 ": " reason }
       /^note: / { print }' "$log" | sort -u
}
