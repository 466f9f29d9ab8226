#!/usr/bin/env bash
# Builds the Debian packages with scripts/packages.sh (its own Release build
# in a scratch folder: the build under test is not touched) and checks them
# as a distribution would: each package's files, multiarch library folder,
# stripped binaries, dependencies, lintian (each tag it still reports is
# explained below), then extracts liberrm1, liberrm-dev and errmc into a
# scratch root and builds the install test's clients against them. Also
# checks that cpack refuses to make Debian packages of a development build.
# Usage: packages_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
source_dir=$(cd "$1" && pwd) build_dir=$(cd "$2" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
launcher=()
# With ccache, the scratch folder's name must not make every object a miss
# (the binaries are stripped: the build folder leaves no trace in them).
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
  export CCACHE_NOHASHDIR=1
fi
# Debugging information of line tables only (-g1 after Debian's -g): the
# packaged binaries are stripped of it, so they come out the same but for
# their build id, and the build takes a third less time. The strip check
# below still finds a .debug_info to have gone.
export DEB_CFLAGS_MAINT_APPEND=-g1 DEB_CXXFLAGS_MAINT_APPEND=-g1
"$source_dir/scripts/packages.sh" "$work/build" "$work/debs" "${launcher[@]}" >/dev/null
deb() { ls "$work"/debs/"$1"_*.deb; }
version=$(sed -n 's/^project(errm VERSION \([0-9.]*\) .*/\1/p' "$source_dir/CMakeLists.txt")
arch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
lib=usr/lib/$arch

# Each package's file list, without folders, must be exactly this.
check_files() {
  local got
  got=$(dpkg-deb -c "$(deb "$1")" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./||' |
        sed -E 's/Targets-[a-z]+\.cmake$/Targets-CONFIG.cmake/' | sort)
  [ "$got" = "$(printf '%s\n' "${@:2}" | sort)" ] || { echo "$1 holds:"; echo "$got"; exit 1; }
}
docs=$(cd "$source_dir" && ls docs/*.md | sed 's|^docs/|usr/share/doc/errm/|')
deb_docs() { echo "usr/share/doc/$1/copyright usr/share/doc/$1/changelog.gz"; }
# shellcheck disable=SC2046
check_files liberrm1 $lib/liberrm.so.1 $lib/liberrm.so.$version $(deb_docs liberrm1)
# shellcheck disable=SC2046
check_files liberrm-dev usr/include/errm.h $lib/liberrm.so $lib/pkgconfig/errm.pc \
  $lib/cmake/errm/errmConfig.cmake $lib/cmake/errm/errmConfigVersion.cmake \
  $lib/cmake/errm/errmTargets.cmake $lib/cmake/errm/errmTargets-CONFIG.cmake \
  $lib/cmake/errm/errmCatalogue.cmake usr/share/man/man3/errm.3.gz \
  usr/share/doc/errm/README.md usr/share/doc/errm/CHANGELOG.md $docs $(deb_docs liberrm-dev)
# shellcheck disable=SC2046
check_files errmc usr/bin/errmc usr/bin/errm-report usr/share/man/man1/errmc.1.gz \
  usr/share/man/man1/errm-report.1.gz \
  $lib/cmake/errm/errmcTargets.cmake $lib/cmake/errm/errmcTargets-CONFIG.cmake $(deb_docs errmc)
# shellcheck disable=SC2046
check_files python3-errm $(printf 'usr/lib/python3/dist-packages/errm/%s ' __init__.py \
  _args.py _config.py _errors.py _lib.py _results.json py.typed) $(deb_docs python3-errm)

field() { dpkg-deb -f "$(deb "$1")" "$2"; }
[ "$(field liberrm-dev Depends)" = "liberrm1 (= $version)" ] || { field liberrm-dev Depends; exit 1; }
field liberrm1 Depends | grep -q 'libmd0' || { field liberrm1 Depends; exit 1; }
field errmc Depends | grep -q 'libstdc++6' || { field errmc Depends; exit 1; }
[ "$(field python3-errm Depends)" = "python3, liberrm1 (= $version)" ] &&
  [ "$(field python3-errm Architecture)" = all ] || { field python3-errm Depends; exit 1; }
# The library package's ldconfig trigger and its symbols: the 29 functions.
dpkg-deb -I "$(deb liberrm1)" triggers | grep -qx 'activate-noawait ldconfig'
[ "$(dpkg-deb -I "$(deb liberrm1)" symbols | grep -c '^ ERRM_.*@Base 1.0.3$')" -eq 29 ]

root=$work/root
for p in liberrm1 liberrm-dev errmc; do dpkg-deb -x "$(deb "$p")" "$root"; done
for f in "$root/$lib/liberrm.so.$version" "$root/usr/bin/errmc"; do
  if readelf -S "$f" | grep -Eq '\.(symtab|debug_info)'; then echo "not stripped: $f"; exit 1; fi
done
# pkg-config finds the library in the multiarch folder.
[ "$(PKG_CONFIG_PATH="$root/$lib/pkgconfig" pkg-config --variable=libdir errm)" -ef "$root/$lib" ]
# The installed manual pages are the build's.
zgrep -q "errmc $version" "$root/usr/share/man/man1/errmc.1.gz" || { echo "errmc.1"; exit 1; }

# lintian: every tag it reports at info level or above must be one of these,
# each with its reason.
explained='
maintscript-calls-ldconfig   cpack adds "ldconfig" to the postinst and postrm of a package with a library in /usr/lib and cannot be told not to; the triggers file runs ldconfig as Debian wants, the extra call is redundant and harmless
spelling-error-in-binary     "Invalide", "adresses", "existant": texts of the library'"'"'s internal error catalogue (1003, 1006, 1043, 1080), printed byte for byte as the library always has; errmc holds the same table for errmc explain
'
tags=$(lintian -I "$work"/debs/*.deb 2>&1 | sed -n 's/^[EWIP]: [^ ]*: \([a-z0-9+.-]*\).*/\1/p')
unexplained=$(for t in $tags; do echo "$explained" | grep -q "^$t " || echo "$t"; done | sort -u)
[ -z "$unexplained" ] || { lintian -i -I "$work"/debs/*.deb || true; echo "lintian: $unexplained"; exit 1; }

cmake -S "$source_dir/tests/install" -B "$work/client" -DCMAKE_PREFIX_PATH="$root/usr" >/dev/null
cmake --build "$work/client" >/dev/null
out=$(ORV_VCO=ixl LD_LIBRARY_PATH="$root/$lib" "$work/client/consumer" \
      "$work/client/catalogues/" | tail -1)
[ "$out" = "** Note: (APP - 7) started consumer with 4 workers" ] || { echo "client: $out"; exit 1; }
# The Python package of python3-errm finds liberrm1's library where it lies.
dpkg-deb -x "$(deb python3-errm)" "$root"
out=$(cd "$work/client" && ORV_VCO=ixl PYTHONPATH="$root/usr/lib/python3/dist-packages" \
      PYTHONDONTWRITEBYTECODE=1 /usr/bin/python3 -c 'import errm; print(errm.library_path(), errm.version())')
[ "$out" = "$root/$lib/liberrm.so.1 (1, 0, 3, 0)" ] || { echo "python: $out"; exit 1; }

# A development build makes no Debian package.
if (cd "$build_dir" && cpack -G DEB -B "$work/refused" >"$work/refused.log" 2>&1); then
  echo "cpack made Debian packages of $build_dir"; exit 1
fi
grep -q 'scripts/packages.sh' "$work/refused.log" || { cat "$work/refused.log"; exit 1; }
echo "packages ok"
