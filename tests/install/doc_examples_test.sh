#!/usr/bin/env bash
# Runs the examples of a documentation page: its ```toml block is a catalogue
# compiled with errmc; each ```c block becomes the body of a client that loads
# that catalogue (handle `demo`, report root `run`, transcript run.tra) and
# ends with ERRM_FInit, and the plain ``` block after it must be the client's
# standard output followed by `grep -v '^START report' run.*`.
# Usage: doc_examples_test.sh PAGE.md ERRMC INCLUDE_DIR LIB_DIR
set -euo pipefail
page=$1 errmc=$2 include=$(cd "$3" && pwd) libdir=$(cd "$4" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# Splits the page into work/block.N.<fence> files, in order.
awk -v dir="$work" '/^```/ { if (open) { open = 0; close(f) } else { open = 1; n++;
                       f = sprintf("%s/block.%03d.%s", dir, n, substr($0, 4) == "" ? "out" : substr($0, 4)) }
                       next }
                     open { print > f }' "$page"
toml=$(ls "$work"/block.*.toml)
[ "$(echo "$toml" | wc -l)" -eq 1 ] || { echo "want one toml block"; exit 1; }
name=$(sed -n 's/^subsystem *= *"\(.*\)"/\1/p' "$toml" | tr 'A-Z' 'a-z')
cp "$toml" "$work/$name.toml"
"$errmc" compile "$work/$name.toml" -o "$work" >/dev/null
"$errmc" header "$work/$name.toml" -o "$work/errm_$name.h"
prefix=$(echo "$name" | tr 'a-z' 'A-Z')

failures=0 count=0
for snippet in "$work"/block.*.c; do
  n=${snippet#"$work"/block.}; n=${n%.c}
  expected="$work/block.$(printf '%03d' $((10#$n + 1))).out"
  [ -f "$expected" ] || { echo "example $n: no output block after it"; exit 1; }
  run="$work/run$n"
  mkdir "$run"
  { printf '#define _POSIX_C_SOURCE 200809L\n#include <errm.h>\n#include <stdio.h>\n'
    printf '#include <stdlib.h>\n#include "errm_%s.h"\n' "$name"
    printf 'int main(void) {\n    %s_handle demo;\n' "$prefix"
    printf '    ERRM_Set_Root_ForMemoryDescriptor("%s/");\n' "$work"
    printf '    ERRM_Set_RootReportFiles("run");\n    ERRM_Set_TranScriptFileName("run.tra");\n'
    printf '    if (!ERRM_Init() || %s_load(&demo) != ERRM_OK) return 99;\n    {\n' "$prefix"
    cat "$snippet"
    printf '    }\n    fflush(stdout);\n    ERRM_FInit();\n    return 0;\n}\n'; } > "$run/example.c"
  cc -std=c99 -Wall -Wextra -Werror -I"$include" -I"$work" "$run/example.c" \
     -L"$libdir" -lerrm -Wl,-rpath,"$libdir" -o "$run/example"
  got=$(cd "$run" && { env -u DEMO_TRACE -u DEMO_VERBOSE ORV_VCO=ixl ./example 2>&1 ||
                        echo "example exited with $?"; } &&
        if ls run.* >/dev/null 2>&1; then grep -H -v '^START report' run.* || true; fi)
  count=$((count + 1))
  if [ "$got" != "$(cat "$expected")" ]; then
    failures=$((failures + 1))
    echo "example $n differs:"; diff <(echo "$got") "$expected" || true
  fi
done
[ "$count" -gt 0 ] || { echo "no examples"; exit 1; }
[ "$failures" -eq 0 ] || exit 1
echo "$count examples ok"
