#!/usr/bin/env bash
# Soak run: shows that a long run does not leak. A portable copy of the headless station
# (`flash --watch`) and of the window (offscreen, automatic flashing ticked) each flash
# SOAK_TRACKERS virtual trackers (default 200), SOAK_BATCH at a time (default 8): a batch is
# plugged in (a tracker-sim of its own publishes it), flashed, and unplugged (tracker-sim ends and
# withdraws it) before the next one comes. Serials are all different, the two driver kinds
# alternate, and every fourth tracker starts in its firmware, so it is sent into its boot loader
# and comes back as after a re-plug.
#
# After each batch the program's resident memory (VmRSS), open descriptors and threads are
# printed. FAIL when, between the halfway point and the end, the memory grew by more than
# SOAK_RSS_SLACK_KB (default 2048) or the descriptors or threads grew at all, when a job failed,
# or when the program did not end cleanly: the station on SIGINT with exit code 0 and a report
# of one successful row per tracker, the window on SIGTERM (its close button) with 0.
#
#   scripts/soak.sh [station] [window]     # both when none is named
#
# Each batch waits on the program's own lines (JSON events, the daily log), never on a fixed
# time, with a ceiling of SOAK_BATCH_TIMEOUT seconds (default 300). Exit code 0 PASS, 1 FAIL.
set -euo pipefail
cd "$(dirname "$0")/.."

