#!/usr/bin/env bash
# A picture of the station window in the middle of a batch: starts eight simulated devices,
# runs the station window under a virtual X display (xvfb-run), presses Start once all eight
# are listed and saves the window as a PNG once every slot is well into its download.
#
#   scripts/screenshot.sh                 writes docs/window.png
#   scripts/screenshot.sh FILE.png        writes FILE.png
#   VORNEX_SCREENSHOT_AT=60 scripts/screenshot.sh   a later moment of the run (percent)
#   VORNEX_BUILD_DIR, VORNEX_JOBS: build folder (default build) and parallel jobs
. "$(dirname "$0")/lib/strict.sh"
cd "$(dirname "$0")/.."
# shellcheck source=scripts/sim-bench.sh
. scripts/sim-bench.sh
out=$(realpath -m "${1:-docs/window.png}")
mkdir -p "$(dirname "$out")"

build=$(realpath -m "${VORNEX_BUILD_DIR:-build}")
scripts/setup.sh
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"${VORNEX_JOBS:-$(nproc)}" --target vornex vornex-devsim

scale=${VORNEX_TIME_SCALE:-0.1}
devices=${VORNEX_DEVICES:-8}
at=${VORNEX_SCREENSHOT_AT:-35}
work=$(mktemp -d "${TMPDIR:-/tmp}/vornex-shot-XXXXXX")

make_images "$work/images"
# The station's own settings: eight slots, Browse shown.
printf '[Config]\r\nBrowseButton=ON\r\nPathNumber=%s\r\n' "$devices" > "$work/station.ini"

start_devices "$build" "$work" "$devices" "$scale"
sim=$sim_pid
trap 'kill -TERM $sim 2>/dev/null || true' EXIT

echo "Running the station window on $devices simulated devices (time scale $scale) ..."
status=0
(cd "$work" && XDG_RUNTIME_DIR="$work" xvfb-run -a -s "-screen 0 800x800x24" \
  "$build/src/app/vornex" --bench "$work/bench" --image "$work/images" \
  --settings "$work/station.ini" --data "$work/records" --time-scale "$scale" \
  --autostart "$devices" \
  --screenshot "$out" --screenshot-at "$at" --close-when-done) || status=$?

kill -TERM $sim
wait $sim || true
trap - EXIT

if [ ! -s "$out" ]; then
  echo "No picture was taken (station exit status $status); see $work" >&2
  exit 1
fi
echo "Window picture: $out (station exit status $status)"
