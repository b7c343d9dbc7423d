#!/usr/bin/env bash
# Runs a program of the Windows cross build under Wine: CMake's emulator for that build, so
# that test discovery and CTest start the test programs through it (wine-run.sh PROGRAM ARGS).
# The exit status is the program's.
#
# The program writes into files, not into the caller's pipes: the first Wine program of a
# prefix starts Wine's server and services, which live on and would hold those pipes open.
# Windows programs end their lines with CR LF; the CRs are dropped on the way out, as test
# discovery reads test names line by line.
set -u
# Wine's own notes (missing 32-bit loader, unimplemented calls) would mix with the program's.
export WINEDEBUG=${WINEDEBUG:--all}
out=$(mktemp -d "${TMPDIR:-/tmp}/vornex-wine-run.XXXXXX") || exit 125
trap 'rm -rf "$out"' EXIT
status=0
wine "$@" </dev/null >"$out/stdout" 2>"$out/stderr" || status=$?
tr -d '\r' <"$out/stdout"
tr -d '\r' <"$out/stderr" >&2
exit "$status"
