#!/usr/bin/env bash
# Makes docs/screenshot.png (or the file given as the first argument): the updater as run.sh
# shows it, three virtual trackers and automatic flashing, on a virtual screen with a framing
# window manager (Xvfb and openbox), taken while one tracker is being flashed. The third
# tracker answers slowly, so it is still being flashed when the other two are done. Run it
# again after any change to the window; it builds what it needs in build/default.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

if [[ ${1:-} == --inside ]]; then
  # Second half: runs inside the virtual display that the first half made.
  out=$2 demo=$3 bin=$4
  shift 4
  openbox >"$demo/openbox.out" 2>&1 &
  # The window manager is up once it names itself on the root window.
  for ((tick = 0; tick < 100; ++tick)); do
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
    sleep 0.1
  done

  "$bin/tracker-sim" "$@" >"$demo/tracker-sim.out" 2>&1 </dev/null &
  sim_pid=$!
  env -u QT_QPA_PLATFORM LD_LIBRARY_PATH="$bin/d2xx-sim${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}" \
    "$demo/app/veltorium-updater" >"$demo/updater.out" 2>&1 &
  updater_pid=$!

  # The moment: the first two trackers flashed, the slow one well into its job.
  # The simulator's output file may not exist yet on the first look.
  count() {
    local n
    n=$(grep -c "$1" "$demo/tracker-sim.out" 2>/dev/null) || true
    echo "${n:-0}"
  }
  ready=0
  for ((tick = 0; tick < 1200; ++tick)); do
    if (($(count '^finished 100[12] success$') == 2 && $(count '^request 1003 ') >= 120)); then
      ready=1
      break
    fi
    if (($(count '^finished 1003 ') > 0)) || ! kill -0 "$updater_pid" 2>/dev/null; then
      break
    fi
    sleep 0.1
  done
  status=0
  if ((ready)); then
    # The window and its frame, cropped from the black screen; a palette keeps the file small.
    import -window root "$demo/screen.png"
    convert "$demo/screen.png" -trim +repage -strip PNG8:"$out"
    echo "Screenshot written to $out"
  else
    echo "screenshot: no tracker was being flashed in time" >&2
    cat "$demo/tracker-sim.out" >&2
    status=1
  fi
  kill -TERM "$updater_pid" 2>/dev/null || true
  wait "$updater_pid" 2>/dev/null || true
  kill "$sim_pid" 2>/dev/null || true
  wait "$sim_pid" 2>/dev/null || true
  exit "$status"
fi

out=$(realpath -m "${1:-docs/screenshot.png}")
mkdir -p "$(dirname "$out")"
./scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target veltorium-updater tracker-sim ZIZUZ ftd2xx
bin=$root/build/default/bin

demo=$(mktemp -d "${TMPDIR:-/tmp}/veltorium-shot.XXXXXX")
trap 'rm -rf "$demo"' EXIT
mkdir -p "$demo/app" "$demo/by-id" "$demo/ftdi" "$demo/dump"
cp "$bin/veltorium-updater" "$bin/libZIZUZ.so" "$demo/app/"
# The form's width, tall enough for three panels; automatic flashing ticked.
printf '[COMMON]\nMainForm=-1,-1,-1,620,1,-1,0\n' >"$demo/app/ZUDUDerovo.ini"

export ZIZUZ_DEVICE_DIR=$demo/by-id
export FTD2XX_SIM_DIR=$demo/ftdi
xvfb-run -a -s "-screen 0 900x760x24 -br" "$0" --inside "$out" "$demo" "$bin" \
  --dump-dir "$demo/dump" --replug-ms 1500 \
  --tracker serial=1001,driver=ftdi,mode=boot \
  --tracker serial=1002,driver=ql,mode=firmware \
  --tracker serial=1003,driver=ql,mode=boot,cpu=0x400FE000,delay=40
