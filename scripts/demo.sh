#!/usr/bin/env bash
# The station's main job on simulated devices: builds the station and the device simulator,
# generates a programmer (Intel HEX) and a tagged flash image, starts eight simulated devices
# and flashes all eight at once: in the station window when a display is available, else with
# the headless station in the terminal. Ends with the simulator's own account of every device
# (flash digest, version, identity), checked against the image.
#
#   scripts/demo.sh                 time scale 0.1 (a full batch takes some seconds)
#   VORNEX_TIME_SCALE=1 scripts/demo.sh    the documented timing (a batch takes minutes)
. "$(dirname "$0")/lib/strict.sh"
cd "$(dirname "$0")/.."
root=$(pwd)
# shellcheck source=scripts/sim-bench.sh
. scripts/sim-bench.sh

scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target vornex vornex-devsim

scale=${VORNEX_TIME_SCALE:-0.1}
devices=${VORNEX_DEVICES:-8}
work=$(mktemp -d "${TMPDIR:-/tmp}/vornex-demo-XXXXXX")

make_images "$work/images"
printf '[Config]\r\nPathNumber=%s\r\n' "$devices" > "$work/station.ini"
start_devices "$root/build" "$work" "$devices" "$scale"
sim=$sim_pid
trap 'kill -TERM $sim 2>/dev/null || true' EXIT

echo "Flashing $devices simulated devices (time scale $scale) ..."
status=0
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -z "${VORNEX_DEMO_HEADLESS:-}" ]; then
  # A display is there: the station window presses Start itself once all devices are listed.
  # Close the window when the batch is done (VORNEX_DEMO_CLOSE=1 closes it by itself).
  close=()
  [ -n "${VORNEX_DEMO_CLOSE:-}" ] && close=(--close-when-done)
  echo "Station window: close it when every slot shows PASS or FAILED."
  (cd "$work" && "$root/build/src/app/vornex" --bench "$work/bench" \
    --image "$work/images" --autostart "$devices" --time-scale "$scale" \
    --settings "$work/station.ini" --data "$work/records" "${close[@]}") || status=$?
else
  (cd "$work" && "$root/build/src/app/vornex" --headless --bench "$work/bench" \
    --image "$work/images" --expect "$devices" --time-scale "$scale" \
    --settings "$work/station.ini" --data "$work/records" --json "$work/results.jsonl") || status=$?
fi

kill -TERM $sim
wait $sim || true
trap - EXIT

image_sha=$(sha256sum "$work/images/nor.mbn" | cut -d' ' -f1)
flashed=$(grep -o "\"sha256\": *\"$image_sha\"" "$work/state.json" | wc -l)
echo
echo "Simulator: $flashed of $devices devices hold the new image (sha256 ${image_sha:0:16}...)."
[ -f "$work/results.jsonl" ] && echo "Results:   $work/results.jsonl"
echo "Devices:   $work/state.json"
echo "Records:   $root/build/src/app/vornex history --data $work/records"
exit "$status"
