#!/usr/bin/env bash
# Runs the Windows test host under Wine's 64-bit loader, in a throwaway prefix of the build tree.
#
#   wine.sh prefix  <prefix>                              creates the prefix (slow the first time)
#   wine.sh load    <prefix> <test host> <pairsolve.dll>  known answers and errors through the DLL
#   wine.sh compare <prefix> <test host> <pairsolve.dll> <native test host>
#                   the DLL's results on a fixed series of matrices equal the native build's
#
# The loader is PAIRSOLVE_WINE64 (default /usr/lib/wine/wine64, Debian's wine64; not on PATH).
set -euo pipefail

wine64=${PAIRSOLVE_WINE64:-/usr/lib/wine/wine64}
wineserver=$(dirname "$wine64")/wineserver

usage() {
  sed -n 's/^#   //p' "$0" >&2
  exit 2
}
[[ $# -ge 2 ]] || usage
mode=$1 prefix=$2
shift 2

if [[ ! -x "$wine64" ]]; then
  echo "FAIL: Wine's 64-bit loader $wine64 is missing; install it with" \
    "'sudo apt-get install -y wine wine64'" >&2
  exit 1
fi

export WINEPREFIX=$prefix
export WINEDEBUG=-all
# No Mono or Gecko installer prompts, and no display: the tests are console programs.
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY

# Stops this prefix's wineserver once its programs are done, so no process outlives the test.
stopServer() {
  if [[ -x "$wineserver" ]]; then "$wineserver" -k >/dev/null 2>&1 || true; fi
}

# Wine expects Windows paths for what the program opens itself; Z: is the root of the file system.
windowsPath() { echo "Z:$(realpath "$1")"; }

case $mode in
prefix)
  # A prefix that never finished its first start is started again from scratch.
  if [[ -f "$prefix/.pairsolve-ready" ]]; then
    echo "Wine prefix $prefix is ready"
    exit 0
  fi
  rm -rf "$prefix"
  mkdir -p "$prefix"
  echo "Creating the Wine prefix $prefix (the first start takes a while)"
  if ! timeout 300 "$wine64" wineboot --init >"$prefix.log" 2>&1; then
    echo "FAIL: wineboot did not finish; its output:" >&2
    cat "$prefix.log" >&2
    stopServer
    exit 1
  fi
  if [[ -x "$wineserver" ]]; then timeout 60 "$wineserver" -w || stopServer; fi
  touch "$prefix/.pairsolve-ready"
  echo "Wine prefix $prefix is ready"
  ;;
load)
  [[ $# -eq 2 ]] || usage
  host=$1 module=$2
  status=0
  timeout 120 "$wine64" "$host" "$(windowsPath "$module")" | tr -d '\r' || status=$?
  stopServer
  exit $status
  ;;
compare)
  [[ $# -eq 3 ]] || usage
  host=$1 module=$2 native=$3
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  status=0
  timeout 120 "$wine64" "$host" "$(windowsPath "$module")" --results >"$work/dll.txt" || status=$?
  stopServer
  if [[ $status -ne 0 ]]; then
    echo "FAIL: the test host under Wine ended with status $status"
    exit 1
  fi
  tr -d '\r' <"$work/dll.txt" >"$work/dll-unix.txt"
  "$native" native --results >"$work/native.txt"
  if [[ ! -s "$work/native.txt" ]]; then
    echo "FAIL: the native test host printed no results"
    exit 1
  fi
  if ! diff -u "$work/native.txt" "$work/dll-unix.txt" >"$work/diff.txt"; then
    echo "FAIL: results of pairsolve.dll differ from the native build's (first differences):"
    head -n 40 "$work/diff.txt"
    exit 1
  fi
  echo "pairsolve.dll under Wine and the native build agree on all $(wc -l <"$work/native.txt")" \
    "matrices, bit for bit"
  ;;
*)
  usage
  ;;
esac
