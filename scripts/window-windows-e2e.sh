#!/usr/bin/env bash
# The Windows station window under Wine against simulated devices: Xvfb on a free display, a
# throw-away Wine prefix with its X11 graphics driver, the Linux device simulator with FLASH
# devices (the prefix's COM ports lead to them), then vornex.exe in window mode with all eight
# slots in use, --autostart FLASH and --close-when-done: the window lists the devices, presses
# Start and closes once every job has ended. The run passes when the window ends with status 0
# and every device holds the new image and its original identity. With PICTURE the window saves
# a PNG of itself once every slot is halfway.
#
#   scripts/window-windows-e2e.sh LINUX_BUILD VORNEX_EXE [FLASH] [PICTURE]
#   VORNEX_TIME_SCALE (default 0.1), VORNEX_IMAGE_MIB (default 2)
. "$(dirname "$0")/lib/strict.sh"
cd "$(dirname "$0")/.."
# shellcheck source=scripts/sim-bench.sh
. scripts/sim-bench.sh
# shellcheck source=scripts/lib/wine.sh
. scripts/lib/wine.sh

linux_build=$(realpath "$1")
station=$(realpath "$2")
flash=${3:-2}
picture=${4:+$(realpath -m "$4")}
devices=$flash
scale=${VORNEX_TIME_SCALE:-0.1}
mib=${VORNEX_IMAGE_MIB:-2}
fail() {
  echo "window-e2e: $*" >&2
  exit 1
}
[ -x "$linux_build/sim/vornex-devsim" ] || fail "no $linux_build/sim/vornex-devsim"
[ -f "$station" ] || fail "no $station"
command -v Xvfb >/dev/null || fail "Xvfb is missing (apt-get install xvfb)"

work=$(mktemp -d "${TMPDIR:-/tmp}/vornex-window-XXXXXX")
wine_use_prefix "$work/prefix"
sim=
xvfb=
cleanup() {
  [ -n "$sim" ] && kill -TERM "$sim" 2>/dev/null && wait "$sim" 2>/dev/null || true
  wine_stop
  [ -n "$xvfb" ] && kill -TERM "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A display of our own: the first number without an X server's socket or lock.
display=
for n in $(seq 90 140); do
  if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then display=$n; break; fi
done
[ -n "$display" ] || fail "no free X display number"
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
xvfb=$!
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done
[ -e "/tmp/.X11-unix/X$display" ] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
export DISPLAY=:$display
unset WAYLAND_DISPLAY

wine_boot "$work/wine.log" || fail "wineboot failed: $(tail -n 20 "$work/wine.log")"
wine_link_com_ports 64 "$work/bench/dev"

make_images "$work/images" "$mib"
printf '[Config]\r\nPathNumber=8\r\n' >"$work/station.ini"
start_devices "$linux_build" "$work" "$devices" "$scale" || fail "no simulated devices"
sim=$sim_pid
snapshot_devices "$sim" "$work"

echo "Window: $devices simulated devices flashed by $(basename "$station") (time scale" \
  "$scale, $mib MiB image) ..."
args=(--bench "$(wine_path "$work/bench")" --image "$(wine_path "$work/images")"
  --autostart "$flash" --close-when-done --time-scale "$scale"
  --settings "$(wine_path "$work/station.ini")" --data "$(wine_path "$work/records")")
[ -n "$picture" ] && args+=(--screenshot "$(wine_path "$work/window.png")" --screenshot-at 50)
status=0
(cd "$work" && timeout 100 wine "$station" "${args[@]}") >"$work/station.log" 2>&1 &
window=$!
# One station per login session: a second start while the window runs (its records folder is made
# after the single-instance mutex was taken) ends at once, with status 0 and no window.
for _ in $(seq 300); do [ -d "$work/records" ] && break; sleep 0.1; done
second=0
timeout 30 wine "$station" --settings "$(wine_path "$work/station.ini")" \
  --data "$(wine_path "$work/second")" >"$work/second.log" 2>&1 || second=$?
wait "$window" || status=$?
[ "$second" -eq 0 ] || fail "a second start ended with status $second: $(cat "$work/second.log")"
[ ! -e "$work/second" ] || fail "a second start opened its own station"
kill -TERM "$sim"
wait "$sim" || true
sim=
[ "$status" -eq 0 ] || tail -n 20 "$work/station.log"

python3 - "$work" "$devices" "$status" "${picture:+$work/window.png}" <<'PY'
import struct, sys
status = int(sys.argv[3])
picture = sys.argv[4] if len(sys.argv) > 4 else ""
problems = []
if status != 0:
    problems.append(f"the window ended with status {status}")
if picture:
    data = open(picture, "rb").read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        problems.append("the window picture is no PNG")
    else:
        width, height = struct.unpack(">II", data[16:24])
        if width < 500 or height < 400:
            problems.append(f"the window picture is {width}x{height}")
for problem in problems:
    print("window-e2e:", problem)
if problems:
    sys.exit(1)
PY
scripts/check-devices.py window-e2e "$work" "$devices"
if [ -n "$picture" ]; then
  # Recompressed: the window writes its picture without compression.
  python3 - "$work/window.png" "$picture" <<'PY'
import struct, sys, zlib
data = open(sys.argv[1], "rb").read()
pos, chunks = 8, []
while pos < len(data):
    length, kind = struct.unpack(">I4s", data[pos:pos + 8])
    chunks.append((kind, data[pos + 8:pos + 8 + length]))
    pos += 12 + length
header = next(body for kind, body in chunks if kind == b"IHDR")
pixels = zlib.decompress(b"".join(body for kind, body in chunks if kind == b"IDAT"))
def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
out = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(pixels, 9))
open(sys.argv[2], "wb").write(out + chunk(b"IEND", b""))
PY
  echo "window-e2e: picture $picture"
fi
