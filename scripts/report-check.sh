#!/usr/bin/env bash
# The yield report as a browser shows it, from a real run: batches of the headless station on
# eight simulated devices into one data folder, two of them with a diagnostic port that never
# answers (they fail at connect, before their identity is backed up, so every batch takes them
# again safely); then `vornex report` of those records, checked in headless Chromium by
# scripts/check-report.py: every chart drawn with its table, exactly the two sockets of those
# devices called out with their counts (their slot letters read from the station's results), no
# error and no request but the page. The same page checked against other sockets must fail. The
# CSV tables are written, one per chart with its rows, and the page of a period without jobs
# shows that and no chart. Everything in a temporary folder, removed with the simulator stopped
# at the end, also on failure.
#
#   scripts/report-check.sh BUILD               BUILD: a build folder with vornex and vornex-devsim
#   scripts/report-check.sh BUILD --png FILE    also the report page as a PNG, 1200 px wide
#   VORNEX_TIME_SCALE (default 0.05), VORNEX_IMAGE_MIB (default 1), VORNEX_BATCHES (default 5)
# shellcheck source=scripts/lib/strict.sh
. "$(dirname "$0")/lib/strict.sh"
cd "$(dirname "$0")/.."
# shellcheck source=scripts/sim-bench.sh
. scripts/sim-bench.sh

