#!/usr/bin/env bash
# Prepares a Debian 12 machine for the Windows build of the station (scripts/windows.sh), when
# not done yet: installs the MinGW-w64 cross compilers, Wine to run the Windows programs and
# GoogleTest's sources; then, as Debian packages neither SQLite nor PostgreSQL's client library
# for MinGW, fetches Debian's source packages (pinned versions) once and makes what the Windows
# build links in:
#   .cache/sqlite3/amalgamation/{sqlite3.c,sqlite3.h}, from sqlite3, pinned to 3.40.1 (Debian 12's
#     version), which the build compiles into the program;
#   .cache/libpq/win64/, from postgresql-15, pinned to 15.18 (the version in Debian 12's main
#     archive): libpq alone, cross-built as static libraries, include/{libpq-fe.h,
#     postgres_ext.h,pg_config_ext.h} and lib/{libpq.a,libpgcommon_shlib.a,libpgport_shlib.a},
#     without TLS (no OpenSSL is packaged for MinGW either).
# Of each pinned version, the newest Debian revision that the archive offers is taken; a folder
# is made again only when its DEBIAN_VERSION file names another version. A machine whose apt
# sources have no deb-src entries (a stock one) gets them first, taken from its deb entries, in
# /etc/apt/sources.list.d/vornex-deb-src.sources (deb822) and/or .list (one-line), and apt's lists
# are fetched again. A failing step says which it was. Safe to run again.
#   VORNEX_SQLITE_DEBIAN_VERSION=<version> scripts/setup-windows.sh  that sqlite3 version
#   VORNEX_LIBPQ_DEBIAN_VERSION=<version> scripts/setup-windows.sh   that postgresql-15 version
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
amalgamation=.cache/sqlite3/amalgamation
libpq_upstream=15.18
libpq_version=${VORNEX_LIBPQ_DEBIAN_VERSION:-}
libpq_dir=.cache/libpq/win64
libpq_headers=(libpq-fe.h postgres_ext.h pg_config_ext.h)
libpq_libraries=(libpq.a libpgcommon_shlib.a libpgport_shlib.a)
host=x86_64-w64-mingw32
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
  # libpq: PostgreSQL's release tree has its parsers generated already (no bison, no flex), but
  # the build makes its catalog headers again with perl scripts, as Debian's patches touch a
  # header they depend on.
  perl
  # The Windows station is tested against a throw-away PostgreSQL 15 server on the loopback
  # address, made with the server's programs and given its station role with psql.
  postgresql-15 postgresql-client-15
)
step "installing packages"
install_missing "${packages[@]}"

# cached DIR UPSTREAM VERSION FILE...: whether DIR holds every FILE (relative to DIR) and its
# DEBIAN_VERSION file names VERSION, or any Debian revision of UPSTREAM when VERSION is empty.
cached() {
  local dir=$1 upstream=$2 version=$3 file stamp
  shift 3
  for file in "$@"; do [ -s "$dir/$file" ] || return 1; done
  stamp=$(cat "$dir/DEBIAN_VERSION" 2>/dev/null) || return 1
  if [ -n "$version" ]; then [ "$stamp" = "$version" ]; else [[ $stamp == "$upstream"-* ]]; fi
}
make_sqlite=yes
if cached "$amalgamation" "$sqlite_upstream" "$sqlite_version" sqlite3.c sqlite3.h; then
  make_sqlite=""
fi
make_libpq=yes
if cached "$libpq_dir" "$libpq_upstream" "$libpq_version" \
  "${libpq_headers[@]/#/include/}" "${libpq_libraries[@]/#/lib/}"; then
  make_libpq=""
fi
[ -n "$make_sqlite$make_libpq" ] || exit 0

# source_version PACKAGE UPSTREAM VERSION: VERSION, or when empty the newest Debian revision of
# UPSTREAM that the archive offers, if apt can fetch that source; else nothing.
source_version() {
  local version=$3
  [ -n "$version" ] || version=$(apt_newest_revision "$1" "$2")
  if [ -n "$version" ] && apt-get source --print-uris "$1=$version" >/dev/null 2>&1; then
    echo "$version"
  fi
}
# look_up: the source versions to fetch; "missing" names the packages of which none was found.
look_up() {
  missing=()
  if [ -n "$make_sqlite" ]; then
    sqlite_version=$(source_version sqlite3 "$sqlite_upstream" "${VORNEX_SQLITE_DEBIAN_VERSION:-}")
    [ -n "$sqlite_version" ] || missing+=(sqlite3)
  fi
  if [ -n "$make_libpq" ]; then
    libpq_version=$(source_version postgresql-15 "$libpq_upstream" \
      "${VORNEX_LIBPQ_DEBIAN_VERSION:-}")
    [ -n "$libpq_version" ] || missing+=(postgresql-15)
  fi
}

