#!/usr/bin/env bash
# Builds the benchmarks (optimised) and runs them, or only the named ones:
#   scripts/bench.sh                      all
#   scripts/bench.sh exchange_bench       one
. "$(dirname "$0")/lib/strict.sh"
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVORNEX_BUILD_TESTS=OFF >/dev/null
cmake --build build-bench -j"$(nproc)"
benches=("$@")
[ ${#benches[@]} -eq 0 ] && benches=(exchange_bench search_bench stream_bench batch_bench line_bench records_bench)
for b in "${benches[@]}"; do
  echo "== $b"
  "build-bench/bench/$b"
done
