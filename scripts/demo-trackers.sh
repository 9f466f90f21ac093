# Sourced by run.sh and station.sh: the demo's three virtual trackers and how tracker-sim serves
# them in the demo folder $demo. Sets ZIZUZ_DEVICE_DIR and FTD2XX_SIM_DIR, where both driver
# libraries find them; the stand-in D2XX is never put beside a program, only on the library
# path.

trackers=(
  serial=1001,driver=ftdi,mode=boot
  serial=1002,driver=ql,mode=firmware
  serial=1003,driver=ql,mode=boot,cpu=0x400FE000
)

# Starts tracker-sim from $bin in the background; its pid lands in sim_pid.
start_tracker_sim() {
  export ZIZUZ_DEVICE_DIR=$demo/by-id
  export FTD2XX_SIM_DIR=$demo/ftdi
  local sim_args=(--dump-dir "$demo/dump" --replug-ms 1500)
  local tracker
  for tracker in "${trackers[@]}"; do
    sim_args+=(--tracker "$tracker")
  done
  "$bin/tracker-sim" "${sim_args[@]}" >"$demo/tracker-sim.out" 2>&1 </dev/null &
  sim_pid=$!
}
