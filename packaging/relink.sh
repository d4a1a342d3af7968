#!/bin/sh
# Links bin/m3umerge again from the object files beside this script, with
# the GNU C Library of your choice, as that library's licence (LGPL 2.1,
# section 6) allows:
#
#   lgpl/relink.sh LIBDIR [OUTPUT]
#
# LIBDIR holds the library's libc.a and start files (rcrt1.o, crti.o,
# crtn.o), as "make install" of the GNU C Library puts them in PREFIX/lib;
# its complete source, as Debian 12 built the one in bin/m3umerge, is in
# lgpl/glibc/. OUTPUT is ./m3umerge unless given. The compiler is g++ (GCC
# 12, as for the released binary; CXX chooses another), which adds libstdc++
# and libgcc. With /usr/lib/x86_64-linux-gnu of Debian 12, whose libc6-dev is
# of the version in lgpl/glibc/debian/changelog, the result is bin/m3umerge
# byte for byte.
set -eu
libdir=${1:?usage: relink.sh LIBDIR [OUTPUT]}
output=${2:-m3umerge}
objects=$(dirname "$0")
"${CXX:-g++}" -static-pie -Wl,-z,relro,-z,now -B"$libdir" -L"$libdir" -o "$output" \
  "$objects/main.cpp.o" "$objects/package-note.cpp.o" "$objects/libm3umerge_core.a"
# As the build does: no compiler notes, no symbols.
objcopy --remove-section=.comment --remove-section=.note "$output"
strip "$output"
