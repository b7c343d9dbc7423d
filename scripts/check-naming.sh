#!/usr/bin/env bash
# The naming rule of docs/style.md, and the few other rules of .clang-tidy, on every translation
# unit of the product (src, sim) that a configured build folder compiles, with every header of
# the tree they include:
#   scripts/check-naming.sh [BUILD_DIR]   (default: build; it needs compile_commands.json)
# Fails naming each place that breaks a rule. The Windows-only sources are checked by the same
# rule when they are compiled for Windows (clang-tidy reads only this build's compile commands).
. "$(dirname "$0")/lib/strict.sh"
cd "$(dirname "$0")/.."

build=${1:-build}
if [ ! -f "$build/compile_commands.json" ]; then
  echo "check-naming: no $build/compile_commands.json: configure and build $build first" >&2
  exit 2
fi

# The product's own sources; tests and benchmarks name their fixtures the GoogleTest way, and
# generated files (moc) and third-party code stay out.
mapfile -t files < <(python3 - "$build/compile_commands.json" "$PWD" <<'PY'
import json, os, sys
root = os.path.realpath(sys.argv[2])
seen = set()
for entry in json.load(open(sys.argv[1])):
    path = os.path.realpath(os.path.join(entry["directory"], entry["file"]))
    relative = os.path.relpath(path, root)
    if relative.split(os.sep)[0] in ("src", "sim") and path not in seen:
        seen.add(path)
        print(path)
PY
)
if [ ${#files[@]} -eq 0 ]; then
  echo "check-naming: $build compiles none of the product's sources" >&2
  exit 2
fi
echo "check-naming: ${#files[@]} translation units"
# Headers are checked where they are included; system headers are not.
run-clang-tidy-14 -p "$build" -quiet -header-filter='.*' -j "$(nproc)" "${files[@]}" \
  >"$build/check-naming.log" 2>&1 || {
  grep -E "(error|warning): " "$build/check-naming.log" | sort -u >&2
  echo "check-naming: the names above break the rule (docs/style.md); the whole output is in" \
       "$build/check-naming.log" >&2
  exit 1
}
echo "check-naming: every name follows the rule"
