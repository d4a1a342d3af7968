# Shared by the scripts: installs Debian packages that are missing.
# shellcheck shell=bash

# install_packages PACKAGE...: installs those not yet installed, as root or
# through sudo, without questions.
install_packages() {
  local missing=()
  local package
  for package in "$@"; do
    if [ "$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null)" != "install ok installed" ]; then
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
PACKAGING_PACKAGES=(dpkg-dev lintian mandoc unzip binutils file devscripts bash-completion
  zsh fish wixl msitools faketime)

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
# UpgradeCode, ProductCode, PackageCode). The same input and
# SOURCE_DATE_EPOCH give the same bytes.
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
  # The major upgrade also replaces another build of this version (513:
  # features migrated, maximum version included), which wixl cannot write.
  TZ=UTC faketime -f "$when" msibuild "$out" \
    -q "DELETE FROM Upgrade WHERE ActionProperty = 'WIX_UPGRADE_DETECTED'" \
    -q "INSERT INTO Upgrade (UpgradeCode, VersionMax, Attributes, ActionProperty)
        VALUES ('{$upgrade_code}', '$version', 513, 'WIX_UPGRADE_DETECTED')"
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
