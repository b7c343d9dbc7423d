#!/usr/bin/env bash
# The station's main job on simulated devices: builds the station and the device simulator,
# generates a programmer (Intel HEX) and a tagged flash image, starts eight simulated devices
# and flashes all eight at once: in the station window when a display is available, else with
# the headless station in the terminal. Ends with the simulator's own account of every device
# (flash digest, version, identity), checked against the image.
#
#   scripts/demo.sh                 time scale 0.1 (a full batch takes some seconds)
#   VORNEX_TIME_SCALE=1 scripts/demo.sh    the documented timing (a batch takes minutes)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" --target vornex vornex-devsim

scale=${VORNEX_TIME_SCALE:-0.1}
devices=${VORNEX_DEVICES:-8}
work=$(mktemp -d "${TMPDIR:-/tmp}/vornex-demo-XXXXXX")
mkdir -p "$work/images"

# A programmer of 24 KiB at 0x20000000 and a 4 MiB flash image ending with its version tag.
head -c 24576 /dev/urandom > "$work/programmer.bin"
objcopy -I binary -O ihex --change-addresses 0x20000000 "$work/programmer.bin" \
  "$work/images/prog_9004.hex"
{
  head -c 4194304 /dev/urandom
  printf 'VX730-R1.2.0'
  head -c 20 /dev/zero | tr '\0' '\377'
} > "$work/images/nor.mbn"
printf '[UpdateItem]\r\nItemAT=ON\r\nItemNV=ON\r\n' > "$work/images/Vornex_730.ini"

"$root/build/sim/vornex-devsim" --devices "$devices" --bench "$work/bench" \
  --time-scale "$scale" --programmer "$work/images/prog_9004.hex" \
  --state "$work/state.json" > "$work/devsim.log" 2>&1 &
sim=$!
trap 'kill -TERM $sim 2>/dev/null || true' EXIT
for _ in $(seq 100); do
  [ "$(ls "$work/bench" 2>/dev/null | grep -c '\.port$')" -ge $((devices * 2)) ] && break
  sleep 0.1
done

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
    --settings "$work/station.ini" "${close[@]}") || status=$?
else
  (cd "$work" && "$root/build/src/app/vornex" --headless --bench "$work/bench" \
    --image "$work/images" --expect "$devices" --time-scale "$scale" \
    --json "$work/results.jsonl") || status=$?
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
exit "$status"