total=${SOAK_TRACKERS:-200}
batch=${SOAK_BATCH:-8}
ceiling=${SOAK_BATCH_TIMEOUT:-300}
rss_slack_kb=${SOAK_RSS_SLACK_KB:-2048}
fronts=("$@")
((${#fronts[@]})) || fronts=(station window)
for front in "${fronts[@]}"; do
  [[ $front == station || $front == window ]] || {
    echo "usage: scripts/soak.sh [station] [window]" >&2
    exit 2
  }
done

./scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" \
  --target veltorium-station veltorium-updater tracker-sim ftd2xx ZIZUZ
bin=$PWD/build/default/bin

soak=$(mktemp -d "${TMPDIR:-/tmp}/veltorium-soak.XXXXXX")
sim_pid=
prog_pid=
cleanup() {
  [[ -n $prog_pid ]] && kill -KILL "$prog_pid" 2>/dev/null
  if [[ -n $sim_pid ]]; then
    kill "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null
  fi
  # A failed run's folder stays for a look: the program's output, its log, tracker-sim's lines.
  if ((verdict == 0)); then
    rm -rf "$soak"
  else
    echo "The run's files: $soak" >&2
  fi
}
verdict=0
trap cleanup EXIT
trap 'exit 130' INT TERM

# The daily log is Windows-1251 with CR LF; log_text keeps it as UTF-8 lines, adding only what
# was appended since the last look. A day's change mid-run only starts a second file.
log_done=0
refresh_log() {
  local file size
  for file in "$dir"/app/Logs/*.log; do
    [[ -e $file ]] || return 0
  done
  size=$(cat "$dir"/app/Logs/*.log | wc -c)
  if ((size > log_done)); then
    cat "$dir"/app/Logs/*.log | tail -c +$((log_done + 1)) | head -c $((size - log_done)) |
      tr -d '\r' | iconv -f WINDOWS-1251 -t UTF-8 >>"$dir/log.txt"
    log_done=$size
  fi
}

count() { grep -c -e "$1" "$2" 2>/dev/null || true; }

# Flashed and failed jobs so far, by the program's own lines.
flashed_count() {
  if [[ $front == station ]]; then
    grep '"event":"done"' "$dir/station.out" 2>/dev/null | grep -c '"code":0,' || true
  else
    count 'Прошивка завершена успешно' "$dir/log.txt"
  fi
}
failed_count() {
  if [[ $front == station ]]; then
    grep '"event":"done"' "$dir/station.out" 2>/dev/null | grep -vc '"code":0,' || true
  else
    count 'Ошибка [0-9]* при прошивке\|Прибор заблокирован\|не совместим' "$dir/log.txt"
  fi
}

# True when every serial of the batch was last seen going away.
batch_gone() {
  local serial
  for serial in "${serials[@]}"; do
    grep -e "Прибор *$serial"$'\t' "$dir/log.txt" | tail -n 1 | grep -q 'Прибор отключен' ||
      return 1
  done
}

# Waits until "$@" succeeds, at most $ceiling seconds; false on the ceiling or when the program
# has ended.
wait_for() {
  local tick
  for ((tick = 0; tick < ceiling * 5; ++tick)); do
    refresh_log
    "$@" && return 0
    kill -0 "$prog_pid" 2>/dev/null || return 1
    sleep 0.2
  done
  return 1
}
enough_flashed() { (($(flashed_count) + $(failed_count) >= $1)); }

# The program's figures: resident kB, descriptors, threads.
sample() {
  local rss threads fds
  rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$prog_pid/status")
  threads=$(awk '/^Threads:/ {print $2}' "/proc/$prog_pid/status")
  fds=$(find "/proc/$prog_pid/fd" -mindepth 1 -maxdepth 1 | wc -l)
  echo "$rss $fds $threads"
}
# The event log's lines so far go with them: the window's view keeps every line.
show() {
  printf '%-8s %-12s rss %7s kB  fds %4s  threads %3s  log lines %6s\n' "$front" "$1" $2 $3 $4 \
    "$(wc -l <"$dir/log.txt")"
}

plug_batch() {
  local first=$1 n=$2 i args=()
  serials=()
  for ((i = first; i < first + n; ++i)); do
    local serial=$((serial_base + i)) driver=ql mode=boot
    ((i % 2 == 0)) && driver=ftdi
    ((i % 4 == 3)) && mode=firmware
    serials+=("$serial")
    args+=(--tracker "serial=$serial,driver=$driver,mode=$mode")
  done
  mkdir -p "$dir/dump"
  "$bin/tracker-sim" --zizuz-dir "$dir/by-id" --ftdi-dir "$dir/ftdi" --dump-dir "$dir/dump" \
    --replug-ms 500 "${args[@]}" >>"$dir/tracker-sim.out" 2>&1 </dev/null &
  sim_pid=$!
}
# tracker-sim withdraws every entry before it ends; its dumps are not needed.
unplug_batch() {
  kill -TERM "$sim_pid"
  wait "$sim_pid" || true
  sim_pid=
  rm -rf "$dir/dump"
}

fail() {
  echo "$front: FAIL: $*"
  verdict=1
}

soak_front() {
  front=$1
  dir=$soak/$front
  log_done=0
  mkdir -p "$dir/app" "$dir/by-id" "$dir/ftdi" "$dir/run"
  chmod 700 "$dir/run"
  : >"$dir/log.txt"
  cp "$bin/libZIZUZ.so" "$dir/app/"
  # Both programs find the trackers here; the instance lock and restore socket live in run/.
  export ZIZUZ_DEVICE_DIR=$dir/by-id FTD2XX_SIM_DIR=$dir/ftdi XDG_RUNTIME_DIR=$dir/run
  local libs="$bin/d2xx-sim${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
  if [[ $front == station ]]; then
    serial_base=710000
    cp "$bin/veltorium-station" "$dir/app/"
    LD_LIBRARY_PATH=$libs "$dir/app/veltorium-station" flash --watch --json \
      --report "$dir/report.csv" >"$dir/station.out" 2>"$dir/station.err" &
  else
    serial_base=720000
    cp "$bin/veltorium-updater" "$dir/app/"
    # Window placement as the form has it; automatic flashing and the log file ticked.
    printf '[COMMON]\nMainForm=-1,-1,-1,-1,1,-1,1\n' >"$dir/app/ZUDUDerovo.ini"
    LD_LIBRARY_PATH=$libs QT_QPA_PLATFORM=offscreen UPDATER_DIALOGS_TO_STDERR=1 \
      "$dir/app/veltorium-updater" >"$dir/updater.out" 2>&1 &
  fi
  prog_pid=$!

  # The start: the program is up, its first (empty) scan done, before any tracker. Its log
  # file's first lines come from the start-up; the scan of no trackers says nothing, so the
  # figures are taken once they have stayed the same for a second.
  local first second=
  if ! wait_for test -s "$dir/log.txt"; then
    fail "the program did not start (no log lines)"
  fi
  first=$(sample)
  for ((tick = 0; tick < ceiling; ++tick)); do
    sleep 1
    second=$(sample)
    [[ $second == "$first" ]] && break
    first=$second
  done
  local start
  read -ra start <<<"$second"
  show start "${start[@]}"

  local done_total=0 half=() end=() figures
  while ((done_total < total && verdict == 0)); do
    # A batch ends on the halfway mark, so that its figures are taken there.
    local mark=$((done_total < total / 2 ? total / 2 : total))
    local n=$((mark - done_total < batch ? mark - done_total : batch))
    plug_batch "$done_total" "$n"
    if ! wait_for enough_flashed $((done_total + n)); then
      fail "batch from $((serial_base + done_total)): not flashed within ${ceiling} s"
    fi
    unplug_batch
    if ((verdict == 0)) && ! wait_for batch_gone; then
      fail "batch from $((serial_base + done_total)): not seen unplugged within ${ceiling} s"
    fi
    if (($(failed_count) > 0)); then
      fail "$(failed_count) job(s) failed"
    fi
    done_total=$((done_total + n))
    read -ra figures <<<"$(sample)"
    show "$done_total" "${figures[@]}"
    ((done_total == total / 2)) && half=("${figures[@]}")
    end=("${figures[@]}")
  done

  # The end, as an operator would end it.
  local status=0
  if [[ $front == station ]]; then
    kill -INT "$prog_pid"
  else
    kill -TERM "$prog_pid"
  fi
  local tick
  for ((tick = 0; tick < ceiling * 5; ++tick)); do
    kill -0 "$prog_pid" 2>/dev/null || break
    sleep 0.2
  done
  if kill -0 "$prog_pid" 2>/dev/null; then
    fail "the program did not end within ${ceiling} s"
    kill -KILL "$prog_pid"
  fi
  wait "$prog_pid" || status=$?
  prog_pid=
  ((status == 0)) || fail "exit code $status"

  if [[ $front == station ]]; then
    # One header and one row per tracker, each with result code 0 (the tenth field).
    local rows ok
    rows=$(($(grep -c $'\r$' "$dir/report.csv" || true) - 1))
    ok=$(tail -n +2 "$dir/report.csv" | awk -F, '$10 == 0' | wc -l)
    echo "$front   report: $rows rows, $ok successful"
    ((rows == total && ok == total)) || fail "the report has $rows rows, $ok successful"
    grep '"event":"summary"' "$dir/station.out" || fail "no summary"
  fi

  if ((${#half[@]} && ${#end[@]})); then
    local grew=$((end[0] - half[0]))
    echo "$front   from $((total / 2)) to $total: rss ${grew} kB, fds $((end[1] - half[1])), threads $((end[2] - half[2]))"
    ((grew <= rss_slack_kb)) || fail "resident memory grew by $grew kB"
    ((end[1] <= half[1])) || fail "descriptors grew from ${half[1]} to ${end[1]}"
    ((end[2] <= half[2])) || fail "threads grew from ${half[2]} to ${end[2]}"
  fi
  if ((verdict != 0)); then
    for file in "$dir"/station.err "$dir"/updater.out; do
      [[ -s $file ]] && tail -n 20 "$file"
    done
  fi
}

for front in "${fronts[@]}"; do
  soak_front "$front"
  ((verdict == 0)) || break
done
if ((verdict == 0)); then
  echo PASS
else
  echo FAIL
fi
exit "$verdict"
