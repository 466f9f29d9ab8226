#!/usr/bin/env bash
# Builds the benchmarks (Release, in build-release/ unless BUILD_DIR says
# otherwise), runs them with repetitions, and prints the ratio table.
#
#   scripts/bench.sh              # everything, 10 repetitions
#   REPETITIONS=3 scripts/bench.sh
#   scripts/bench.sh process      # only bench_process (or: descriptor)
#
# Each repetition is kept in the JSON (not only the aggregates), so that the
# table can show the spread of every ratio. The raw results (JSON and console output) stay in $OUT_DIR (default: a new
# directory under /tmp, printed at the end). See docs/performance.md.
set -euo pipefail
cd "$(dirname "$0")/.."

build=${BUILD_DIR:-build-release}
reps=${REPETITIONS:-10}
min_time=${MIN_TIME:-0.2}
out=${OUT_DIR:-$(mktemp -d /tmp/errm-bench-results-XXXXXX)}
which=${1:-all}
mkdir -p "$out"

./scripts/install-deps.sh
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >"$out/cmake.log"
cmake --build "$build" -j2 --target bench_process bench_descriptor >>"$out/cmake.log"

# The load average before and after tells whether the machine was quiet:
# on two cores, anything near 1 or above means other work shared them.
load_before=$(cut -d' ' -f1-3 /proc/loadavg)

# Repetitions of all benchmarks of one program are interleaved in random
# order, so that a slow phase of the machine falls on every figure alike.
run() {
  local name=$1
  echo "running $name ($reps repetitions)..." >&2
  "$build/bench/$name" \
    --benchmark_repetitions="$reps" \
    --benchmark_enable_random_interleaving=true \
    --benchmark_min_time="$min_time" \
    --benchmark_out="$out/$name.json" --benchmark_out_format=json \
    >"$out/$name.txt" 2>&1
}

files=()
if [ "$which" = all ] || [ "$which" = process ]; then
  run bench_process
  files+=("$out/bench_process.json")
fi
if [ "$which" = all ] || [ "$which" = descriptor ]; then
  # The process benchmarks write gigabytes: their write-back must not run
  # beside the lookups and loads measured next.
  sync
  sleep 5
  run bench_descriptor
  files+=("$out/bench_descriptor.json")
fi

load_after=$(cut -d' ' -f1-3 /proc/loadavg)

echo "medians of $reps repetitions; CPU time of the measuring thread"
echo "min-max: the lowest and highest ratio of one repetition"
awk -v load_before="$load_before" -v load_after="$load_after" \
  -f bench/ratio_table.awk "${files[@]}"
echo "raw results: $out" >&2
