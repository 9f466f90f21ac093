#!/usr/bin/env bash
# Runs every fuzzer of the fuzz build for a bounded time each: ./scripts/fuzz.sh [seconds]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
shopt -s nullglob
found=0
for fuzzer in build/fuzz/bin/fuzz_*; do
  [[ -x "$fuzzer" ]] || continue
  found=1
  name=$(basename "$fuzzer")
  corpus=build/fuzz/corpus/$name
  mkdir -p "$corpus"
  seeds=()
  [[ -d fuzz/seeds/$name ]] && seeds=(fuzz/seeds/$name)
  echo "=== $name for ${seconds}s ==="
  "$fuzzer" -max_total_time="$seconds" -rss_limit_mb=2048 -print_final_stats=1 \
    "$corpus" "${seeds[@]}" 2>&1 | tail -n 12
done
((found)) || echo "no fuzzers built"