usage() {
  echo "usage: scripts/report-check.sh BUILD [--png FILE]" >&2
  exit 64
}
[ $# -ge 1 ] || usage
build=$(realpath -m "$1")
shift
png=""
while [ $# -gt 0 ]; do
  case $1 in
    --png)
      [ $# -ge 2 ] || usage
      png=$(realpath -m "$2")
      shift 2
      ;;
    *) usage ;;
  esac
done
station=$build/src/app/vornex
for program in "$station" "$build/sim/vornex-devsim"; do
  [ -x "$program" ] || { echo "$script_name: no $program (build it first)" >&2; exit 1; }
done
scale=${VORNEX_TIME_SCALE:-0.05}
mib=${VORNEX_IMAGE_MIB:-1}
batches=${VORNEX_BATCHES:-5}
devices=8
# The simulator's devices (numbered from 0) whose diagnostic port never answers.
silent=(2 5)
started=$SECONDS

work=$(mktemp -d "${TMPDIR:-/tmp}/vornex-report-check-XXXXXX")
sim=""
cleanup() {
  stop_batch
  if [ -n "$sim" ]; then stop_devices "$sim"; fi
  rm -rf "$work"
}
trap cleanup EXIT

step "making the images"
make_images "$work/images" "$mib"
station_settings "$work" "$devices"
faults=()
for device in "${silent[@]}"; do faults+=(--fault "$device:silent-diag"); done
step "starting the simulated devices"
start_devices "$build" "$work" "$devices" "$scale" "${faults[@]}"
sim=$sim_pid
# Which device has which key, for the slots the station gives them.
snapshot_devices "$sim" "$work"

echo "Running $batches batches of $devices simulated devices, devices ${silent[*]} silent" \
  "(time scale $scale, $mib MiB image) ..."
for batch in $(seq "$batches"); do
  step "batch $batch"
  run_batch "$build" "$work" "$devices" "$scale"
  if [ "$batch_status" -ne ${#silent[@]} ]; then
    tail -n 20 "$work/station.log" >&2
    echo "$script_name: batch $batch: the station ended with status $batch_status, wanted" \
      "${#silent[@]} (the silent devices FAILED, every other PASS)" >&2
    exit 1
  fi
done
stop_devices "$sim"
sim=""

# The jobs, batch by batch, as the station ran them: the silent devices failed before their
# backup, every other passed, each device on one slot. Prints SLOT=FAILED/JOBS for each slot of
# a silent device, as check-report.py takes it.
step "reading the station's results"
status=0
python3 - "$work" "$devices" "$batches" "${silent[@]}" >"$work/suspects" <<'PY' || status=$?
import json, sys
work, devices, batches = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
silent = {int(d) for d in sys.argv[4:]}
with open(f"{work}/before.json") as f:
    index_of = {d["key"]: d["index"] for d in json.load(f)["devices"]}
with open(f"{work}/results.jsonl") as f:
    jobs = [json.loads(line) for line in f if line.strip()]
problems = []
if len(jobs) != devices * batches or any(j["job"] == 0 for j in jobs):
    problems.append(f"{len(jobs)} results, {sum(j['job'] == 0 for j in jobs)} not started; "
                    f"wanted {devices * batches} jobs")
slots, per_slot = {}, {}
for job in jobs:
    device = index_of.get(job["key"])
    what = f"job {job['job']} (slot {job['slot']}, device {device}, key {job['key']})"
    if device in silent:
        steps = job["steps"]
        if job["verdict"] != "FAILED" or steps[0] != "x" or steps[2] != "-" or job["backup"]:
            problems.append(f"{what}: {job['verdict']}, steps {job['steps']}, backup "
                            f"{job['backup']}; wanted FAILED at connect, before any backup")
    elif job["verdict"] != "PASS":
        problems.append(f"{what}: {job['verdict']} {job['reason']} ({job['cause']})")
    slots.setdefault(device, set()).add(job["slot"])
    counts = per_slot.setdefault(job["slot"], [0, 0])
    counts[0] += job["verdict"] != "PASS"
    counts[1] += 1
for device, used in sorted(slots.items(), key=lambda item: str(item[0])):
    if len(used) != 1:
        problems.append(f"device {device} ran on slots {' '.join(sorted(used))}, not on one")
for problem in problems:
    print(f"report-check: {problem}", file=sys.stderr)
if problems:
    sys.exit(1)
for device in sorted(silent):
    slot = next(iter(slots[device]))
    print(f"{slot}={per_slot[slot][0]}/{per_slot[slot][1]}")
PY
if [ "$status" -ne 0 ]; then
  echo "$script_name: the station's results are not those of the faults (see above)" >&2
  exit 1
fi
mapfile -t suspects <"$work/suspects"
echo "Silent devices ${silent[*]} ran on slots ${suspects[*]} (failed/jobs)"

# Run in the work folder with relative paths and a station name of its own (the report's
# settings), so that the page names neither a folder nor the computer.
step "writing the report"
printf '[Line]\r\nName=bench-1\r\n' > "$work/report.ini"
(cd "$work" && "$station" report --data records --settings report.ini --out report.html \
  --csv records/csv)
step "checking the report in Chromium"
check=(scripts/check-report.py "$work/report.html")
for suspect in "${suspects[@]}"; do check+=(--suspect "$suspect"); done
if [ -n "$png" ]; then check+=(--png "$png"); fi
"${check[@]}"

# The same page against one of the two sockets only: the check must see the other one.
step "checking that the check fails on sockets not asked for"
if scripts/check-report.py "$work/report.html" --suspect "${suspects[0]%%=*}" \
  >"$work/wrong.out" 2>&1; then
  echo "$script_name: check-report.py passed a page calling out ${suspects[*]} when asked" \
    "for ${suspects[0]%%=*} only" >&2
  exit 1
fi
grep -q "sockets called out" "$work/wrong.out" || {
  cat "$work/wrong.out" >&2
  echo "$script_name: check-report.py failed for another reason than the sockets" >&2
  exit 1
}
echo "check-report.py refuses the same page when asked for ${suspects[0]%%=*} only"

step "checking the CSV tables"
listed() {
  (shopt -s nullglob && cd "$work/records/csv" 2>/dev/null && printf '%s ' ./*.csv) || true
}
missing=()
for table in yield_day yield_station yield_socket causes step_times job_times per_hour; do
  file=$work/records/csv/$table.csv
  [ -f "$file" ] && [ "$(wc -l <"$file")" -ge 2 ] || missing+=("$table.csv")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "$script_name: missing or without rows in the --csv folder: ${missing[*]}" \
    "(there: $(listed))" >&2
  exit 1
fi
echo "CSV tables: $(listed)"

step "checking the report of a period without jobs"
(cd "$work" && "$station" report --data records --settings report.ini --since 2001-01-01 \
  --until 2001-01-02 --out empty.html)
scripts/check-report.py "$work/empty.html" --empty

echo "report-check: passed in $((SECONDS - started)) s"
