#!/usr/bin/env bash
# Runs every libFuzzer target of a clang fuzz build for a bounded time, each
# from a scratch copy of its generated seed corpus, and prints libFuzzer's
# final figures. A crash, a sanitizer report or a broken invariant fails.
#   scripts/fuzz.sh [fuzz build directory, default build-fuzz] [seconds per target, default 60]
# The build directory is configured with clang and -DERRM_BUILD_FUZZ=ON
# (see docs/testing.md). Findings are kept in <build>/fuzz-runs/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build-fuzz}")
seconds=${2:-60}
src=$(pwd)/fuzz
runs="$build/fuzz-runs"

status=0
for fuzzer in "$build"/fuzz/*_fuzzer; do
  [ -x "$fuzzer" ] || continue
  name=$(basename "$fuzzer")
  short=${name%_fuzzer}
  out="$runs/$short"
  rm -rf "$out"
  mkdir -p "$out/corpus"
  dict=()
  [ -f "$src/$short.dict" ] && dict=(-dict="$src/$short.dict")
  # Inputs long enough to reach errmc's nesting and dotted-key limits (32)
  # many times over; libFuzzer would otherwise keep to its 4096 default.
  len=()
  [ "$short" = catalogue ] && len=(-max_len=16384)
  echo "== $name: ${seconds}s from $build/fuzz/corpus/$short"
  if "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
       "${dict[@]}" "${len[@]}" -artifact_prefix="$out/" "$out/corpus" "$build/fuzz/corpus/$short" \
       > "$out/log.txt" 2>&1; then
    grep -E "^#[0-9]+[[:space:]]+DONE|^Done [0-9]+ runs" "$out/log.txt" || true
  else
    echo "$name FAILED; the end of its log ($out/log.txt):"
    tail -n 60 "$out/log.txt"
    status=1
  fi
done
exit $status
