#!/usr/bin/env bash
# Runs the end-to-end test cases (a whole client life, processing, follow-up
# actions, the intact corruption sample) under valgrind's memcheck, one
# process per case as ctest runs them. Any memory error or any block
# definitely lost fails the run.
#   scripts/valgrind.sh [build directory, default build]
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
logs="$build/valgrind"
rm -rf "$logs"
mkdir -p "$logs" "$build/tests/tmp"
export ERRM_TEST_TMP="$build/tests/tmp"

# binary:gtest filter
suites=(
  "alloc_injection_test:AllocationFailure.WholeLifeInOneProcessGivesEverythingBack:FileNameCopyFailure.*"
  "process_test:*"
  "followup_test:*"
  "corruption_test:CorruptionSample.*"
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
  for c in $(list_cases "$binary" "$filter"); do
    echo "$binary $c" >> "$logs/cases"
  done
done

run_case() {
  local binary=$1 name=$2 log="$logs/$2.log"
  if valgrind --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite \
       --show-leak-kinds=definite --child-silent-after-fork=yes \
       "$binary" --gtest_filter="$name" > "$log" 2>&1; then
    echo "ok      $name"
  else
    echo "FAILED  $name (log: $log)"
    return 1
  fi
}
export -f run_case
export logs

count=$(wc -l < "$logs/cases")
echo "valgrind memcheck: $count cases"
if xargs -P 2 -L 1 bash -c 'run_case "$0" "$1"' < "$logs/cases"; then
  echo "valgrind memcheck: $count cases, no error, nothing definitely lost"
else
  echo "valgrind memcheck: failures; the first failing log:"
  grep -l . "$logs"/*.log | while read -r f; do
    if grep -q -E "ERROR SUMMARY: [1-9]|definitely lost|FAILED" "$f"; then cat "$f"; break; fi
  done
  exit 1
fi
