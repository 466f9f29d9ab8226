#!/usr/bin/env bash
# Installs the build into a temporary prefix, then builds a client with the
# CMake package (its catalogue compiled by errm_add_catalogue, C and Fortran)
# and another with pkg-config, and runs both without LD_LIBRARY_PATH: the
# CMake build records the library's folder as rpath, the pkg-config build is
# given it. Also checks the installed documentation, that every file
# errm_add_catalogue writes is rebuilt when deleted or when its source
# changes, and errm_install_catalogues.
set -euo pipefail
build_dir=$1
here=$(cd "$(dirname "$0")" && pwd)
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build_dir" --prefix "$prefix" >/dev/null
libdir=$(sed -n 's/^libdir=\${prefix}\///p' "$build_dir/errm.pc")
for f in include/errm.h "$libdir/pkgconfig/errm.pc" bin/errmc bin/errm-report share/man/man1/errmc.1 \
         share/man/man1/errm-report.1 \
         share/man/man3/errm.3 share/doc/errm/README.md share/doc/errm/CHANGELOG.md \
         share/doc/errm/errmc.md share/doc/errm/results.md \
         share/doc/errm/severities-and-channels.md; do
  [ -e "$prefix/$f" ] || { echo "not installed: $f"; exit 1; }
done
test -L "$prefix/$libdir/liberrm.so" && test -L "$prefix/$libdir/liberrm.so.1"
# The library's own version is its contract's, whatever the project's version.
expected="1.0.3.0 2007/01/08"
say() { ORV_VCO=ixl "$@"; }

cmake -S "$here" -B "$prefix/consumer" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$prefix/consumer" >/dev/null
out=$(say "$prefix/consumer/consumer" "$prefix/consumer/catalogues/")
want=$(printf '%s\n%s' "$expected" "** Note: (APP - 7) started consumer with 4 workers")
[ "$out" = "$want" ] || { echo "cmake client printed: $out"; exit 1; }
# Every file errm_add_catalogue writes is rebuilt when it is deleted.
for f in catalogues/errm_desc_APP.bin catalogues/errm_app.h; do
  rm "$prefix/consumer/$f"
  cmake --build "$prefix/consumer" >/dev/null
  [ -f "$prefix/consumer/$f" ] || { echo "$f not rebuilt"; exit 1; }
done
# The descriptors, installed where the program is told to look.
cmake --install "$prefix/consumer" --prefix "$prefix/app" >/dev/null
out=$(say "$prefix/consumer/consumer" "$prefix/app/share/consumer/" | tail -1)
[ "$out" = "** Note: (APP - 7) started consumer with 4 workers" ] || { echo "installed: $out"; exit 1; }
# The Fortran client, through the generated module; its shims and module
# compile to objects of different names.
if [ -x "$prefix/consumer/fconsumer" ]; then
  out=$(say "$prefix/consumer/fconsumer" "$prefix/consumer/fcatalogues/")
  [ "$out" = "** Note: (APP - 7) started fortran with 2 workers" ] || { echo "fortran: $out"; exit 1; }
  stems=$(find "$prefix/consumer/CMakeFiles/fconsumer.dir" -name '*.o' -printf '%f\n' |
          sed 's/\..*//' | sort)
  [ "$stems" = "$(echo "$stems" | uniq)" ] || { echo "objects of one name: $stems"; exit 1; }
  [ -f "$prefix/consumer/fcatalogues/errm_app_shims.c" ] || { echo "no shims"; exit 1; }
elif command -v gfortran >/dev/null; then
  echo "gfortran is installed but the Fortran client was not built"; exit 1
fi

# A changed catalogue is compiled again by the next build.
sed 's/workers/threads/' "$here/app.toml" > "$prefix/app.toml"
cp "$here/CMakeLists.txt" "$here/consumer.c" "$here/fconsumer.f90" "$prefix/"
cmake -S "$prefix" -B "$prefix/again" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$prefix/again" >/dev/null
sed -i 's/threads/tasks/' "$prefix/app.toml"
cmake --build "$prefix/again" >/dev/null
out=$(say "$prefix/again/consumer" "$prefix/again/catalogues/" | tail -1)
[ "$out" = "** Note: (APP - 7) started consumer with 4 tasks" ] || { echo "rebuilt: $out"; exit 1; }

export PKG_CONFIG_PATH="$prefix/$libdir/pkgconfig"
[ "$(pkg-config --variable=errmc errm)" -ef "$prefix/bin/errmc" ]
[ "$(pkg-config --modversion errm)" = "$(sed -n 's/^Version: //p' "$build_dir/errm.pc")" ]
cc -std=c99 -Wall -Werror "$here/consumer.c" $(pkg-config --cflags --libs errm) \
   -Wl,-rpath,"$(pkg-config --variable=libdir errm)" -o "$prefix/pc_client"
out=$("$prefix/pc_client")
[ "$out" = "$expected" ] || { echo "pkg-config client printed: $out"; exit 1; }

# The Python package, found through pkg-config; it finds the prefix's library
# and errmc by itself (no ERRM_LIBRARY, ERRM_ERRMC, LD_LIBRARY_PATH or PATH).
pythondir=$(pkg-config --variable=pythondir errm)
[ "$pythondir" -ef "$prefix/lib/python3/dist-packages" ] || { echo "pythondir $pythondir"; exit 1; }
test -f "$pythondir/errm/_config.py" && test -f "$pythondir/errm/_results.json"
out=$(cd "$prefix/again" && env -u ERRM_LIBRARY -u ERRM_ERRMC PATH=/usr/bin:/bin ORV_VCO=ixl \
      PYTHONPATH="$pythondir" PYTHONDONTWRITEBYTECODE=1 /usr/bin/python3 -c '
import errm
with errm.session(descriptor_root="catalogues") as s:
    s.load("APP").process("STARTED", "python", 2)
print(errm.library_path())')
want=$(printf '%s\n%s' "** Note: (APP - 7) started python with 2 tasks" "$prefix/lib/liberrm.so.1")
[ "$out" = "$want" ] || { echo "python client printed: $out"; exit 1; }

# Only the 29 ERRM_ functions leave the shared library.
syms=$(nm -D --defined-only "$prefix/$libdir/liberrm.so" | awk '{print $3}' | sort)
count=$(echo "$syms" | grep -c '^ERRM_')
others=$(echo "$syms" | grep -v '^ERRM_' || true)
[ "$count" -eq 29 ] || { echo "exports: $count ERRM_ symbols"; exit 1; }
[ -z "$others" ] || { echo "unexpected exports: $others"; exit 1; }
echo "install ok"
