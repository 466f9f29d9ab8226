#!/usr/bin/env bash
# Runs every libFuzzer target of a clang fuzz build for a bounded time, each
# from a scratch copy of its generated seed corpus, and prints libFuzzer's
# final figures. A crash, a sanitizer report or a broken invariant fails.
#   scripts/fuzz.sh [fuzz build directory, default build-fuzz] [seconds per target, default 60]
# The targets run at the same time, each for the whole time given (on a
# machine with fewer cores than targets they share them; ERRM_FUZZ_SERIAL=1
# runs them one after the other). The build directory is configured with
# clang and -DERRM_BUILD_FUZZ=ON (see docs/testing.md). Findings are kept in
# <build>/fuzz-runs/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build-fuzz}")
seconds=${2:-60}
src=$(pwd)/fuzz
runs="$build/fuzz-runs"

# run_one <fuzzer>: one target's run, its log in <runs>/<short>/log.txt.
run_one() {
  local fuzzer=$1 short out
  short=$(basename "$fuzzer")
  short=${short%_fuzzer}
  out="$runs/$short"
  local dict=() len=()
  [ -f "$src/$short.dict" ] && dict=(-dict="$src/$short.dict")
  # Inputs long enough to reach errmc's nesting and dotted-key limits (32)
  # many times over; libFuzzer would otherwise keep to its 4096 default.
  [ "$short" = catalogue ] && len=(-max_len=16384)
  "$fuzzer" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    "${dict[@]}" "${len[@]}" -artifact_prefix="$out/" "$out/corpus" "$build/fuzz/corpus/$short" \
    > "$out/log.txt" 2>&1
}

# report <fuzzer> <status>: the final figures, or the end of the log.
report() {
  local name short out
  name=$(basename "$1")
  short=${name%_fuzzer}
  out="$runs/$short"
  echo "== $name: ${seconds}s from $build/fuzz/corpus/$short"
  if [ "$2" -eq 0 ]; then
    grep -E "^#[0-9]+[[:space:]]+DONE|^Done [0-9]+ runs" "$out/log.txt" || true
  else
    echo "$name FAILED; the end of its log ($out/log.txt):"
    tail -n 60 "$out/log.txt"
  fi
}

fuzzers=()
for fuzzer in "$build"/fuzz/*_fuzzer; do
  [ -x "$fuzzer" ] || continue
  fuzzers+=("$fuzzer")
  short=$(basename "$fuzzer")
  rm -rf "$runs/${short%_fuzzer}"
  mkdir -p "$runs/${short%_fuzzer}/corpus"
done

status=0
if [ "${ERRM_FUZZ_SERIAL:-0}" = 1 ]; then
  for fuzzer in "${fuzzers[@]}"; do
    rc=0
    run_one "$fuzzer" || rc=$?
    report "$fuzzer" "$rc"
    [ "$rc" -eq 0 ] || status=1
  done
else
  pids=()
  for fuzzer in "${fuzzers[@]}"; do
    run_one "$fuzzer" &
    pids+=($!)
  done
  for i in "${!fuzzers[@]}"; do
    rc=0
    wait "${pids[$i]}" || rc=$?
    report "${fuzzers[$i]}" "$rc"
    [ "$rc" -eq 0 ] || status=1
  done
fi
exit $status
