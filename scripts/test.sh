#!/usr/bin/env bash
# Builds everything and runs every test: the normal build, then AddressSanitizer+UBSan, the
# thread tests under ThreadSanitizer, and a short bounded run of each fuzzer. The program is
# also built once as a packager builds it (Release), where the optimiser warns differently.
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

# The default suite once more, last, so its summary closes the output.
ctest --preset default -j "${jobs}"
