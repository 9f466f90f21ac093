#!/usr/bin/env bash
# Builds the updater and shows it at work without a real tracker: tracker-sim serves three
# virtual ones (an FTDI-kind tracker in its boot loader; one of the maker's in its firmware,
# which the updater sends into its boot loader and which comes back there after "STARTED"; one
# on the 256-sector map), and a copy of the updater with automatic flashing and the log file
# ticked flashes them with its embedded image.
#
# With a display the window runs until it is closed. Without one (a server, CI) the updater
# runs under Xvfb, its event log is printed as it grows, and the script ends by itself: exit 0
# once every tracker has finished with success, 1 when one finished with a failure, 2 when the
# updater ended on its own, 3 after DEMO_TIMEOUT seconds (default 180), 4 when the updater did
# not close. Any arguments go to the updater.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"
bin=$PWD/build/default/bin

source scripts/demo-trackers.sh
timeout_s=${DEMO_TIMEOUT:-180}

# The program is portable: a copy of it and its library in a folder of their own, with a
# settings file there, leaves the build tree's settings and logs alone.
demo=$(mktemp -d "${TMPDIR:-/tmp}/veltorium-demo.XXXXXX")
app=$demo/app
mkdir -p "$app" "$demo/by-id" "$demo/ftdi" "$demo/dump"
cp "$bin/veltorium-updater" "$bin/libZIZUZ.so" "$app/"
# Window placement as the form has it; automatic flashing and the log file ticked.
printf '[COMMON]\nMainForm=-1,-1,-1,-1,1,-1,1\n' >"$app/ZUDUDerovo.ini"

sim_pid=
xvfb_pid=
cleanup() {
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null
  if [[ -n $sim_pid ]]; then
    kill "$sim_pid" 2>/dev/null
    wait "$sim_pid" 2>/dev/null
  fi
  rm -rf "$demo"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

start_tracker_sim
updater=(env LD_LIBRARY_PATH="$bin/d2xx-sim${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"
         "$app/veltorium-updater" "$@")

if [[ -n ${DISPLAY:-} || -n ${WAYLAND_DISPLAY:-} ]]; then
  echo "Virtual trackers: ${trackers[*]}"
  "${updater[@]}"
  exit 0
fi

# No display: a virtual one. The shell in front of the updater tells its process id, so that
# the end can close the updater itself (SIGTERM closes it like its close button).
xvfb-run -a -s "-screen 0 1280x1024x24" sh -c 'echo $$ >"$0"; exec "$@"' "$demo/updater.pid" \
  "${updater[@]}" >"$demo/updater.out" 2>&1 &
xvfb_pid=$!

# The daily log (Windows-1251, CR LF), printed as it grows: whatever was added since the last
# look, converted in one go.
log=$app/Logs/$(date +%Y%m%d).log
printed=0
print_log() {
  [[ -e $log ]] || return 0
  local size
  size=$(stat -c %s "$log")
  if ((size > printed)); then
    tail -c +$((printed + 1)) "$log" | head -c $((size - printed)) | tr -d '\r' |
      iconv -f WINDOWS-1251 -t UTF-8
    printed=$size
  fi
}

count() { grep -c "^finished [0-9]* $1\$" "$demo/tracker-sim.out" || true; }
status=3
for ((tick = 0; tick < timeout_s * 5; ++tick)); do
  print_log
  if (($(count failure) > 0)); then
    status=1
    break
  fi
  if (($(count success) == ${#trackers[@]})); then
    status=0
    break
  fi
  if ! kill -0 "$xvfb_pid" 2>/dev/null; then
    status=2
    break
  fi
  sleep 0.2
done

# The trackers have their finishing requests; the jobs' end handlers log the results a moment
# later. Then close the updater as its close button would.
if ((status == 0)); then
  sleep 1
  print_log
fi
if [[ -s $demo/updater.pid ]]; then
  kill -TERM "$(cat "$demo/updater.pid")" 2>/dev/null || true
fi
for ((tick = 0; tick < 150; ++tick)); do
  kill -0 "$xvfb_pid" 2>/dev/null || break
  sleep 0.2
done
if kill -0 "$xvfb_pid" 2>/dev/null; then
  echo "Demo: the updater did not close within 30 s." >&2
  kill -KILL "$(cat "$demo/updater.pid")" 2>/dev/null || true
  status=4
fi
wait "$xvfb_pid" 2>/dev/null || true
xvfb_pid=
print_log
echo
grep '^finished ' "$demo/tracker-sim.out" || true
case $status in
  0) echo "Demo: every virtual tracker was flashed." ;;
  1) echo "Demo: a job failed." ;;
  2) echo "Demo: the updater ended by itself:" && cat "$demo/updater.out" ;;
  3) echo "Demo: not every tracker was flashed within ${timeout_s} s." ;;
esac
exit "$status"
