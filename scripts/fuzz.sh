#!/usr/bin/env bash
# Builds the libFuzzer harnesses (fuzz/) in build-fuzz with clang++ and runs each for SECONDS
# (default 60) on a copy of its seed corpus, so fuzz/corpus stays as it is. Prints the
# executions of every harness; exits non-zero when one of them fails, naming the file that holds
# the failing input. Working corpora, logs and failing inputs stay in build-fuzz/runs.
#   scripts/fuzz.sh [SECONDS]
# A failing input replays with: build-fuzz/fuzz/fuzz_<name> <file>
. "$(dirname "$0")/lib/strict.sh"
cd "$(dirname "$0")/.."

seconds=${1:-60}
if ! [[ $seconds =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: scripts/fuzz.sh [SECONDS]" >&2
  exit 2
fi

dir=build-fuzz
cmake -S . -B "$dir" -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVORNEX_BUILD_FUZZ=ON -DVORNEX_WERROR=ON >/dev/null
cmake --build "$dir" -j"$(nproc)" --target vornex_fuzz

runs=$dir/runs
rm -rf "$runs"
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
failed=()
for source in fuzz/fuzz_*.cpp; do
  name=$(basename "$source" .cpp)
  name=${name#fuzz_}
  work=$runs/$name
  mkdir -p "$work/corpus" "$work/found" "$work/tmp"
  if [ -d "fuzz/corpus/$name" ]; then cp "fuzz/corpus/$name/"* "$work/corpus/"; fi
  status=0
  TMPDIR=$work/tmp "$dir/fuzz/fuzz_$name" -max_total_time="$seconds" -max_len=8192 -timeout=30 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$work/found/" "$work/corpus" \
    >"$work/log" 2>&1 || status=$?
  runs_done=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log" | tail -n 1)
  if [ $status -eq 0 ]; then
    printf '%-16s %12s executions\n' "$name" "${runs_done:-?}"
  else
    printf '%-16s %12s executions  FAILED (exit %d)\n' "$name" "${runs_done:-?}" "$status"
    grep -E 'ERROR: |runtime error|property does not hold|threw|SUMMARY' "$work/log" | head -n 20 |
      sed 's/^/    /'
    for input in "$work/found/"*; do
      [ -e "$input" ] && echo "    failing input: $input"
    done
    echo "    log: $work/log"
    failed+=("$name")
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzzing failed: ${failed[*]}" >&2
  exit 1
fi
