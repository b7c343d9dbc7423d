#!/usr/bin/env bash
# Checks the scripts in a second or two, with no build and no network: every shell script parses
# (bash -n, and shellcheck finds no error), every Python script parses; and the apt-source steps
# of scripts/setup-windows.sh (scripts/lib/apt-sources.sh) run as that script runs them, in
# strict mode, against apt sources of their own (APT_CONFIG): the deb-src entries they add for a
# stock Debian 12 deb822 file, a one-line sources.list, sources that have deb-src entries
# already (all or some), and no entries at all (a failure that names its step), and the lookup
# of the newest revision of the pinned SQLite version, before any source list is fetched (none,
# and the script goes on) and in a fetched list. Installs shellcheck when missing.
#   scripts/check-scripts.sh
# shellcheck source=scripts/lib/strict.sh
. "$(dirname "$0")/lib/strict.sh"
# shellcheck source=scripts/lib/packages.sh
. "$(dirname "$0")/lib/packages.sh"
cd "$(dirname "$0")/.."

step "installing shellcheck"
install_missing shellcheck
step ""

passed=0
failed=0
pass() {
  passed=$((passed + 1))
  echo "ok      $1"
}
fail() {
  failed=$((failed + 1))
  echo "FAILED  $1"
  shift
  printf '%s\n' "$@" | sed 's/^/        /'
}
# expect LABEL WANT GOT: passes when the two texts are equal, else shows both.
expect() {
  if [ "$2" = "$3" ]; then
    pass "$1"
  else
    fail "$1" "wanted:" "${2:-(nothing)}" "got:" "${3:-(nothing)}"
  fi
}

