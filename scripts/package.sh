#!/usr/bin/env bash
# Builds the Debian package of the updater: build/package/package/veltorium-updater_*.deb.
# The build uses Debian's own compiler and linker flags (hardening), strips the program before
# stamping its digest, and builds tracker-sim and the stand-in D2XX beside it for the package
# test; neither of those is packaged.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh

# Read by CMake only when the build folder is first configured.
eval "$(dpkg-buildflags --export=sh)"
export CXXFLAGS="${CXXFLAGS} ${CPPFLAGS}" CFLAGS="${CFLAGS} ${CPPFLAGS}"

cmake --preset package >/dev/null
cmake --build --preset package -j "$(nproc)"
rm -f build/package/package/*.deb
(cd build/package && cpack -G DEB >/dev/null)
ls build/package/package/*.deb
