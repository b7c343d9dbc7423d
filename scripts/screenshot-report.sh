#!/usr/bin/env bash
# The picture of the yield report in README.md: the batches of scripts/report-check.sh (eight
# simulated devices, two sockets whose devices never answer), their report page as headless
# Chromium shows it, the whole page 1200 px wide; the page is checked as that script checks it.
#
#   scripts/screenshot-report.sh              writes docs/report.png
#   scripts/screenshot-report.sh FILE.png     writes FILE.png
#   VORNEX_BUILD_DIR, VORNEX_JOBS: build folder (default build) and parallel jobs
# shellcheck source=scripts/lib/strict.sh
. "$(dirname "$0")/lib/strict.sh"
cd "$(dirname "$0")/.."
out=$(realpath -m "${1:-docs/report.png}")
mkdir -p "$(dirname "$out")"

build=$(realpath -m "${VORNEX_BUILD_DIR:-build}")
scripts/setup.sh run test
step "building the station and the simulator"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"${VORNEX_JOBS:-$(nproc)}" --target vornex vornex-devsim
step ""

scripts/report-check.sh "$build" --png "$out"
echo "Report picture: $out"
