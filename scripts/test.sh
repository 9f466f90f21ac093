#!/usr/bin/env bash
# Builds everything and runs every test: the normal build, a Release build, AddressSanitizer+UBSan,
# the thread tests under ThreadSanitizer, a short bounded run of each fuzzer, and the package
# installed and used in a fresh Debian 12 root. The Release build is the one a packager makes,
# where the optimiser warns differently.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh

jobs=$(nproc)
run_preset() {
  local preset=$1
  shift
  echo "=== ${preset} build ==="
  cmake --preset "${preset}" >/dev/null
  cmake --build --preset "${preset}" -j "${jobs}"
  if [[ "${preset}" != fuzz ]]; then
    echo "=== ${preset} tests ==="
    ctest --preset "${preset}" -j "${jobs}" "$@"
  fi
}

run_preset default
echo "=== release build ==="
cmake --preset release >/dev/null
cmake --build --preset release -j "${jobs}"
run_preset asan
run_preset tsan

run_preset fuzz
./scripts/fuzz.sh 20

# The package as a technician meets it, in a fresh Debian 12 root (needs root and the mirror).
echo "=== package test ==="
./scripts/package-test.sh

# The default suite once more, last, so its summary closes the output.
ctest --preset default -j "${jobs}"