# The newest Debian revision of each pinned version that the archive offers; none while the
# machine's apt sources have no deb-src entries (as on a stock machine): then deb-src entries for
# the archives and suites of its deb entries are added, and the lists fetched.
step "looking up the source versions"
apt_source_paths
look_up
if [ ${#missing[@]} -gt 0 ]; then
  if [ ! -f "$apt_sourceparts/$src_name.list" ] && [ ! -f "$apt_sourceparts/$src_name.sources" ]; then
    step "adding deb-src entries"
    add_deb_src "$apt_sourcelist" "$apt_sourceparts" "$src_name"
  fi
  step "updating the package lists"
  apt_as_root update
  step "looking up the source versions"
  look_up
  for package in "${missing[@]}"; do
    if [ "$package" = sqlite3 ]; then
      variable=VORNEX_SQLITE_DEBIAN_VERSION
      wanted=${VORNEX_SQLITE_DEBIAN_VERSION:-$sqlite_upstream-*}
    else
      variable=VORNEX_LIBPQ_DEBIAN_VERSION
      wanted=${VORNEX_LIBPQ_DEBIAN_VERSION:-$libpq_upstream-*}
    fi
    known=$(apt_source_versions "$package" | paste -sd ' ')
    fail "the archive has no source $package=$wanted (it has: ${known:-none});" \
      "set $variable to one of those"
  done
fi

mkdir -p .cache
work=$(mktemp -d "$PWD/.cache/setup-windows.XXXXXX")
trap 'rm -rf "$work"' EXIT

# fetch_source PACKAGE VERSION DIR: the source tree of PACKAGE=VERSION unpacked (patches
# applied) into DIR; sets "tree" to it.
fetch_source() {
  mkdir "$3"
  (cd "$3" && "${apt_source[@]}" "$1=$2" >/dev/null) || fail "apt-get source $1=$2 failed"
  tree=$(find "$3" -mindepth 1 -maxdepth 1 -type d -name "$1-*" | head -n 1)
  [ -n "$tree" ] || fail "apt-get source unpacked no $1-* folder"
}

if [ -n "$make_sqlite" ]; then
  echo "== SQLite amalgamation from Debian's sqlite3 $sqlite_version"
  step "fetching the SQLite source"
  fetch_source sqlite3 "$sqlite_version" "$work/sqlite3"
  step "making the SQLite amalgamation"
  made=$work/sqlite3/amalgamation
  mkdir "$made"
  if [ -s "$tree/sqlite3.c" ] && [ -s "$tree/sqlite3.h" ]; then
    cp "$tree/sqlite3.c" "$tree/sqlite3.h" "$made/"
  else
    # The canonical source tree: its makefile generates the amalgamation.
    build=$work/sqlite3/build
    mkdir "$build"
    (cd "$build" && "$tree/configure" --disable-tcl >configure.log 2>&1) ||
      fail "configure of the SQLite source failed: $(tail -n 5 "$build/configure.log")"
    (cd "$build" && make -j"$(nproc)" sqlite3.c >make.log 2>&1) ||
      fail "make sqlite3.c failed: $(tail -n 5 "$build/make.log")"
    cp "$build/sqlite3.c" "$build/sqlite3.h" "$made/"
  fi
  echo "$sqlite_version" >"$made/DEBIAN_VERSION"
  mkdir -p "$(dirname "$amalgamation")"
  rm -rf "$amalgamation"
  mv "$made" "$amalgamation"
  version=$(sed -nE 's/^#define SQLITE_VERSION +"(.*)"/\1/p' "$amalgamation/sqlite3.h")
  echo "SQLite $version in $amalgamation"
fi

if [ -n "$make_libpq" ]; then
  echo "== libpq for MinGW-w64 from Debian's postgresql-15 $libpq_version"
  libpq_started=$SECONDS
  step "fetching the PostgreSQL source"
  fetch_source postgresql-15 "$libpq_version" "$work/libpq"
  build=$work/libpq/build
  log=$work/libpq/build.log
  mkdir "$build"
  # build_failed WHAT: fails with the end of the build's log.
  build_failed() {
    fail "$1 failed: $(tail -n 5 "$log")"
  }
  step "configuring libpq"
  # The client library alone, for the station's own connection: no command-line editing
  # (readline), compression (zlib, lz4, zstd), ICU or translated messages. No TLS either: no
  # OpenSSL is packaged for MinGW, and building one from source would take longer than all the
  # rest; libpq then refuses sslmode=require and the verify modes. The headers offer only what
  # Windows 7 has, as for the station itself. pkg-config is the build machine's, which knows no
  # library for the target: none is taken from it.
  (cd "$build" && "$tree/configure" --host="$host" CC="$host-gcc-posix" CFLAGS=-O2 \
    CPPFLAGS=-D_WIN32_WINNT=0x0601 PKG_CONFIG=false \
    --without-readline --without-zlib --without-icu --without-openssl --without-lz4 \
    --without-zstd --without-gssapi --without-ldap --disable-nls >"$log" 2>&1) ||
    build_failed "configure of the PostgreSQL source"
  step "building libpq"
  # Only what libpq needs: the generated headers, the frontend libraries of src/common and
  # src/port in their variant for libraries (_shlib), and libpq's objects; not libpq.dll, whose
  # version resource (WIN32RES) is left out of the objects too. The makefiles name their objects.
  lists=$work/libpq/objects.mk
  cat >"$lists" <<'EOF'
vornex-objects:
	@echo $(filter-out $(WIN32RES),$(OBJS))
vornex-plain-objects:
	@echo $(patsubst %_shlib.o,%.o,$(OBJS_SHLIB))
EOF
  # make_shlib DIR LIBRARY: LIBRARY, the _shlib variant of DIR's library. Every foo_shlib.o
  # depends on foo.o, for the makefile's dependency tracking only: those plain objects, which
  # libpq does not use, are taken as made (make -o) instead of being compiled too.
  make_shlib() {
    local text names=() plain=() object
    text=$(make -s -C "$1" -f Makefile -f "$lists" vornex-plain-objects) || return 1
    read -ra names <<<"$text"
    for object in "${names[@]}"; do plain+=(-o "$object"); done
    make -j"$(nproc)" -C "$1" "${plain[@]}" "$2" || return 1
  }
  {
    make -C "$build/src/backend" generated-headers &&
      make_shlib "$build/src/port" libpgport_shlib.a &&
      make_shlib "$build/src/common" libpgcommon_shlib.a
  } >>"$log" 2>&1 || build_failed "make of src/port and src/common"
  listed=$(make -s -C "$build/src/interfaces/libpq" -f Makefile -f "$lists" vornex-objects \
    2>>"$log") || build_failed "listing libpq's objects"
  read -ra objects <<<"$listed"
  [ ${#objects[@]} -gt 0 ] || fail "libpq's makefile names no objects"
  make -j"$(nproc)" -C "$build/src/interfaces/libpq" "${objects[@]}" >>"$log" 2>&1 ||
    build_failed "make of libpq's objects"
  step "packing libpq"
  made=$work/libpq/win64
  mkdir -p "$made/include" "$made/lib"
  (cd "$build/src/interfaces/libpq" && "$host-ar" crs "$made/lib/libpq.a" "${objects[@]}")
  # On Windows, libpq brings stand-ins of its own for the few pthread calls it makes (a mutex,
  # pthread_self), on other types than those of winpthreads, which the posix-thread compilers
  # link into every program for std::thread and std::mutex: in one program the two would clash,
  # or std::mutex would run on libpq's stand-ins. They are renamed inside libpq.a.
  for name in pthread_self pthread_setspecific pthread_getspecific pthread_mutex_init \
    pthread_mutex_lock pthread_mutex_unlock; do
    echo "$name pq_$name"
  done >"$work/libpq/pthread-names"
  "$host-objcopy" --redefine-syms="$work/libpq/pthread-names" "$made/lib/libpq.a"
  own=$("$host-nm" -g "$made/lib/libpq.a" | grep -E ' [TU] pthread_' | sort -u || true)
  [ -z "$own" ] || fail "libpq.a still has pthread functions of its own: $own"
  cp "$build/src/common/libpgcommon_shlib.a" "$build/src/port/libpgport_shlib.a" "$made/lib/"
  cp "$tree/src/interfaces/libpq/libpq-fe.h" "$tree/src/include/postgres_ext.h" \
    "$build/src/include/pg_config_ext.h" "$made/include/"
  # PostgreSQL's licence asks for its notice in every copy.
  cp "$tree/COPYRIGHT" "$made/"
  echo "$libpq_version" >"$made/DEBIAN_VERSION"
  mkdir -p "$(dirname "$libpq_dir")"
  rm -rf "$libpq_dir"
  mv "$made" "$libpq_dir"
  echo "libpq $(sed -nE 's/^#define PG_VERSION "(.*)"/\1/p' "$build/src/include/pg_config.h")" \
    "in $libpq_dir ($((SECONDS - libpq_started)) s)"
fi
