#!/usr/bin/env bash
# Runs the client-life test suite under valgrind: any memory error or any
# definitely lost block fails the run.
#   scripts/valgrind.sh [path to client_life_test]   (default build/tests/client_life_test)
# Exits 77 (skipped) when valgrind is not installed.
set -euo pipefail
binary="${1:-build/tests/client_life_test}"
if ! command -v valgrind >/dev/null 2>&1; then
  echo "valgrind not found: skipped"
  exit 77
fi
if [ ! -x "$binary" ]; then
  echo "no test binary at $binary" >&2
  exit 2
fi
exec valgrind --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite \
  --quiet "$binary"
