#!/usr/bin/env bash
# Runs the fuzzers of the fuzz build, one after the other, for a bounded time each:
#   ./scripts/fuzz.sh [seconds] [fuzzer...]
# seconds defaults to 20 (0: no time bound); without names every built fuzzer runs.
# FUZZ_RUNS=N ends each fuzzer after N executions instead, the time then a ceiling only.
# FUZZ_MERGE=1 afterwards adds to fuzz/seeds/<fuzzer> the inputs of the run's corpus that
# reach code the seeds do not, so that the seeds grow by a minimal set only.
# The whole output of each run is kept in build/fuzz/logs/<fuzzer>.log.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
shift || true
runs=${FUZZ_RUNS:-}
merge=${FUZZ_MERGE:-0}

shopt -s nullglob
fuzzers=()
if (($#)); then
  for name in "$@"; do
    fuzzers+=("build/fuzz/bin/$name")
  done
else
  fuzzers=(build/fuzz/bin/fuzz_*)
fi

found=0
mkdir -p build/fuzz/logs
for fuzzer in "${fuzzers[@]}"; do
  if [[ ! -x "$fuzzer" ]]; then
    (($#)) && echo "not built: $fuzzer" >&2 && exit 1
    continue
  fi
  found=1
  name=$(basename "$fuzzer")
  corpus=build/fuzz/corpus/$name
  log=build/fuzz/logs/$name.log
  mkdir -p "$corpus"
  seeds=()
  [[ -d fuzz/seeds/$name ]] && seeds=(fuzz/seeds/$name)
  limits=(-max_total_time="$seconds")
  [[ -n "$runs" ]] && limits+=(-runs="$runs")
  echo "=== $name: ${runs:-unbounded} runs, ${seconds}s at most ==="
  "$fuzzer" "${limits[@]}" -rss_limit_mb=2048 -print_final_stats=1 \
    "$corpus" "${seeds[@]}" >"$log" 2>&1 || {
    tail -n 40 "$log"
    exit 1
  }
  tail -n 12 "$log"
  if [[ "$merge" == 1 ]]; then
    mkdir -p "fuzz/seeds/$name"
    before=$(find "fuzz/seeds/$name" -type f | wc -l)
    "$fuzzer" -merge=1 "fuzz/seeds/$name" "$corpus" >"build/fuzz/logs/$name.merge.log" 2>&1
    after=$(find "fuzz/seeds/$name" -type f | wc -l)
    echo "seeds of $name: $before -> $after files"
  fi
done
((found)) || echo "no fuzzers built"
