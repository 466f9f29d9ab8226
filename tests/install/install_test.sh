#!/usr/bin/env bash
# Installs the build into a temporary prefix, then builds a client with the
# CMake package (its catalogue compiled by errm_add_catalogue) and another
# with pkg-config, and runs both without LD_LIBRARY_PATH: the CMake build
# records the library's folder as rpath, the pkg-config build is given it.
set -euo pipefail
build_dir=$1
here=$(cd "$(dirname "$0")" && pwd)
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build_dir" --prefix "$prefix" >/dev/null
test -f "$prefix/include/errm.h"
test -L "$prefix/lib/liberrm.so" && test -L "$prefix/lib/liberrm.so.1"
test -f "$prefix/lib/pkgconfig/errm.pc"
test -x "$prefix/bin/errmc" && test -x "$prefix/bin/errm-report"
test -f "$prefix/share/man/man1/errmc.1"
expected="1.0.3.0 2007/01/08"

cmake -S "$here" -B "$prefix/consumer" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$prefix/consumer" >/dev/null
test -f "$prefix/consumer/catalogues/errm_desc_APP.bin"
out=$(ORV_VCO=ixl "$prefix/consumer/consumer" "$prefix/consumer/catalogues/")
want=$(printf '%s\n%s' "$expected" "** Note: (APP - 7) started consumer with 4 workers")
[ "$out" = "$want" ] || { echo "cmake client printed: $out"; exit 1; }
# A changed catalogue is compiled again by the next build.
sed 's/workers/threads/' "$here/app.toml" > "$prefix/app.toml"
cp "$here/CMakeLists.txt" "$here/consumer.c" "$prefix/"
cmake -S "$prefix" -B "$prefix/again" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$prefix/again" >/dev/null
sed -i 's/threads/tasks/' "$prefix/app.toml"
cmake --build "$prefix/again" >/dev/null
out=$(ORV_VCO=ixl "$prefix/again/consumer" "$prefix/again/catalogues/" | tail -1)
[ "$out" = "** Note: (APP - 7) started consumer with 4 tasks" ] || { echo "rebuilt: $out"; exit 1; }

export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
[ "$(pkg-config --variable=errmc errm)" -ef "$prefix/bin/errmc" ]
cc -std=c99 -Wall -Werror "$here/consumer.c" $(pkg-config --cflags --libs errm) \
   -Wl,-rpath,"$(pkg-config --variable=libdir errm)" -o "$prefix/pc_client"
out=$("$prefix/pc_client")
[ "$out" = "$expected" ] || { echo "pkg-config client printed: $out"; exit 1; }

# Only the 29 ERRM_ functions leave the shared library.
syms=$(nm -D --defined-only "$prefix/lib/liberrm.so" | awk '{print $3}' | sort)
count=$(echo "$syms" | grep -c '^ERRM_')
others=$(echo "$syms" | grep -v '^ERRM_' || true)
[ "$count" -eq 29 ] || { echo "exports: $count ERRM_ symbols"; exit 1; }
[ -z "$others" ] || { echo "unexpected exports: $others"; exit 1; }
echo "install ok"
