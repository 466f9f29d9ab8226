#!/usr/bin/env bash
# Installs, on a Debian machine, the packages the build, the tools, the tests,
# the benchmarks and the fuzzers need and the machine lacks. Run as root.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libmd-dev                      # MD5 for the library
  libgtest-dev libgmock-dev      # tests
  libbenchmark-dev libspdlog-dev # benchmarks (spdlog is a comparison peer)
  libgoogle-glog-dev             # benchmarks (glog is a comparison peer)
  libtomlplusplus-dev libcli11-dev # the catalogue compiler
  nlohmann-json3-dev             # the catalogue compiler's --json output, record tests
  python3-jsonschema             # record lines checked against docs/record.schema.json
  gfortran                       # the Fortran example and client test
  valgrind                       # leak and memory checks
  python3-pytest python3-mypy    # the Python package's tests and its typed modules
  python3-setuptools python3-venv # pip install of the Python package, tested in a venv
  clang libclang-rt-14-dev       # fuzzers and sanitizer runtimes
  lintian man-db                 # checks of the Debian packages and the manual pages
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
