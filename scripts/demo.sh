#!/usr/bin/env bash
# The station's main job on simulated devices: installs what building and running the station
# needs (scripts/setup.sh run), builds the station and the device simulator in build-demo/,
# generates a programmer (Intel HEX) and a tagged flash image, starts eight simulated devices
# and flashes all eight at once: in the station window when a display is available, else with
# the headless station in the terminal. Ends with the simulator's account of every device, from
# its state before and after the run: slot, device key, whether its flash digest is the image's,
# whether it kept its serial number and its NV items. The run's folder (images, simulator
# state, results, station records) is removed at the end unless VORNEX_DEMO_KEEP is set.
#
#   scripts/demo.sh                        time scale 0.1 (a full batch takes some seconds)
#   VORNEX_TIME_SCALE=1 scripts/demo.sh    the documented timing (a batch takes minutes)
#   VORNEX_DEMO_KEEP=1 scripts/demo.sh     keep the run's folder and say where it is
#   VORNEX_DEMO_HEADLESS=1 scripts/demo.sh the terminal station even when a display is there
#   VORNEX_DEMO_CLOSE=1 scripts/demo.sh    the window closes by itself when the batch is done
#   VORNEX_DEVICES=N scripts/demo.sh       N simulated devices (1 to 8) instead of eight
# shellcheck source=scripts/lib/strict.sh
. "$(dirname "$0")/lib/strict.sh"
cd "$(dirname "$0")/.."
root=$(pwd)
# shellcheck source=scripts/sim-bench.sh
. scripts/sim-bench.sh

step "installing packages"
scripts/setup.sh run
# A build folder of its own, without the tests and benchmarks (and what they need).
step "building"
build=build-demo
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORNEX_BUILD_TESTS=OFF \
  -DVORNEX_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target vornex vornex-devsim
station=$root/$build/src/app/vornex

scale=${VORNEX_TIME_SCALE:-0.1}
devices=${VORNEX_DEVICES:-8}
keep=${VORNEX_DEMO_KEEP:-}
work=$(mktemp -d "${TMPDIR:-/tmp}/vornex-demo-XXXXXX")
sim=""
cleanup() {
  if [ -n "$sim" ]; then kill -TERM "$sim" 2>/dev/null || true; fi
  if [ -z "$keep" ]; then rm -rf "$work"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

step "starting the simulated devices"
make_images "$work/images"
printf '[Config]\r\nPathNumber=%s\r\n' "$devices" > "$work/station.ini"
start_devices "$root/$build" "$work" "$devices" "$scale"
sim=$sim_pid
snapshot_devices "$sim" "$work"

step "flashing"
echo "Flashing $devices simulated devices (time scale $scale) ..."
status=0
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${VORNEX_DEMO_HEADLESS:-}" ]; then
  # A display is there: the station window presses Start itself once all devices are listed.
  # Close the window when the batch is done (VORNEX_DEMO_CLOSE=1 closes it by itself).
  close=()
  [ -n "${VORNEX_DEMO_CLOSE:-}" ] && close=(--close-when-done)
  echo "Station window: close it when every slot shows PASS or FAILED."
  (cd "$work" && "$station" --bench "$work/bench" \
    --image "$work/images" --autostart "$devices" --time-scale "$scale" \
    --settings "$work/station.ini" --data "$work/records" "${close[@]}") || status=$?
else
  (cd "$work" && "$station" --headless --bench "$work/bench" \
    --image "$work/images" --expect "$devices" --time-scale "$scale" \
    --settings "$work/station.ini" --data "$work/records" --json "$work/results.jsonl") || status=$?
fi

# The simulator writes its final state as it ends.
step "accounting for the devices"
kill -TERM "$sim" 2>/dev/null || true
wait "$sim" || true
sim=""
"$station" history --json --data "$work/records" > "$work/history.jsonl"
echo
python3 scripts/lib/devices.py "$work" "$devices" "$work/history.jsonl" || {
  account=$?
  [ "$status" -ne 0 ] || status=$account
}
if [ -n "$keep" ]; then
  echo
  echo "Run folder: $work (kept)"
  [ -f "$work/results.jsonl" ] && echo "Results:    $work/results.jsonl"
  echo "Devices:    $work/before.json, $work/state.json"
  echo "Records:    $station history --data $work/records"
fi
exit "$status"
