# Shared by the demo, the screenshot and the report scripts (sourced, not run): the image
# folder of a simulated batch, the simulated devices themselves and batches of the headless
# station on them.

# make_images DIR [MIB]: a programmer of 24 KiB at 0x20000000 (Intel HEX), a flash image of MIB
# MiB (default 4) ending with its version tag, and the item switches that keep the AT identity
# and the NV items.
make_images() {
  local dir=$1 mib=${2:-4}
  mkdir -p "$dir"
  head -c 24576 /dev/urandom > "$dir/programmer.bin"
  objcopy -I binary -O ihex --change-addresses 0x20000000 "$dir/programmer.bin" \
    "$dir/prog_9004.hex"
  rm -f "$dir/programmer.bin"
  {
    head -c $((mib * 1048576)) /dev/urandom
    printf 'VX730-R1.2.0'
    head -c 20 /dev/zero | tr '\0' '\377'
  } > "$dir/nor.mbn"
  printf '[UpdateItem]\r\nItemAT=ON\r\nItemNV=ON\r\n' > "$dir/Vornex_730.ini"
}

# start_devices BUILD WORK DEVICES SCALE [OPTION...]: starts vornex-devsim with its registry in
# WORK/bench (and the further options, such as faults), sets sim_pid, and waits until every
# device's two ports are registered.
start_devices() {
  local build=$1 work=$2 devices=$3 scale=$4
  shift 4
  "$build/sim/vornex-devsim" --devices "$devices" --bench "$work/bench" "$@" \
    --time-scale "$scale" --programmer "$work/images/prog_9004.hex" \
    --state "$work/state.json" > "$work/devsim.log" 2>&1 &
  sim_pid=$!
  for _ in $(seq 100); do
    [ "$(ls "$work/bench" 2>/dev/null | grep -c '\.port$')" -ge $((devices * 2)) ] && return 0
    sleep 0.1
  done
  echo "the simulated devices did not appear; see $work/devsim.log" >&2
  return 1
}

# snapshot_devices SIM_PID WORK: the simulator's account of every device now, in
# WORK/before.json (the simulator writes its state file on SIGUSR1).
snapshot_devices() {
  local sim=$1 work=$2
  rm -f "$work/state.json"
  kill -USR1 "$sim"
  for _ in $(seq 100); do [ -s "$work/state.json" ] && break; sleep 0.1; done
  cp "$work/state.json" "$work/before.json"
}

# station_settings WORK DEVICES: the station's settings for a simulated batch in
# WORK/station.ini: DEVICES slots.
station_settings() {
  printf '[Config]\r\nPathNumber=%s\r\n' "$2" > "$1/station.ini"
}

# run_batch BUILD WORK DEVICES SCALE: one batch of the headless station of BUILD on the devices
# of start_devices, with the images, settings and records of WORK, run in WORK (where DataInfo
# files go): Start once DEVICES are listed (at most a minute's wait), each job's JSON line
# appended to WORK/results.jsonl and the terminal's output to WORK/station.log. Sets
# batch_status to the station's exit status (the number of devices that FAILED or never
# started). The station runs as batch_pid meanwhile, for stop_batch when the script is stopped.
# shellcheck disable=SC2034 # batch_status is the caller's
run_batch() {
  local build=$1 work=$2 devices=$3 scale=$4
  batch_status=0
  (cd "$work" && exec "$build/src/app/vornex" --headless --bench "$work/bench" \
    --image "$work/images" --expect "$devices" --wait 60 --time-scale "$scale" \
    --settings "$work/station.ini" --data "$work/records" --json "$work/results.jsonl") \
    >> "$work/station.log" 2>&1 &
  batch_pid=$!
  wait "$batch_pid" || batch_status=$?
  batch_pid=""
}

# stop_batch: stops the batch of run_batch when one is running (its script was stopped) and
# waits until the station has ended: it stops every job at a safe point.
stop_batch() {
  if [ -n "${batch_pid:-}" ]; then
    kill -TERM "$batch_pid" 2>/dev/null || true
    wait "$batch_pid" 2>/dev/null || true
    batch_pid=""
  fi
}

# stop_devices SIM_PID: stops the simulator and waits until it has ended.
stop_devices() {
  kill -TERM "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}
