#!/usr/bin/env bash
# Prepares a Debian 12 machine for the Windows build of the station (scripts/windows.sh), when
# not done yet: installs the MinGW-w64 cross compilers, Wine to run the Windows programs and
# GoogleTest's sources; then, as Debian packages no SQLite for MinGW, fetches Debian's SQLite
# source package (pinned version) once and makes the amalgamation the Windows build compiles in,
# .cache/sqlite3/amalgamation/{sqlite3.c,sqlite3.h}. SQLite is pinned to 3.40.1, Debian 12's
# version; the newest Debian revision of it that the archive offers is taken. Safe to run again.
#   VORNEX_SQLITE_DEBIAN_VERSION=<version> scripts/setup-windows.sh   one exact source version
. "$(dirname "$0")/lib/strict.sh"
cd "$(dirname "$0")/.."

sqlite_upstream=3.40.1
sqlite_version=${VORNEX_SQLITE_DEBIAN_VERSION:-}
cache=.cache/sqlite3
amalgamation=$cache/amalgamation
src_list=/etc/apt/sources.list.d/vornex-deb-src

fail() {
  echo "setup-windows: $*" >&2
  exit 1
}

sudo=""
apt_source=(apt-get source)
if [ "$(id -u)" -ne 0 ]; then
  sudo="sudo"
else
  # As root, apt would fetch as its sandbox user, who may not write into the cache folder.
  apt_source+=(-o APT::Sandbox::User=root)
fi
export DEBIAN_FRONTEND=noninteractive

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
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $sudo apt-get update
  $sudo apt-get install -y --no-install-recommends "${missing[@]}"
fi

cached=$(cat "$amalgamation/DEBIAN_VERSION" 2>/dev/null || true)
if [ -s "$amalgamation/sqlite3.c" ] && [ -s "$amalgamation/sqlite3.h" ]; then
  if [ -n "$sqlite_version" ] && [ "$cached" = "$sqlite_version" ]; then exit 0; fi
  if [ -z "$sqlite_version" ] && [[ $cached == "$sqlite_upstream"-* ]]; then exit 0; fi
fi

# deb-src entries for the archives and suites of the machine's deb entries: one-line entries
# (sources.list, *.list) and deb822 stanzas (*.sources) whose Types hold deb but not deb-src.
add_deb_src() {
  local lines stanzas f
  lines=$(for f in /etc/apt/sources.list /etc/apt/sources.list.d/*.list; do
    [ -f "$f" ] && [ "$f" != "$src_list.list" ] && sed -nE 's/^[[:space:]]*deb[[:space:]]+/deb-src /p' "$f"
  done || true)
  stanzas=$(for f in /etc/apt/sources.list.d/*.sources; do
    [ -f "$f" ] && [ "$f" != "$src_list.sources" ] && awk '
      BEGIN { RS = ""; FS = "\n" }
      {
        at = 0
        for (i = 1; i <= NF; i++) if ($i ~ /^Types:/) at = i
        if (at == 0) next
        types = $at
        sub(/^Types:/, "", types)
        n = split(types, word, /[ \t]+/)
        deb = 0
        for (j = 1; j <= n; j++) {
          if (word[j] == "deb") deb = 1
          if (word[j] == "deb-src") next
        }
        if (!deb) next
        for (i = 1; i <= NF; i++) print (i == at ? "Types: deb-src" : $i)
        print ""
      }' "$f"
  done || true)
  [ -n "$lines$stanzas" ] || fail "no deb entry in /etc/apt/sources.list* to take the deb-src entries from"
  if [ -n "$lines" ]; then
    echo "Adding deb-src entries: $src_list.list"
    printf '%s\n' "$lines" | $sudo tee "$src_list.list" >/dev/null
  fi
  if [ -n "$stanzas" ]; then
    echo "Adding deb-src entries: $src_list.sources"
    printf '%s\n' "$stanzas" | $sudo tee "$src_list.sources" >/dev/null
  fi
}

# The newest Debian revision of the pinned SQLite version that the archive offers; empty when it
# offers none, as on a stock machine whose apt sources have no deb-src entries yet.
newest_revision() {
  { apt-cache showsrc sqlite3 2>/dev/null || true; } | sed -n 's/^Version: //p' |
    { grep -F "$sqlite_upstream-" || true; } | sort -V | tail -n 1
}
[ -n "$sqlite_version" ] || sqlite_version=$(newest_revision)
if [ -z "$sqlite_version" ] ||
  ! apt-get source --print-uris "sqlite3=$sqlite_version" >/dev/null 2>&1; then
  if [ ! -f "$src_list.list" ] && [ ! -f "$src_list.sources" ]; then add_deb_src; fi
  $sudo apt-get update
  [ -n "${VORNEX_SQLITE_DEBIAN_VERSION:-}" ] || sqlite_version=$(newest_revision)
  if ! apt-get source --print-uris "sqlite3=$sqlite_version" >/dev/null 2>&1; then
    known=$({ apt-cache showsrc sqlite3 2>/dev/null || true; } | sed -n 's/^Version: //p' | tr '\n' ' ')
    fail "the archive has no source sqlite3=$sqlite_version (it has: ${known:-none});" \
      "set VORNEX_SQLITE_DEBIAN_VERSION to one of those"
  fi
fi

echo "== SQLite amalgamation from Debian's sqlite3 $sqlite_version"
mkdir -p "$cache"
work=$(mktemp -d "$PWD/$cache/fetch.XXXXXX")
trap 'rm -rf "$work"' EXIT
(cd "$work" && "${apt_source[@]}" "sqlite3=$sqlite_version" >/dev/null) ||
  fail "apt-get source sqlite3=$sqlite_version failed"
tree=$(find "$work" -mindepth 1 -maxdepth 1 -type d -name 'sqlite3-*' | head -n 1)
[ -n "$tree" ] || fail "apt-get source unpacked no sqlite3-* folder"
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
