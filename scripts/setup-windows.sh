#!/usr/bin/env bash
# Prepares a Debian 12 machine for the Windows build of the station (scripts/windows.sh), when
# not done yet: installs the MinGW-w64 cross compilers, Wine to run the Windows programs and
# GoogleTest's sources; then, as Debian packages no SQLite for MinGW, fetches Debian's SQLite
# source package (pinned version) once and makes the amalgamation the Windows build compiles in,
# .cache/sqlite3/amalgamation/{sqlite3.c,sqlite3.h}. SQLite is pinned to 3.40.1, Debian 12's
# version; the newest Debian revision of it that the archive offers is taken. A machine whose apt
# sources have no deb-src entries (a stock one) gets them first, taken from its deb entries, in
# /etc/apt/sources.list.d/vornex-deb-src.sources (deb822) and/or .list (one-line), and apt's lists
# are fetched again. A failing step says which it was. Safe to run again.
#   VORNEX_SQLITE_DEBIAN_VERSION=<version> scripts/setup-windows.sh   one exact source version
# shellcheck source=scripts/lib/strict.sh
. "$(dirname "$0")/lib/strict.sh"
# shellcheck source=scripts/lib/packages.sh
. "$(dirname "$0")/lib/packages.sh"
# shellcheck source=scripts/lib/apt-sources.sh
. "$(dirname "$0")/lib/apt-sources.sh"
shopt -s inherit_errexit
cd "$(dirname "$0")/.."

sqlite_upstream=3.40.1
sqlite_version=${VORNEX_SQLITE_DEBIAN_VERSION:-}
cache=.cache/sqlite3
amalgamation=$cache/amalgamation
# The file of deb-src entries that this script adds beside the machine's own apt sources:
# vornex-deb-src.list (one-line entries) and/or vornex-deb-src.sources (deb822).
src_name=vornex-deb-src

fail() {
  echo "setup-windows: ${current_step:+$current_step: }$*" >&2
  exit 1
}

apt_source=(apt-get source)
if [ "$(id -u)" -eq 0 ]; then
  # As root, apt would fetch as its sandbox user, who may not write into the cache folder.
  apt_source+=(-o APT::Sandbox::User=root)
fi

packages=(
  cmake ninja-build
  gcc-mingw-w64-x86-64-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine64
  # The station window runs on a virtual X display under Wine.
  xvfb
  googletest
  # The SQLite amalgamation: apt-get source unpacks with dpkg-source, and the source tree's
  # configure and "make sqlite3.c" need a C compiler for the build machine and tclsh.
  dpkg-dev build-essential tcl
)
step "installing packages"
install_missing "${packages[@]}"

cached=$(cat "$amalgamation/DEBIAN_VERSION" 2>/dev/null || true)
if [ -s "$amalgamation/sqlite3.c" ] && [ -s "$amalgamation/sqlite3.h" ]; then
  if [ -n "$sqlite_version" ] && [ "$cached" = "$sqlite_version" ]; then exit 0; fi
  if [ -z "$sqlite_version" ] && [[ $cached == "$sqlite_upstream"-* ]]; then exit 0; fi
fi

# The newest Debian revision of the pinned SQLite version that the archive offers; none while
# the machine's apt sources have no deb-src entries (as on a stock machine): then deb-src
# entries for the archives and suites of its deb entries are added, and the lists fetched.
step "looking up the SQLite source version"
apt_source_paths
[ -n "$sqlite_version" ] || sqlite_version=$(apt_newest_revision sqlite3 "$sqlite_upstream")
if [ -z "$sqlite_version" ] ||
  ! apt-get source --print-uris "sqlite3=$sqlite_version" >/dev/null 2>&1; then
  if [ ! -f "$apt_sourceparts/$src_name.list" ] && [ ! -f "$apt_sourceparts/$src_name.sources" ]; then
    step "adding deb-src entries"
    add_deb_src "$apt_sourcelist" "$apt_sourceparts" "$src_name"
  fi
  step "updating the package lists"
  apt_as_root update
  step "looking up the SQLite source version"
  [ -n "${VORNEX_SQLITE_DEBIAN_VERSION:-}" ] ||
    sqlite_version=$(apt_newest_revision sqlite3 "$sqlite_upstream")
  if [ -z "$sqlite_version" ] ||
    ! apt-get source --print-uris "sqlite3=$sqlite_version" >/dev/null 2>&1; then
    known=$(apt_source_versions sqlite3 | tr '\n' ' ')
    fail "the archive has no source sqlite3=${sqlite_version:-$sqlite_upstream-*}" \
      "(it has: ${known:-none}); set VORNEX_SQLITE_DEBIAN_VERSION to one of those"
  fi
fi

echo "== SQLite amalgamation from Debian's sqlite3 $sqlite_version"
step "fetching the SQLite source"
mkdir -p "$cache"
work=$(mktemp -d "$PWD/$cache/fetch.XXXXXX")
trap 'rm -rf "$work"' EXIT
(cd "$work" && "${apt_source[@]}" "sqlite3=$sqlite_version" >/dev/null) ||
  fail "apt-get source sqlite3=$sqlite_version failed"
tree=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'sqlite3-*' | head -n 1)
[ -n "$tree" ] || fail "apt-get source unpacked no sqlite3-* folder"
step "making the SQLite amalgamation"
mkdir "$work/amalgamation"
if [ -s "$tree/sqlite3.c" ] && [ -s "$tree/sqlite3.h" ]; then
  cp "$tree/sqlite3.c" "$tree/sqlite3.h" "$work/amalgamation/"
else
  # The canonical source tree: its makefile generates the amalgamation.
  mkdir "$work/build"
  (cd "$work/build" && "$tree/configure" --disable-tcl >configure.log 2>&1) ||
    fail "configure of the SQLite source failed: $(tail -n 5 "$work/build/configure.log")"
  (cd "$work/build" && make -j"$(nproc)" sqlite3.c >make.log 2>&1) ||
    fail "make sqlite3.c failed: $(tail -n 5 "$work/build/make.log")"
  cp "$work/build/sqlite3.c" "$work/build/sqlite3.h" "$work/amalgamation/"
fi
echo "$sqlite_version" >"$work/amalgamation/DEBIAN_VERSION"
rm -rf "$amalgamation"
mv "$work/amalgamation" "$amalgamation"
echo "SQLite $(sed -nE 's/^#define SQLITE_VERSION +"(.*)"/\1/p' "$amalgamation/sqlite3.h") in $amalgamation"
