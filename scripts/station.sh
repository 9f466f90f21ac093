#!/usr/bin/env bash
# The headless station at work without a real tracker: tracker-sim serves the same three
# virtual trackers as scripts/run.sh, and a portable copy of veltorium-station watches for them
# (`flash --watch`), printing its live lines (plain lines when stdout is no terminal). Once every
# tracker has been flashed the script stops the station with SIGTERM, which ends it with its
# summary. Exit codes: the station's own (0 every tracker flashed, 1 a job failed), or 3 after
# DEMO_TIMEOUT seconds (default 180). Any arguments go to the station after `flash --watch`.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target veltorium-station tracker-sim ftd2xx ZIZUZ
bin=$PWD/build/default/bin

source scripts/demo-trackers.sh
timeout_s=${DEMO_TIMEOUT:-180}

demo=$(mktemp -d "${TMPDIR:-/tmp}/veltorium-station.XXXXXX")
app=$demo/app
mkdir -p "$app" "$demo/by-id" "$demo/ftdi" "$demo/dump"
cp "$bin/veltorium-station" "$bin/libZIZUZ.so" "$app/"

sim_pid=
station_pid=
cleanup() {
  [[ -n $station_pid ]] && kill "$station_pid" 2>/dev/null
  if [[ -n $sim_pid ]]; then
    kill "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null
  fi
  rm -rf "$demo"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

start_tracker_sim

LD_LIBRARY_PATH="$bin/d2xx-sim${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" \
  "$app/veltorium-station" flash --watch --report "$demo/report.csv" "$@" &
station_pid=$!

count() { grep -c "^finished [0-9]* $1\$" "$demo/tracker-sim.out" || true; }
timed_out=1
for ((tick = 0; tick < timeout_s * 5; ++tick)); do
  kill -0 "$station_pid" 2>/dev/null || { timed_out=0; break; }
  if (($(count success) + $(count failure) == ${#trackers[@]})); then
    timed_out=0
    sleep 1  # the jobs' end handlers write their rows a moment after the last request
    kill -TERM "$station_pid"
    break
  fi
  sleep 0.2
done
status=0
if ((timed_out)); then
  kill -TERM "$station_pid"
fi
wait "$station_pid" || status=$?
station_pid=
echo
cat "$demo/report.csv"
((timed_out)) && status=3
exit "$status"
