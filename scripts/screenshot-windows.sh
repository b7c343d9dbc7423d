#!/usr/bin/env bash
# docs/window-windows.png: the Windows station window under Wine with eight simulated devices in
# the middle of their run (scripts/window-windows-e2e.sh, which also checks the run).
#   scripts/screenshot-windows.sh [LINUX_BUILD] [WINDOWS_BUILD]
. "$(dirname "$0")/lib/strict.sh"
cd "$(dirname "$0")/.."
linux_build=${1:-build}
windows_build=${2:-build-win}
scripts/window-windows-e2e.sh "$linux_build" "$windows_build/src/app/vornex.exe" 8 \
  docs/window-windows.png
