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
WINDOWS_PACKAGES=(g++-mingw-w64-x86-64-posix googletest wine wine64)
# The sanitizers, fuzzers and static checks.
ANALYSIS_PACKAGES=(clang libclang-rt-14-dev clang-tidy clang-format cppcheck git)
# Building and checking the release packages.
PACKAGING_PACKAGES=(dpkg-dev lintian mandoc unzip binutils file)
