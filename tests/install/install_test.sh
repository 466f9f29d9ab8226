#!/usr/bin/env bash
# Installs the build into a temporary prefix, then builds a client with the
# CMake package and another with pkg-config, and runs both.
set -euo pipefail
build_dir=$1
here=$(cd "$(dirname "$0")" && pwd)
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
cmake --install "$build_dir" --prefix "$prefix" >/dev/null
test -f "$prefix/include/errm.h"
test -L "$prefix/lib/liberrm.so" && test -L "$prefix/lib/liberrm.so.1"
test -f "$prefix/lib/pkgconfig/errm.pc"
expected="1.0.3.0 2007/01/08"

cmake -S "$here" -B "$prefix/consumer" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$prefix/consumer" >/dev/null
out=$(LD_LIBRARY_PATH="$prefix/lib" "$prefix/consumer/consumer")
[ "$out" = "$expected" ] || { echo "cmake client printed: $out"; exit 1; }

export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
cc -std=c99 -Wall -Werror "$here/consumer.c" $(pkg-config --cflags --libs errm) -o "$prefix/pc_client"
out=$(LD_LIBRARY_PATH="$prefix/lib" "$prefix/pc_client")
[ "$out" = "$expected" ] || { echo "pkg-config client printed: $out"; exit 1; }

# Only the 29 ERRM_ functions leave the shared library.
syms=$(nm -D --defined-only "$prefix/lib/liberrm.so" | awk '{print $3}' | sort)
count=$(echo "$syms" | grep -c '^ERRM_')
others=$(echo "$syms" | grep -v '^ERRM_' || true)
[ "$count" -eq 29 ] || { echo "exports: $count ERRM_ symbols"; exit 1; }
[ -z "$others" ] || { echo "unexpected exports: $others"; exit 1; }
echo "install ok"
