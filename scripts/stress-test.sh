#!/usr/bin/env bash
# Runs the normal build's tests several times in a row while stress-ng keeps every core busy:
# the suite waits for conditions, never for elapsed time, and must pass on a loaded machine.
#   scripts/stress-test.sh [ROUNDS]      default 3; needs the normal build (scripts/test.sh --quick)
. "$(dirname "$0")/lib/strict.sh"
cd "$(dirname "$0")/.."
rounds=${1:-3}
scripts/setup.sh
[ -d build ] || { echo "no normal build: run scripts/test.sh --quick first" >&2; exit 1; }
stress-ng --cpu "$(nproc)" --quiet &
stress=$!
trap 'kill $stress 2>/dev/null || true; wait $stress 2>/dev/null || true' EXIT
for round in $(seq 1 "$rounds"); do
  echo "== round $round of $rounds (stress-ng --cpu $(nproc) running)"
  ctest --test-dir build --output-on-failure --no-tests=error -j"$(nproc)"
done
echo "== $rounds rounds passed under load"
