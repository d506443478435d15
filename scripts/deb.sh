#!/usr/bin/env bash
# Sets up and builds the Debian packages from a Release build with Debian's hardening flags:
# build/deb/virude-dump_<version>_<arch>.deb (the command line, no Qt) and
# build/deb/virude_<version>_<arch>.deb (the window; depends on virude-dump).
# scripts/test-deb.sh checks them.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh --deb
# Debian's flags for packages (dpkg-buildflags): fortified functions, the stack protector,
# format checks, position-independent code, and relocations read-only and bound at start
# (relro, bindnow). Without -g: the programs are stripped and no debug package is made.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CXXFLAGS_MAINT_STRIP=-g
cxxflags="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)"
ldflags="$(dpkg-buildflags --get LDFLAGS)"
cmake --preset deb -DCMAKE_CXX_FLAGS="$cxxflags" -DCMAKE_EXE_LINKER_FLAGS="$ldflags" >/dev/null
cmake --build --preset deb
rm -f build/deb/*.deb
(cd build/deb && cpack -G DEB >/dev/null)
ls -1 build/deb/*.deb
