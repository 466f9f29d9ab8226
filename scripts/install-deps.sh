#!/usr/bin/env bash
# Installs, on a Debian machine, the packages the build, the tools, the tests,
# the benchmarks and the fuzzers need and the machine lacks. Run as root.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libmd-dev                      # MD5 for the library
  libgtest-dev libgmock-dev      # tests
  libbenchmark-dev libspdlog-dev # benchmarks (spdlog is a comparison peer)
  libtomlplusplus-dev libcli11-dev # the catalogue compiler
  nlohmann-json3-dev             # the catalogue compiler's --json output
  gfortran                       # the Fortran example and client test
  valgrind                       # leak and memory checks
  clang libclang-rt-14-dev       # fuzzers and sanitizer runtimes
  openmpi-bin libopenmpi-dev     # the MPI example and its 8-rank test
  chromium                       # loads errm-report's page in the tests (headless)
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "installing: ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq || true
  apt-get install -y -qq "${missing[@]}"
fi
