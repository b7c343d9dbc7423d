# Sourced by the set-up scripts (after strict.sh): Debian packages and commands that need root.

# as_root COMMAND...: COMMAND as root: directly when root, else through sudo.
as_root() {
  if [ "$(id -u)" -eq 0 ]; then
    "$@" || return $?
  elif command -v sudo >/dev/null; then
    sudo "$@" || return $?
  else
    echo "$script_name: $1 needs root: run as root or install sudo" >&2
    return 1
  fi
}

# apt_as_root ARG...: apt-get ARG... as root, never asking questions (sudo clears the
# environment, so the front-end is set on the command itself).
apt_as_root() {
  as_root env DEBIAN_FRONTEND=noninteractive apt-get "$@" || return $?
}

# missing_packages PACKAGE...: those of PACKAGE... that are not installed, one a line.
missing_packages() {
  local p state
  for p in "$@"; do
    state=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null) || state=""
    [ "$state" = "install ok installed" ] || echo "$p"
  done
}

# install_missing PACKAGE...: installs those of PACKAGE... that are not installed yet, after
# refreshing the package lists; says which. A failure names its step (updating the package
# lists, installing packages) and apt's status; apt's own message is printed above it.
install_missing() {
  local missing outer=${current_step:-}
  mapfile -t missing < <(missing_packages "$@")
  [ ${#missing[@]} -gt 0 ] || return 0
  echo "Installing: ${missing[*]}"
  step "updating the package lists"
  apt_as_root update
  step "installing packages"
  apt_as_root install -y --no-install-recommends "${missing[@]}"
  step "$outer"
}
