#!/usr/bin/env bash
# The Windows build of the station, from a fresh Debian 12 machine: installs what is missing and
# makes the SQLite amalgamation (scripts/setup-windows.sh), cross-builds the core, the headless
# station and the unit tests with MinGW-w64 in build-win/ (Release, warnings are errors), runs
# the unit tests under Wine in a throw-away Wine prefix, and packs
# build-win/vornex-<version>-win64.zip (vornex.exe, the operator's README.txt from
# packaging/windows/, a sample Vornex_730.ini), whose vornex.exe is then started once from the
# unpacked zip.
#   scripts/windows.sh
. "$(dirname "$0")/lib/strict.sh"
cd "$(dirname "$0")/.."
# shellcheck source=scripts/lib/wine.sh
. scripts/lib/wine.sh
started=$SECONDS

dir=build-win
jobs=$(nproc)
fail() {
  echo "windows: $*" >&2
  exit 1
}

# line_stations LINUX_BUILD EXE WORK: a throw-away PostgreSQL server on 127.0.0.1 as the line
# (its schema made by the Linux station's "vornex line init", a station login each given with
# psql: the line ties every row to the login of its station);
# the Windows station flashes eight simulated devices into it, the Linux station two; then the
# line must list both stations with every job and nothing waiting, and vornex.exe must read the
# line's history back. The server stops and its folder goes when its input closes.
line_stations() {
  local linux_build=$1 exe=$2 work=$3 server_in port admin_pass station_pass line status history
  local linux_station=$linux_build/src/app/vornex
  mkdir -p "$work"
  exec {server_in}> >("$linux_build/tests/support/vornex-test-pgserver" >"$work/server.txt" 2>&1)
  for _ in $(seq 600); do
    grep -q '^port=' "$work/server.txt" 2>/dev/null && break
    sleep 0.1
  done
  port=$(sed -nE 's/^port=([0-9]+) .*/\1/p' "$work/server.txt")
  admin_pass=$(sed -nE 's/.* passfile=([^ ]+) .*/\1/p' "$work/server.txt")
  [ -n "$port" ] || fail "the line's server did not start: $(cat "$work/server.txt")"
  PGPASSFILE=$admin_pass "$linux_station" line init \
    --admin "host=127.0.0.1 port=$port user=vornex_admin dbname=postgres" >/dev/null ||
    fail "vornex line init failed"
  station_pass=$work/pgpass
  : >"$station_pass"
  chmod 600 "$station_pass"
  local login
  for login in vornex_windows vornex_linux; do
    printf '*:%s:*:%s:e2e-%s\n' "$port" "$login" "$port" >>"$station_pass"
    PGPASSFILE=$admin_pass psql -q "host=127.0.0.1 port=$port user=vornex_admin dbname=postgres" \
      -c "CREATE ROLE $login LOGIN PASSWORD 'e2e-$port' IN ROLE vornex_station" ||
      fail "the station login $login was not made"
  done
  PGPASSFILE=$station_pass \
    VORNEX_LINE="host=127.0.0.1 port=$port user=vornex_windows dbname=postgres" \
    VORNEX_LINE_NAME=windows-e2e scripts/station-e2e.sh "$linux_build" "$exe" 8
  line="host=127.0.0.1 port=$port user=vornex_linux dbname=postgres"
  PGPASSFILE=$station_pass VORNEX_LINE=$line VORNEX_LINE_NAME=linux-e2e VORNEX_IMAGE_MIB=1 \
    scripts/station-e2e.sh "$linux_build" "$linux_station" 2 >/dev/null ||
    fail "the Linux station's batch into the line failed"
  printf '[Line]\r\nConnection=%s\r\n' "$line" >"$work/line.ini"
  status=$(PGPASSFILE=$station_pass "$linux_station" line status --settings "$work/line.ini")
  echo "$status"
  grep -qE ' linux-e2e +[0-9: -]+ +0 +0 +2$' <<<"$status" ||
    fail "the line lacks the Linux station's two jobs"
  grep -qE ' windows-e2e +[0-9: -]+ +0 +0 +8$' <<<"$status" ||
    fail "the line lacks the Windows station's eight jobs"
  history=$(PGPASSFILE=$(wine_path "$station_pass") DISPLAY='' wine "$exe" history --line --csv \
    --settings "$(wine_path "$work/line.ini")" | tr -d '\r')
  [ "$(grep -c ',PASS,' <<<"$history")" -eq 10 ] ||
    fail "vornex.exe history --line did not read the line's ten jobs: $history"
  echo "line: vornex.exe history --line reads the ten jobs of both stations"
  exec {server_in}>&-
}

scripts/setup-windows.sh

echo "== configure ($dir, MinGW-w64, Release)"
cmake -S . -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
  -DCMAKE_BUILD_TYPE=Release -DVORNEX_WERROR=ON \
  -DVORNEX_SQLITE_AMALGAMATION="$PWD/.cache/sqlite3/amalgamation" >/dev/null

echo "== build"
build_started=$SECONDS
cmake --build "$dir" -j"$jobs"
build_time=$((SECONDS - build_started))

