#!/usr/bin/env bash
# The whole test suite, from a fresh Debian 12 machine: installs what is missing, checks the
# scripts, the libraries' dependencies (docs/architecture.md) and the formatting of the sources,
# then builds and runs the tests three times: every test in a normal build (then the yield report
# of simulated batches checked in headless Chromium, scripts/report-check.sh, and the tests'
# names, docs/style.md) and in an
# AddressSanitizer + UndefinedBehaviorSanitizer build, and the unit and integration tests (which
# hold all the thread and queue tests) in a ThreadSanitizer build;
# builds, checks, installs and removes the Debian package (Release build); cross-builds the
# station for Windows and runs its tests, and eight simulated devices flashed by it, under Wine
# (scripts/windows.sh); then builds the libFuzzer harnesses with clang and runs each for a few
# seconds. Warnings are errors in these builds. The line records' tests start throw-away
# PostgreSQL 15 servers of their own (a temporary folder, a free port on 127.0.0.1, the user
# postgres when run as root), stopped and removed at their end, also on failure; the Windows
# build's e2e runs the Windows and the Linux station into one such line.
#   scripts/test.sh           everything
#   scripts/test.sh --quick   the normal build only
. "$(dirname "$0")/lib/strict.sh"
cd "$(dirname "$0")/.."

quick=0
[ "${1:-}" = "--quick" ] && quick=1

# stage TITLE: starts the next stage; the time each took (minutes:seconds) is listed at the end.
stage_times=()
stage_title=setup
stage_started=$SECONDS
stage() {
  local took=$((SECONDS - stage_started))
  stage_times+=("$(printf '%3d:%02d  %s' $((took / 60)) $((took % 60)) "${stage_title%% (*}")")
  stage_title=$1
  stage_started=$SECONDS
  echo "== $1"
}

scripts/setup.sh

stage "scripts (parsing, apt-source steps of the Windows set-up)"
scripts/check-scripts.sh

stage "library dependencies (docs/architecture.md)"
scripts/check-deps.py --self-test
scripts/check-deps.py

# Every build of this run (the Debian package, the Windows and the fuzz builds included) compiles
# through ccache. Paths under the work tree are hashed as relative ones and the build folder is
# left out of the hash, so that a fresh checkout elsewhere takes the objects of an earlier run of
# the same sources; their debug information may then name that run's folder.
export CMAKE_C_COMPILER_LAUNCHER=ccache CMAKE_CXX_COMPILER_LAUNCHER=ccache
export CCACHE_BASEDIR=$PWD CCACHE_NOHASHDIR=true

jobs=$(nproc)
build() {
  local dir=$1
  shift
  cmake -S . -B "$dir" -G Ninja "$@" >/dev/null
  cmake --build "$dir" -j"$jobs"
}
run() {
  local dir=$1
  shift
  ctest --test-dir "$dir" --output-on-failure --no-tests=error -j"$jobs" "$@"
}

stage "formatting (.clang-format)"
git ls-files -- '*.cpp' '*.h' | xargs clang-format --dry-run --Werror

stage "normal build"
build build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORNEX_WERROR=ON
run build

stage "yield report in headless Chromium (batches on simulated devices, scripts/report-check.sh)"
scripts/report-check.sh build

stage "names (docs/style.md, clang-tidy)"
scripts/check-naming.sh build

if [ $quick -eq 1 ]; then
  stage "quick tests passed"
  printf '%s\n' "${stage_times[@]}"
  exit 0
fi

stage "Debian package"
scripts/package.sh

stage "Windows build (MinGW-w64 cross build, unit tests under Wine, zip)"
scripts/windows.sh

stage "AddressSanitizer + UndefinedBehaviorSanitizer"
build build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORNEX_SANITIZE=address -DVORNEX_BUILD_BENCH=OFF \
  -DVORNEX_WERROR=ON
# The line's load test (ten stations, ten thousand full backups) is the normal build's: under the
# sanitizer it would only take longer, with no code of its own.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 run build-asan -LE load

stage "ThreadSanitizer (unit, integration)"
build build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVORNEX_SANITIZE=thread -DVORNEX_BUILD_BENCH=OFF \
  -DVORNEX_BUILD_GUI=OFF -DVORNEX_WERROR=ON
TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 run build-tsan -L 'unit|integration'

stage "libFuzzer harnesses (5 s each)"
scripts/fuzz.sh 5

stage "all tests passed"
printf '%s\n' "${stage_times[@]}"
