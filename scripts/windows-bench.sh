#!/usr/bin/env bash
# Figures of the Windows build under Wine next to the Linux build (Wine is not Windows: these
# are figures, not targets):
#   - the length of the pacing clock's 3 ms pause (pause_bench);
#   - the time per 1024-byte image block of a whole job at time scale 1, from two batches of one
#     simulated device that differ only in the image size (1 MiB and 5 MiB): the difference of the
#     job times over the 4096 blocks between them, so that every fixed pause drops out.
# Needs the Linux build in build-bench (scripts/bench.sh makes it) and the Windows build in
# build-win (scripts/windows.sh makes it).
#   scripts/windows-bench.sh
. "$(dirname "$0")/lib/strict.sh"
cd "$(dirname "$0")/.."
# shellcheck source=scripts/lib/wine.sh
. scripts/lib/wine.sh
linux=build-bench
windows=build-win
cmake --build "$linux" -j"$(nproc)" --target pause_bench vornex vornex-devsim >/dev/null
cmake --build "$windows" -j"$(nproc)" --target pause_bench vornex >/dev/null

prefix=$(mktemp -d "${TMPDIR:-/tmp}/vornex-wine-XXXXXX")
wine_use_prefix "$prefix"
trap 'wine_stop; rm -rf "$prefix"' EXIT
DISPLAY='' wine_boot /dev/null

echo "== pacing pause"
echo "Linux:        $("$linux/bench/pause_bench")"
echo "Wine (.exe):  $(DISPLAY='' cmake/wine-run.sh "$windows/bench/pause_bench.exe")"

job_time() {  # STATION MIB -> mean job time in seconds
  VORNEX_TIME_SCALE=1 VORNEX_IMAGE_MIB=$2 scripts/station-e2e.sh "$linux" "$1" 1 |
    sed -n 's/.*mean job time \([0-9.]*\) s.*/\1/p'
}
echo "== time per image block (1 device, time scale 1)"
for station in "$linux/src/app/vornex" "$windows/src/app/vornex.exe"; do
  small=$(job_time "$station" 1)
  large=$(job_time "$station" 5)
  python3 -c "import sys; s, l = float(sys.argv[2]), float(sys.argv[3]); \
print(f'{sys.argv[1]:<14} job {s:.2f} s (1 MiB), {l:.2f} s (5 MiB): {(l - s) * 1000 / 4096:.3f} ms per block')" \
    "$([[ $station == *.exe ]] && echo 'Wine (.exe):' || echo 'Linux:')" "$small" "$large"
done