# Wine runs in a prefix of its own, made for this run and removed with everything in it at the
# end, also when a step fails. The test programs are console programs: Wine gets no display
# and its null graphics driver, so it never reaches for an X server.
prefix=$(mktemp -d)
wine_use_prefix "$prefix"
cleanup() {
  wine_stop
  rm -rf "$prefix"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
unset DISPLAY WAYLAND_DISPLAY

echo "== Wine prefix"
wine_started=$SECONDS
# One Wine server for the whole run (instead of one per test program), started first so that
# every Wine program uses it.
wine_log=$prefix/wine.log
wine_failed() {
  fail "$1: $(tail -n 20 "$wine_log")"
}
wineserver -p >"$wine_log" 2>&1 || wine_failed "wineserver did not start"
wine_boot "$wine_log" || wine_failed "wineboot -i failed"
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >>"$wine_log" 2>&1 ||
  wine_failed "could not select Wine's null graphics driver"
wine_time=$((SECONDS - wine_started))

echo "== unit tests under Wine"
tests_started=$SECONDS
ctest --test-dir "$dir" -L unit --output-on-failure --no-tests=error -j"$jobs"
tests_time=$((SECONDS - tests_started))

# The serial port and the whole station against simulated devices: the Linux device simulator
# (from the Linux build) serves its ports on pseudo-terminals, and the prefix's COM ports lead to
# them (scripts/station-e2e.sh).
linux_build=${VORNEX_LINUX_BUILD:-build}
[ -f "$linux_build/CMakeCache.txt" ] || cmake -S . -B "$linux_build" -G Ninja >/dev/null
cmake --build "$linux_build" -j"$jobs" --target vornex-devsim >/dev/null
# shellcheck source=scripts/sim-bench.sh
. scripts/sim-bench.sh
sim_started=$SECONDS

echo "== serial port under Wine (two simulated devices, the second one's modem port silent)"
sim_work=$prefix/serial-bench
make_images "$sim_work/images" 1
start_devices "$linux_build" "$sim_work" 2 1 --fault 1:silent-modem || fail "no simulated devices"
wine_link_com_ports 16 "$sim_work/bench/dev"
VORNEX_TEST_BENCH=$(wine_path "$sim_work/bench") \
  ctest --test-dir "$dir" -L integration --output-on-failure --no-tests=error || {
  kill -TERM "$sim_pid"
  fail "serial port tests failed"
}
kill -TERM "$sim_pid"
wait "$sim_pid" || true

echo "== two stations into one line: eight devices by vornex.exe under Wine, two by the Linux station"
cmake --build "$linux_build" -j"$jobs" --target vornex vornex-test-pgserver >/dev/null
line_stations "$linux_build" "$dir/src/app/vornex.exe" "$prefix/line"

echo "== the station window under Wine and Xvfb (two simulated devices, eight slots)"
scripts/window-windows-e2e.sh "$linux_build" "$dir/src/app/vornex.exe" 2
sim_time=$((SECONDS - sim_started))

echo "== package"
rm -f "$dir"/vornex-*-win64.zip
(cd "$dir" && cpack -G ZIP >/dev/null)
zips=("$dir"/vornex-*-win64.zip)
zip=${zips[0]}
[ -f "$zip" ] || fail "cpack made no zip"
top=$(basename "$zip" .zip)
contents=$(cmake -E tar tf "$zip")
for file in vornex.exe README.txt Vornex_730.ini POSTGRESQL-COPYRIGHT.txt; do
  grep -qxF "$top/$file" <<<"$contents" || fail "$zip lacks $top/$file"
done
# The operator's README, not the developer's.
if grep -qxF "$top/README.md" <<<"$contents"; then fail "$zip holds the developer's README.md"; fi
# The zip's program runs alone: it needs no MinGW DLL, and it answers --help from the unpacked
# folder (which holds no DLL either).
program=$dir/src/app/vornex.exe
mingw_dlls=$(x86_64-w64-mingw32-objdump -p "$program" |
  sed -nE 's/^[[:space:]]*DLL Name: //p' | grep -iE 'libstdc|libgcc|libwinpthread' || true)
[ -z "$mingw_dlls" ] || fail "$program needs MinGW DLLs: $mingw_dlls"
unpacked=$prefix/drive_c/unpacked
zip_path=$PWD/$zip
mkdir -p "$unpacked"
(cd "$unpacked" && cmake -E tar xf "$zip_path")
# Its text files have Windows line ends (older Notepads show LF-only text as one line).
for file in README.txt Vornex_730.ini; do
  if grep -q $'[^\r]$' "$unpacked/$top/$file"; then fail "$top/$file lacks Windows line ends"; fi
done
help=$(cmake/wine-run.sh "$unpacked/$top/vornex.exe" --help) || fail "vornex.exe --help failed"
grep -q "usage: vornex" <<<"$help" || fail "vornex.exe --help printed no usage: $help"
echo "contents: vornex.exe, README.txt, Vornex_730.ini, POSTGRESQL-COPYRIGHT.txt; vornex.exe --help runs under Wine"

echo "== summary"
echo "package: $zip ($(du -h "$zip" | cut -f1))"
echo "times:   build $build_time s, Wine prefix $wine_time s, unit tests $tests_time s," \
  "simulated devices $sim_time s, all $((SECONDS - started)) s"
