#!/usr/bin/env bash
# Installs the Debian 12 packages the station needs, when missing: all of them (the test
# command), or only the groups named. Safe to run again: it installs only what is not there yet.
#   scripts/setup.sh               every group
#   scripts/setup.sh run           build and run the station and the simulator (the demo)
#   scripts/setup.sh run fuzz ...  the groups named: run, test, fuzz, package
# shellcheck source=scripts/lib/strict.sh
. "$(dirname "$0")/lib/strict.sh"
# shellcheck source=scripts/lib/packages.sh
. "$(dirname "$0")/lib/packages.sh"
shopt -s inherit_errexit

# Build and run: the compilers and build tools; the station window (Qt 6 Widgets/Test with its
# platform plugins, offscreen for the tests, xcb for a desktop), udev for port arrivals, xcb to
# ask whether the display answers, fonts metric-compatible with Arial; the station record store;
# python3 for the simulator's account of the devices; PostgreSQL's client library for the line
# records.
packages_run=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-qpa-plugins libudev-dev libxcb1-dev fonts-liberation
  libsqlite3-dev libpq-dev
  python3
)
# The test suite: GoogleTest and the benchmark library, the formatting check of the sources (of
# the files git tracks) and the naming check (clang-tidy), a virtual X display for the window tests and screenshots, and loading
# the machine while the tests run (a check that they hold under load); a PostgreSQL 15 server
# and its client for the line tests (each test starts a throw-away server of its own, never the
# machine's cluster) and openssl for their TLS certificates; headless Chromium and a WebSocket
# client for Python to check the yield report as a browser shows it; ccache, so that the test
# command's builds take the objects of an earlier run of the same sources.
packages_test=(
  postgresql-15 postgresql-client-15 openssl
  chromium python3-websocket
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  git clang-format clang-tidy ccache
  xvfb xauth
  stress-ng
)
# The fuzz build (scripts/fuzz.sh): clang with libFuzzer and the sanitizer runtimes.
packages_fuzz=(clang libclang-rt-14-dev)
# The Debian package (scripts/package.sh): the manual page source (scdoc), the package tools and
# their checks, and man to read the page back.
packages_package=(scdoc dpkg-dev file lintian desktop-file-utils man-db)

groups=("$@")
[ ${#groups[@]} -gt 0 ] || groups=(run test fuzz package)
packages=()
for group in "${groups[@]}"; do
  case $group in
    run) packages+=("${packages_run[@]}") ;;
    test) packages+=("${packages_test[@]}") ;;
    fuzz) packages+=("${packages_fuzz[@]}") ;;
    package) packages+=("${packages_package[@]}") ;;
    *)
      echo "setup: unknown group '$group' (groups: run, test, fuzz, package)" >&2
      exit 2
      ;;
  esac
done

step "installing packages"
install_missing "${packages[@]}"
