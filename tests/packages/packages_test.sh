#!/usr/bin/env bash
# Builds the Debian packages of the build (cpack -G DEB), checks each one's
# files and dependencies, then extracts liberrm1, liberrm-dev and errmc into a
# scratch root and builds the install test's client against it.
set -euo pipefail
build_dir=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$build_dir" && cpack -G DEB -B "$work/debs" >/dev/null)
deb() { ls "$work"/debs/"$1"_*.deb; }

# Each package's file list, without folders, must be exactly this.
check_files() {
  local got
  got=$(dpkg-deb -c "$(deb "$1")" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./||' |
        sed -E 's/Targets-[a-z]+\.cmake$/Targets-CONFIG.cmake/' | sort)
  [ "$got" = "$(printf '%s\n' "${@:2}" | sort)" ] || { echo "$1 holds:"; echo "$got"; exit 1; }
}
check_files liberrm1 usr/lib/liberrm.so.1 usr/lib/liberrm.so.1.0.3
check_files liberrm-dev usr/include/errm.h usr/lib/liberrm.so usr/lib/pkgconfig/errm.pc \
  usr/lib/cmake/errm/errmConfig.cmake usr/lib/cmake/errm/errmConfigVersion.cmake \
  usr/lib/cmake/errm/errmTargets.cmake usr/lib/cmake/errm/errmTargets-CONFIG.cmake \
  usr/lib/cmake/errm/errmCatalogue.cmake
check_files errmc usr/bin/errmc usr/bin/errm-report usr/share/man/man1/errmc.1 \
  usr/share/man/man1/errm-report.1 \
  usr/lib/cmake/errm/errmcTargets.cmake usr/lib/cmake/errm/errmcTargets-CONFIG.cmake

field() { dpkg-deb -f "$(deb "$1")" "$2"; }
[ "$(field liberrm-dev Depends)" = "liberrm1 (= 1.0.3)" ] || { field liberrm-dev Depends; exit 1; }
field liberrm1 Depends | grep -q 'libmd0' || { field liberrm1 Depends; exit 1; }
field errmc Depends | grep -q 'libstdc++6' || { field errmc Depends; exit 1; }

root=$work/root
for p in liberrm1 liberrm-dev errmc; do dpkg-deb -x "$(deb "$p")" "$root"; done
cmake -S "$here/../install" -B "$work/client" -DCMAKE_PREFIX_PATH="$root/usr" >/dev/null
cmake --build "$work/client" >/dev/null
out=$(ORV_VCO=ixl LD_LIBRARY_PATH="$root/usr/lib" "$work/client/consumer" \
      "$work/client/catalogues/" | tail -1)
[ "$out" = "** Note: (APP - 7) started consumer with 4 workers" ] || { echo "client: $out"; exit 1; }
echo "packages ok"
