#!/usr/bin/env bash
# The layer check on small trees: each case is a file to write and the
# violation the check must print (empty: the tree must pass).
set -euo pipefail
check="$1"
cases=(
  'base/a.cpp|#include "api/x.h"|base may not include api'
  'api/a.cpp|#include "base/x.h"|'
  'base/a.cpp|extern int errm_Top;|declares extern errm_Top, defined in'
  'api/a.cpp|extern "C" int f();|'
  'reports/a.cpp|extern const int errm_Top;|reaches api without its header'
  'base/x.h|extern int errm_Top;|'
)
fail=0
for c in "${cases[@]}"; do
  IFS='|' read -r file line want <<<"$c"
  tree=$(mktemp -d)
  mkdir -p "$tree"/{base,api,reports}
  echo 'int errm_Top = 0;' > "$tree/api/top.cpp"
  printf '%s\n' "$line" > "$tree/$file"
  set +e; out=$("$check" "$tree"); rc=$?; set -e
  rm -rf "$tree"
  if [ -z "$want" ] && [ $rc -ne 0 ]; then echo "FAIL $file '$line': refused: $out"; fail=1; fi
  if [ -n "$want" ] && { [ $rc -eq 0 ] || [[ "$out" != *"$want"* ]]; }; then
    echo "FAIL $file '$line': wanted '$want', got: $out"; fail=1
  fi
done
exit $fail
