#!/usr/bin/env bash
# Installs the Debian 12 packages the station needs to build, test and run, when missing.
# Safe to run again: it installs only what is not there yet.
. "$(dirname "$0")/lib/strict.sh"

packages=(
  build-essential cmake ninja-build pkg-config git
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  # The station window: Qt 6 Widgets/Test with its platform plugins (offscreen for the tests,
  # xcb for a desktop), udev for port arrivals, fonts metric-compatible with Arial, and a
  # virtual X display for screenshots and runs without a desktop; xcb to ask whether the display
  # answers.
  qt6-base-dev qt6-qpa-plugins libudev-dev libxcb1-dev fonts-liberation xvfb xauth
  # The station record store.
  libsqlite3-dev
  # The fuzz build (scripts/fuzz.sh): clang with libFuzzer and the sanitizer runtimes; the
  # formatting check of the sources.
  clang libclang-rt-14-dev clang-format
  # Loading the machine while the tests run (a check that they hold under load).
  stress-ng
  # The Debian package (scripts/package.sh): the manual page source (scdoc), the package
  # tools and their checks, and man to read the page back.
  scdoc dpkg-dev file lintian desktop-file-utils man-db
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

echo "Installing: ${missing[*]}"
sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update
$sudo apt-get install -y --no-install-recommends "${missing[@]}"
