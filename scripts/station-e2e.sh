#!/usr/bin/env bash
# A whole batch of the headless station against simulated devices, checked from both sides: the
# run passes when the station says PASS for every device and the simulator holds the new image
# and the original identity on every one. Prints the mean job time.
#
# The station is the Linux program, or the Windows one (a .exe) under Wine: the Linux device
# simulator serves its ports on pseudo-terminals and announces them in a bench folder; the Wine
# prefix's COM ports (dosdevices/comN) point at the bench's dev/COMn links, so a device that comes
# back from a reset keeps its COM number as it would on Windows.
#
#   scripts/station-e2e.sh LINUX_BUILD STATION_PROGRAM [DEVICES]
#   VORNEX_TIME_SCALE (default 0.1), VORNEX_IMAGE_MIB (default 4)
#   VORNEX_LINE=CONNECTION [VORNEX_LINE_NAME=NAME]: the station also sends its records to that
#   line (section Line of its settings; the password from $PGPASSFILE), and the run passes only
#   when the line has every record at the end.
# Under Wine it uses $WINEPREFIX when set (an initialised prefix), else makes and removes one.
. "$(dirname "$0")/lib/strict.sh"
cd "$(dirname "$0")/.."
root=$(pwd)
# shellcheck source=scripts/sim-bench.sh
. scripts/sim-bench.sh
# shellcheck source=scripts/lib/wine.sh
. scripts/lib/wine.sh

linux_build=$(realpath "$1")
station=$(realpath "$2")
devices=${3:-8}
scale=${VORNEX_TIME_SCALE:-0.1}
mib=${VORNEX_IMAGE_MIB:-4}
[ -x "$linux_build/sim/vornex-devsim" ] || { echo "no $linux_build/sim/vornex-devsim" >&2; exit 1; }
[ -f "$station" ] || { echo "no $station" >&2; exit 1; }
wine=0
[[ "$station" == *.exe ]] && wine=1

work=$(mktemp -d "${TMPDIR:-/tmp}/vornex-e2e-XXXXXX")
own_prefix=0
if [ $wine -eq 1 ] && [ -z "${WINEPREFIX:-}" ]; then
  wine_use_prefix "$work/prefix"
  own_prefix=1
fi
export WINEDEBUG=${WINEDEBUG:--all}
sim=
cleanup() {
  [ -n "$sim" ] && kill -TERM "$sim" 2>/dev/null && wait "$sim" 2>/dev/null || true
  if [ $own_prefix -eq 1 ]; then wine_stop; fi
  rm -rf "$work"
}
trap cleanup EXIT
if [ $own_prefix -eq 1 ]; then DISPLAY='' wine_boot /dev/null; fi

if [ $wine -eq 1 ]; then
  # COM1..COM64 of the prefix lead to the bench's links (dangling until a device is there).
  wine_link_com_ports 64 "$work/bench/dev"
  path() { wine_path "$1"; }
  run() {
    if [ -n "${PGPASSFILE:-}" ]; then
      DISPLAY='' PGPASSFILE=$(wine_path "$PGPASSFILE") wine "$station" "$@"
    else
      DISPLAY='' wine "$station" "$@"
    fi
  }
else
  path() { echo "$1"; }
  run() { "$station" "$@"; }
fi

make_images "$work/images" "$mib"
printf '[Config]\r\nPathNumber=%s\r\n' "$devices" > "$work/station.ini"
if [ -n "${VORNEX_LINE:-}" ]; then
  printf '[Line]\r\nConnection=%s\r\nName=%s\r\n' "$VORNEX_LINE" "${VORNEX_LINE_NAME:-}" \
    >> "$work/station.ini"
fi
start_devices "$linux_build" "$work" "$devices" "$scale"
sim=$sim_pid
# The identity of every device before the run, from the simulator's own account.
snapshot_devices "$sim" "$work"

echo "Flashing $devices simulated devices with $(basename "$station") (time scale $scale," \
  "$mib MiB image) ..."
status=0
(cd "$work" && run --headless --bench "$(path "$work/bench")" \
  --image "$(path "$work/images")" --expect "$devices" --wait 300 --time-scale "$scale" \
  --settings "$(path "$work/station.ini")" --data "$(path "$work/records")" \
  --json "$(path "$work/results.jsonl")") > "$work/station.log" 2>&1 || status=$?
kill -TERM "$sim"
wait "$sim" || true
sim=
tail -n 20 "$work/station.log"

python3 - "$work" "$devices" "$status" "${VORNEX_LINE:+line}" <<'EOF'
import json, sys
work, devices, status, line = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
results = [json.loads(line) for line in open(f"{work}/results.jsonl") if line.strip()]
problems = []
if status != 0:
    problems.append(f"the station ended with status {status}")
# The terminal's last word on the line: connected, nothing left to send.
said = open(f"{work}/station.log", encoding="utf-8", errors="replace").read()
if line and "Line: connected\n" not in said.replace("\r\n", "\n"):
    problems.append("the station did not end with the line connected and every record sent")
passed = [r for r in results if r.get("verdict") == "PASS"]
if len(passed) != devices:
    problems.append(f"{len(passed)} of {devices} jobs PASS: {[r.get('reason') for r in results]}")
for problem in problems:
    print("e2e:", problem)
if problems:
    sys.exit(1)
mean = sum(float(r["elapsed_s"]) for r in results) / len(results)
print(f"e2e: {devices} of {devices} PASS; mean job time {mean:.2f} s")
EOF
scripts/check-devices.py e2e "$work" "$devices"
