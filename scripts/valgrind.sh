#!/usr/bin/env bash
# Runs tests under valgrind's memcheck: any memory error or any block
# definitely lost fails the run. Two uses:
#   scripts/valgrind.sh <test binary>
#       the whole binary in one process (the ctest test valgrind_client_life
#       runs client_life_test so);
#   scripts/valgrind.sh [build directory, default build]
#       the end-to-end cases of that build one process per case, as ctest
#       runs them: a whole client life with and without failing allocations,
#       message processing, follow-up actions, the intact corruption sample,
#       threads that start and stop with their Return buffers.
# Exits 77 (skipped) when valgrind is not installed or the binary is built
# with AddressSanitizer, which cannot run under valgrind.
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v valgrind >/dev/null 2>&1; then
  echo "valgrind not found: skipped"
  exit 77
fi
memcheck=(valgrind --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite
          --show-leak-kinds=definite --child-silent-after-fork=yes)

target="${1:-build}"
if [ ! -d "$target" ]; then
  if [ ! -x "$target" ]; then
    echo "no test binary at $target" >&2
    exit 2
  fi
  if grep -q __asan_init "$target"; then
    echo "$target is built with AddressSanitizer: skipped"
    exit 77
  fi
  exec "${memcheck[@]}" "$target"
fi

build=$(realpath "$target")
logs="$build/valgrind"
rm -rf "$logs"
mkdir -p "$logs" "$build/tests/tmp"
export ERRM_TEST_TMP="$build/tests/tmp"

# binary:gtest filter (client_life_test runs whole in ctest already; the
# fork case of thread_stress_test is left out: its child cannot free the
# std::thread of a thread it does not have)
suites=(
  "alloc_injection_test:AllocationFailure.WholeLifeInOneProcessGivesEverythingBack:FileNameCopyFailure.*"
  "process_test:*"
  "followup_test:*"
  "retrieval_test:*"
  "direct_test:*"
  "user_test:*"
  "shutdown_test:*"
  "corruption_test:CorruptionSample.*"
  "thread_stress_test:ThreadLife.ReturnBuffers*"
)

# Full names of the cases a filter selects.
list_cases() {
  "$1" --gtest_list_tests --gtest_filter="$2" | awk '
    /^[^ ]/ { suite = $1; next }
    /^  /   { print suite $1 }'
}

: > "$logs/cases"
for entry in "${suites[@]}"; do
  binary="$build/tests/${entry%%:*}"
  filter="${entry#*:}"
  if grep -q __asan_init "$binary"; then
    echo "$binary is built with AddressSanitizer: skipped"
    exit 77
  fi
  for c in $(list_cases "$binary" "$filter"); do
    echo "$binary $c" >> "$logs/cases"
  done
done

run_case() {
  local binary=$1 name=$2 log="$logs/${2//\//_}.log"
  if "${memcheck[@]}" "$binary" --gtest_filter="$name" > "$log" 2>&1; then
    echo "ok      $name"
  else
    echo "FAILED  $name (log: $log)"
    return 1
  fi
}
export -f run_case
export logs
export memcheck_line="${memcheck[*]}"

count=$(wc -l < "$logs/cases")
echo "valgrind memcheck: $count cases"
if xargs -P 2 -L 1 bash -c 'memcheck=($memcheck_line); run_case "$0" "$1"' < "$logs/cases"; then
  echo "valgrind memcheck: $count cases, no error, nothing definitely lost"
else
  echo "valgrind memcheck: failures; the first failing log:"
  for f in "$logs"/*.log; do
    if grep -q -E "ERROR SUMMARY: [1-9]|definitely lost|FAILED" "$f"; then
      cat "$f"
      break
    fi
  done
  exit 1
fi