mapfile -t shell_scripts < <(ls scripts/*.sh scripts/lib/*.sh .ci/run 2>/dev/null)
bad=()
for script in "${shell_scripts[@]}"; do bash -n "$script" 2>/dev/null || bad+=("$script"); done
expect "every shell script parses (bash -n, ${#shell_scripts[@]} scripts)" "" "${bad[*]}"
report=$(python3 -c '
import ast, sys
for name in sys.argv[1:]:
    try:
        ast.parse(open(name).read(), name)
    except SyntaxError as e:
        print(f"{name}:{e.lineno}: {e.msg}")
' scripts/*.py scripts/lib/*.py 2>/dev/null) || true
expect "every Python script parses" "" "$report"

# Apt sources of their own: a sources.list, a folder of sources files and an empty folder of
# fetched lists, named through APT_CONFIG as apt reads it (no configuration of the machine).
work=$(mktemp -d "${TMPDIR:-/tmp}/vornex-check-scripts-XXXXXX")
shellcheck_pid=""
cleanup() {
  if [ -n "$shellcheck_pid" ]; then kill "$shellcheck_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
# The lint takes the longest: it runs beside the cases below.
shellcheck -s bash -S error -x "${shell_scripts[@]}" >"$work/shellcheck" 2>&1 &
shellcheck_pid=$!
apt_root=$work/apt
export APT_CONFIG=$work/apt.conf
cat >"$APT_CONFIG" <<EOF
Dir::Etc::sourcelist "$apt_root/sources.list";
Dir::Etc::sourceparts "$apt_root/sources.list.d";
Dir::Etc::parts "$apt_root/apt.conf.d";
Dir::State::Lists "$apt_root/lists";
Dir::Cache::pkgcache "";
Dir::Cache::srcpkgcache "";
EOF
fresh_sources() {
  rm -rf "$apt_root"
  mkdir -p "$apt_root/sources.list.d" "$apt_root/apt.conf.d" "$apt_root/lists/partial"
}

# in_setup BODY: BODY run as scripts/setup-windows.sh runs its steps (strict mode, its libraries,
# the same name in messages); sets ran_status, ran_out and ran_err.
in_setup() {
  ran_status=0
  bash -c '. scripts/lib/strict.sh; . scripts/lib/packages.sh; . scripts/lib/apt-sources.sh
    shopt -s inherit_errexit; apt_source_paths; '"$1" setup-windows \
    >"$work/out" 2>"$work/err" || ran_status=$?
  ran_out=$(cat "$work/out")
  ran_err=$(cat "$work/err")
}
# The deb-src targets that apt itself reads from the sources now: type, archive, suite, component.
apt_src_targets() {
  apt-get indextargets --no-release-info --format '$(TARGET_OF) $(REPO_URI) $(RELEASE) $(COMPONENT)' |
    awk '$1 == "deb-src"' | sort -u
}

in_setup 'echo "$apt_sourcelist $apt_sourceparts"'
expect "apt's source paths come from APT_CONFIG" \
  "$apt_root/sources.list $apt_root/sources.list.d" "$ran_out"

stock_debian_sources='Types: deb
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg'
stock_debian_sources_src=${stock_debian_sources//Types: deb/Types: deb-src}
stock_src_targets='deb-src http://deb.debian.org/debian-security/ bookworm-security main
deb-src http://deb.debian.org/debian/ bookworm main
deb-src http://deb.debian.org/debian/ bookworm-updates main'

# One case each: its sources (given_<case>), and what add_deb_src must leave: the one-line and
# the deb822 file of deb-src entries, its exit status, a text its messages hold, and the deb-src
# targets apt reads afterwards.
cases=(stock_deb822 one_line none_at_all comments_and_disabled_only has_deb_src
  deb822_has_deb_src some_have_deb_src earlier_own_entries)

given_stock_deb822() {
  printf '%s\n' "$stock_debian_sources" >"$apt_root/sources.list.d/debian.sources"
  want_list="" want_sources=$stock_debian_sources_src want_status=0
  want_message="Adding deb-src entries: $apt_root/sources.list.d/vornex-deb-src.sources"
  want_targets=$stock_src_targets
}
given_one_line() {
  cat >"$apt_root/sources.list" <<'EOF'
# Debian 12, one-line entries
deb http://deb.debian.org/debian/ bookworm main non-free-firmware
  deb	http://security.debian.org/debian-security bookworm-security main non-free-firmware
deb [ arch=amd64 signed-by=/usr/share/keyrings/debian-archive-keyring.gpg ] http://deb.debian.org/debian/ bookworm-updates main # updates
# deb http://deb.debian.org/debian/ bookworm-backports main
EOF
  want_list='deb-src http://deb.debian.org/debian/ bookworm main non-free-firmware
deb-src	http://security.debian.org/debian-security bookworm-security main non-free-firmware
deb-src [ arch=amd64 signed-by=/usr/share/keyrings/debian-archive-keyring.gpg ] http://deb.debian.org/debian/ bookworm-updates main'
  want_sources="" want_status=0
  want_message="Adding deb-src entries: $apt_root/sources.list.d/vornex-deb-src.list"
  want_targets='deb-src http://deb.debian.org/debian/ bookworm main
deb-src http://deb.debian.org/debian/ bookworm non-free-firmware
deb-src http://deb.debian.org/debian/ bookworm-updates main
deb-src http://security.debian.org/debian-security/ bookworm-security main
deb-src http://security.debian.org/debian-security/ bookworm-security non-free-firmware'
}
none_message="adding deb-src entries failed (status 1)"
given_none_at_all() {
  want_list="" want_sources="" want_status=1 want_targets=""
  want_message="setup-windows: no deb entry in $apt_root/sources.list or"
}
given_comments_and_disabled_only() {
  printf '# deb http://deb.debian.org/debian bookworm main\n' >"$apt_root/sources.list"
  printf '%s\n' "${stock_debian_sources//Types: deb/Types: deb$'\n'Enabled: no}" \
    >"$apt_root/sources.list.d/debian.sources"
  want_list="" want_sources="" want_status=1 want_targets=""
  want_message="setup-windows: no deb entry in $apt_root/sources.list or"
}
given_has_deb_src() {
  printf '%s\n' 'deb http://deb.debian.org/debian bookworm main' \
    'deb-src http://deb.debian.org/debian bookworm main' >"$apt_root/sources.list"
  want_list="" want_sources="" want_status=0
  want_message="Every deb entry of the apt sources has its deb-src entry already"
  want_targets='deb-src http://deb.debian.org/debian/ bookworm main'
}
given_deb822_has_deb_src() {
  printf '%s\n' "${stock_debian_sources//Types: deb/Types: deb deb-src}" \
    >"$apt_root/sources.list.d/debian.sources"
  want_list="" want_sources="" want_status=0
  want_message="Every deb entry of the apt sources has its deb-src entry already"
  want_targets=$stock_src_targets
}
given_some_have_deb_src() {
  # deb-src entries in the other format, one archive written with a trailing slash.
  printf '%s\n' "$stock_debian_sources" >"$apt_root/sources.list.d/debian.sources"
  printf '%s\n' 'deb-src http://deb.debian.org/debian/ bookworm main' \
    'deb-src http://deb.debian.org/debian bookworm-updates main' >"$apt_root/sources.list"
  want_list="" want_sources=${stock_debian_sources_src#*$'\n\n'} want_status=0
  want_message="Adding deb-src entries: $apt_root/sources.list.d/vornex-deb-src.sources"
  want_targets=$stock_src_targets
}
given_earlier_own_entries() {
  # The file from an earlier run is no source of entries: it is written anew from the others.
  printf '%s\n' "$stock_debian_sources" >"$apt_root/sources.list.d/debian.sources"
  printf '%s\n' "$stock_debian_sources_src" >"$apt_root/sources.list.d/vornex-deb-src.sources"
  printf 'deb-src http://deb.debian.org/debian bookworm main\n' \
    >"$apt_root/sources.list.d/vornex-deb-src.list"
  want_list="" want_sources=$stock_debian_sources_src want_status=0
  want_message="Adding deb-src entries: $apt_root/sources.list.d/vornex-deb-src.sources"
  want_targets=$stock_src_targets
}

for case in "${cases[@]}"; do
  fresh_sources
  "given_$case"
  in_setup 'step "adding deb-src entries"
    add_deb_src "$apt_sourcelist" "$apt_sourceparts" vornex-deb-src'
  got_list=$(cat "$apt_root/sources.list.d/vornex-deb-src.list" 2>/dev/null || true)
  got_sources=$(cat "$apt_root/sources.list.d/vornex-deb-src.sources" 2>/dev/null || true)
  problems=()
  [ "$ran_status" -eq "$want_status" ] || problems+=("exit status $ran_status, wanted $want_status")
  [[ "$ran_out$ran_err" == *"$want_message"* ]] || problems+=("no message \"$want_message\"")
  if [ "$want_status" -ne 0 ] && [[ $ran_err != *"$none_message"* ]]; then
    problems+=("the failure does not name its step: \"$none_message\"")
  fi
  [ "$got_list" = "$want_list" ] ||
    problems+=("vornex-deb-src.list:" "$got_list" "wanted:" "${want_list:-(no file)}")
  [ "$got_sources" = "$want_sources" ] ||
    problems+=("vornex-deb-src.sources:" "$got_sources" "wanted:" "${want_sources:-(no file)}")
  got_targets=$(apt_src_targets 2>&1) || problems+=("apt refuses the sources: $got_targets")
  want_targets=$(sort -u <<<"$want_targets")
  [ "$got_targets" = "$want_targets" ] ||
    problems+=("apt reads the deb-src targets:" "$got_targets" "wanted:" "$want_targets")
  if [ ${#problems[@]} -eq 0 ]; then
    pass "deb-src entries: ${case//_/ }"
  else
    fail "deb-src entries: ${case//_/ }" "${problems[@]}" "output:" "$ran_out" "$ran_err"
  fi
done

# The revision lookup as scripts/setup-windows.sh makes it, and the script going on after it.
lookup='step "looking up the SQLite source version"
  version=$(apt_newest_revision sqlite3 3.40.1)
  echo "version=$version"'
fresh_sources
in_setup "$lookup"
expect "newest revision, no deb-src entries (apt-cache exits 100): none, the script goes on" \
  "0 version=" "$ran_status $ran_out${ran_err:+ $ran_err}"

printf '%s\n' "$stock_debian_sources_src" >"$apt_root/sources.list.d/debian.sources"
in_setup "$lookup"
expect "newest revision, deb-src entries before their lists are fetched: none" \
  "0 version=" "$ran_status $ran_out${ran_err:+ $ran_err}"

# A fetched source list of the archive (apt-cache reads it as apt-get update leaves it) with
# revisions of the pinned version, of a later one and of one that only starts the same.
index=$(apt-get indextargets --no-release-info --format '$(FILENAME)' \
  'Release: bookworm' 'Component: main' 'Created-By: Sources' | head -n 1)
for version in 3.40.1-2 3.40.10-1 3.40.1-2+deb12u1 3.46.1-1 3.40.1-1; do
  printf 'Package: sqlite3\nBinary: sqlite3\nVersion: %s\nDirectory: pool/main/s/sqlite3\n' "$version"
  printf 'Files:\n 00000000000000000000000000000000 1 sqlite3_%s.dsc\n\n' "$version"
done >"$index"
in_setup "$lookup"
expect "newest revision of 3.40.1 in a fetched source list" \
  "0 version=3.40.1-2+deb12u1" "$ran_status $ran_out${ran_err:+ $ran_err}"

wait "$shellcheck_pid" || true
shellcheck_pid=""
expect "shellcheck finds no error" "" "$(cat "$work/shellcheck")"

echo "scripts: $passed passed, $failed failed"
if [ "$failed" -gt 0 ]; then exit 1; fi
