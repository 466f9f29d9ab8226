#!/usr/bin/env bash
# Builds the Debian packages liberrm1, liberrm-dev and errmc as a
# distribution would ship them: a Release build in a folder of its own
# (build-deb/ unless given; build/ is never touched), for /usr, with Debian's
# compiler and linker flags (dpkg-buildflags, all hardening on), libraries in
# the multiarch folder, manual pages compressed, binaries stripped, each
# package with its copyright and changelog. The .deb files are written to
# OUT_DIR (default: BUILD_DIR/packages). Further arguments go to cmake's
# configure step (e.g. -DCMAKE_CXX_COMPILER_LAUNCHER=ccache).
# Usage: scripts/packages.sh [BUILD_DIR [OUT_DIR [CMAKE_ARGS...]]]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build-deb}
out=${2:-$build/packages}
shift $(( $# < 2 ? $# : 2 ))
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
flags() { dpkg-buildflags --get "$1"; }
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
  -DERRM_DEBIAN_LAYOUT=ON -DERRM_BUILD_TESTS=OFF -DERRM_BUILD_BENCH=OFF \
  -DERRM_BUILD_EXAMPLES=OFF -DERRM_BUILD_FORTRAN=OFF \
  -DCMAKE_C_FLAGS="$(flags CFLAGS) $(flags CPPFLAGS)" \
  -DCMAKE_CXX_FLAGS="$(flags CXXFLAGS) $(flags CPPFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(flags LDFLAGS)" -DCMAKE_SHARED_LINKER_FLAGS="$(flags LDFLAGS)" \
  "$@" >/dev/null
cmake --build "$build" -j"${ERRM_JOBS:-2}" >/dev/null
mkdir -p "$out"
(cd "$build" && cpack -G DEB -B "$out" >/dev/null)
ls "$out"/*.deb
