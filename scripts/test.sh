#!/usr/bin/env bash
# Builds everything and runs every test suite, then the robustness stages:
#   1. build/        the normal build and all the test suites (ctest);
#   2. build-asan/   the same suites built with AddressSanitizer and UBSan,
#                    and the fuzz targets' seed corpora replayed (g++ replay);
#   3. build-tsan/   the thread stress suite built with ThreadSanitizer (only
#                    that suite and what it links), each case in its own
#                    process: any report fails the run;
#   4. valgrind memcheck over the end-to-end cases of build/;
#   5. build-fuzz/   the libFuzzer targets built with clang, each run from its
#                    seed corpus: 25 s each when CI=true, 10 s otherwise
#                    (ERRM_FUZZ_SECONDS overrides).
# ERRM_QUICK=1 stops after stage 1. Never more than two build jobs. Every
# build treats warnings as errors (ERRM_WERROR) and carries line tables only
# for debugging (ERRM_LINE_TABLES_ONLY: files and lines in every report).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/install-deps.sh
jobs=$(nproc)
[ "$jobs" -gt 2 ] && jobs=2

common=(-DERRM_WERROR=ON -DERRM_LINE_TABLES_ONLY=ON)

stage() { echo; echo "==== $* ($(date +%T))"; }

stage "build and test"
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo "${common[@]}"
cmake --build build -j"$jobs"
ctest --test-dir build --output-on-failure -j"$jobs"
[ "${ERRM_QUICK:-0}" = 1 ] && exit 0

stage "AddressSanitizer and UBSan"
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DERRM_SANITIZE=ON "${common[@]}" \
  -DERRM_BUILD_FUZZ=ON -DERRM_BUILD_BENCH=OFF
cmake --build build-asan -j"$jobs"
ctest --test-dir build-asan --output-on-failure -j"$jobs"

stage "ThreadSanitizer"
cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DERRM_SANITIZE_THREAD=ON "${common[@]}" \
  -DERRM_BUILD_BENCH=OFF -DERRM_BUILD_EXAMPLES=OFF
cmake --build build-tsan -j"$jobs" --target thread_stress_test
# 20000 calls per thread instead of 100000: ThreadSanitizer runs each call
# several times slower, and every interleaving it checks is there already.
ERRM_STRESS_CALLS=20000 TSAN_OPTIONS="halt_on_error=1 exitcode=66" \
  ctest --test-dir build-tsan --output-on-failure -j"$jobs" -R '^(Mixes/Stress|ThreadLife)[.]'

stage "valgrind memcheck"
./scripts/valgrind.sh build

stage "fuzzers"
if [ -n "${ERRM_FUZZ_SECONDS:-}" ]; then
  seconds=$ERRM_FUZZ_SECONDS
elif [ "${CI:-}" = true ]; then
  seconds=25
else
  seconds=10
fi
CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo "${common[@]}" \
  -DERRM_BUILD_FUZZ=ON -DERRM_BUILD_TESTS=OFF -DERRM_BUILD_BENCH=OFF -DERRM_BUILD_EXAMPLES=OFF
cmake --build build-fuzz -j"$jobs" --target errm_fuzzers
./scripts/fuzz.sh build-fuzz "$seconds"
stage "done"
