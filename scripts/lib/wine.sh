# Sourced by the scripts that run the Windows build under Wine (windows.sh, station-e2e.sh,
# window-windows-e2e.sh, windows-bench.sh): the Wine prefix a run makes for itself, the COM ports
# that lead to simulated devices, and Windows names of Linux paths.

# wine_use_prefix DIR: Wine programs started from now on (this shell and its children) use the
# prefix DIR, 64-bit, without Mono and Gecko (nothing here needs .NET or HTML, and their
# installers would ask), and without Wine's own notes unless WINEDEBUG asks for them.
wine_use_prefix() {
  export WINEPREFIX=$1 WINEARCH=win64 WINEDEBUG=${WINEDEBUG:--all}
  export WINEDLLOVERRIDES="mscoree,mshtml="
}

# wine_boot LOG: makes (or updates) the prefix, Wine's output appended to LOG. Wine's server and
# services live on in the background: their output goes to the file, never into a pipe that
# someone waits on.
wine_boot() {
  wineboot -i >>"$1" 2>&1
}

# wine_stop: ends the prefix's Wine server and every Wine program in it, and waits until the
# server has gone (before the prefix is removed); quiet, and never fails.
wine_stop() {
  wineserver -k >/dev/null 2>&1 || true
  wineserver -w >/dev/null 2>&1 || true
}

# wine_link_com_ports COUNT DIR: COM1..COMCOUNT of the prefix lead to DIR/COM1..DIR/COMCOUNT (a
# bench folder's dev/ links, dangling until a device is there), so that a device that comes back
# from a reset keeps its COM number as it would on Windows.
wine_link_com_ports() {
  local count=$1 dir=$2 n
  mkdir -p "$WINEPREFIX/dosdevices"
  for n in $(seq 1 "$count"); do
    ln -sfn "$dir/COM$n" "$WINEPREFIX/dosdevices/com$n"
  done
}

# wine_path PATH: the Windows name of a Linux path inside a Wine prefix (drive Z: is the root),
# without starting a Wine program.
wine_path() {
  local p
  p=$(realpath -m "$1")
  printf 'Z:%s\n' "${p//\//\\}"
}
