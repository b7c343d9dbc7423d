#!/usr/bin/env bash
# Builds the Debian package of the station in build-package/ and checks it: its contents, the
# udev rule against the port-role table, lintian (no errors allowed), and, when run as root,
# installs it, runs the installed programs and removes it again. The machine is left as it was
# found, also when a step fails.
. "$(dirname "$0")/lib/strict.sh"
cd "$(dirname "$0")/.."
started=$SECONDS

scripts/setup.sh

dir=build-package
rules=packaging/linux/60-vornex.rules
fail() {
  echo "package: $*" >&2
  exit 1
}

echo "== build (Release, $dir)"
# Debian's hardening flags (fortified functions, stack protector, relocations read-only and
# bound at start); the optimisation level stays Release's, the binaries are stripped anyway.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all DEB_CXXFLAGS_MAINT_STRIP="-g -O2"
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVORNEX_BUILD_TESTS=OFF \
  -DVORNEX_BUILD_BENCH=OFF -DCMAKE_INSTALL_PREFIX=/usr \
  -DCMAKE_CXX_FLAGS="$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$dir" -j"$(nproc)"

echo "== checks of the sources"
# Every product of the port-role table has its line in the udev rule (sysfs spells hex in
# lower case).
products=$(sed -nE 's/.*\{0x([0-9A-Fa-f]{4}), *0x([0-9A-Fa-f]{4}),.*/\1 \2/p' \
  src/discovery/usb_roles.cpp | tr 'A-F' 'a-f')
[ -n "$products" ] || fail "no product found in the port-role table"
while read -r vid pid; do
  grep -q "SUBSYSTEM==\"tty\", ATTRS{idVendor}==\"$vid\", ATTRS{idProduct}==\"$pid\"" "$rules" ||
    fail "$rules has no line for product $vid:$pid of the port-role table"
done <<<"$products"
desktop-file-validate packaging/linux/vornex.desktop
for page in "$dir"/man/*.1.gz; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "manual page $page: $warnings"
done

echo "== package"
rm -f "$dir"/vornex_*.deb
(cd "$dir" && cpack -G DEB >/dev/null)
debs=("$dir"/vornex_*.deb)
deb=${debs[0]}
[ -f "$deb" ] || fail "cpack made no package"

expected=(
  ./usr/bin/vornex
  ./usr/bin/vornex-devsim
  ./usr/lib/udev/rules.d/60-vornex.rules
  ./usr/share/applications/vornex.desktop
  ./usr/share/icons/hicolor/scalable/apps/vornex.svg
  ./usr/share/man/man1/vornex.1.gz
  ./usr/share/man/man1/vornex-devsim.1.gz
  ./usr/share/doc/vornex/copyright
  ./usr/share/doc/vornex/README.md
)
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for path in "${expected[@]}"; do
  grep -qxF "$path" <<<"$contents" || fail "$deb lacks $path"
done
echo "contents: all ${#expected[@]} expected files present"

echo "== lintian"
lintian_status=0
lintian_out=$(lintian --fail-on error "$deb" 2>&1) || lintian_status=$?
lintian_out=$(grep -v "running with root privileges" <<<"$lintian_out" || true)
[ -z "$lintian_out" ] || echo "$lintian_out"
lintian_errors=$(grep -c '^E: ' <<<"$lintian_out" || true)
lintian_warnings=$(grep -c '^W: ' <<<"$lintian_out" || true)
[ "$lintian_status" -eq 0 ] || fail "lintian found errors in $deb"

install_result="skipped (not root)"
if [ "$(id -u)" -ne 0 ]; then
  echo "== install test skipped: it needs root (dpkg -i)"
elif dpkg-query -W -f='${Status}' vornex 2>/dev/null | grep -q "ok installed"; then
  install_result="skipped (vornex was installed already)"
  echo "== install test skipped: a vornex package is installed on this machine already"
else
  echo "== install test"
  # From here on the package is removed again whatever happens.
  cleanup() {
    if dpkg-query -W -f='${Status}' vornex 2>/dev/null | grep -qv "not-installed"; then
      dpkg --purge vornex >/dev/null 2>&1 || echo "package: could not remove vornex" >&2
    fi
  }
  trap cleanup EXIT
  DEBIAN_FRONTEND=noninteractive dpkg -i "$deb" >/dev/null
  mapfile -t installed < <(dpkg -L vornex | while read -r f; do [ -d "$f" ] || echo "$f"; done)

  help=$(/usr/bin/vornex --help) || fail "/usr/bin/vornex --help failed"
  grep -q "usage: vornex" <<<"$help" || fail "/usr/bin/vornex --help printed no usage"
  /usr/bin/vornex-devsim --help >/dev/null || fail "/usr/bin/vornex-devsim --help failed"
  check_result="not listed by --help, not run"
  if grep -q -- "--check-system" <<<"$help"; then
    check_status=0
    /usr/bin/vornex --check-system || check_status=$?
    case $check_status in
      0) check_result="exit 0 (machine ready)" ;;
      1) check_result="exit 1 (machine not ready)" ;;
      *) fail "/usr/bin/vornex --check-system exited with status $check_status" ;;
    esac
  fi

  dpkg -r vornex >/dev/null
  for f in "${installed[@]}"; do
    [ ! -e "$f" ] && [ ! -L "$f" ] || fail "$f is still there after dpkg -r vornex"
  done
  cleanup
  trap - EXIT
  install_result="installed, ran, removed (${#installed[@]} files gone); --check-system: $check_result"
fi

echo "== summary"
echo "package:   $deb ($(du -h "$deb" | cut -f1))"
echo "lintian:   $lintian_errors errors, $lintian_warnings warnings"
echo "install:   $install_result"
echo "time:      $((SECONDS - started)) s"
