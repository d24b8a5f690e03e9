#!/usr/bin/env bash
# Runs the Windows test host under Wine, in a throwaway prefix of the build tree per architecture.
#
#   wine.sh prefix  <arch> <prefix>                    creates the prefix (slow at first)
#   wine.sh load    <arch> <prefix> <test host> <module> <export> [<module> <export> ...]
#                   known answers and errors of each module, called through the export named
#   wine.sh compare <arch> <prefix> <test host> <pairsolve.dll> <native test host>
#                   the DLL's results on a fixed series of matrices equal the native build's
#
# <arch> is x64 or x86. x64 runs under Wine's 64-bit loader PAIRSOLVE_WINE64 (default
# /usr/lib/wine/wine64, Debian's wine64) in a 64-bit prefix; x86 under the 32-bit loader
# PAIRSOLVE_WINE32 (default /usr/lib/wine/wine, Debian's wine32:i386) in a 32-bit prefix that this
# loader made. Neither loader is on PATH.
#
# A missing loader fails the test, except for the 32-bit one when there is a reason it could not be
# installed: PAIRSOLVE_NO_WINE32, or the decision the build tree keeps in the file that
# PAIRSOLVE_WINE32_DECISION names (scripts/install-deps.sh writes it). Then the test reports as
# skipped (exit 77) with that reason.
set -euo pipefail

usage() {
  sed -n 's/^#   //p' "$0" >&2
  exit 2
}
[[ $# -ge 3 ]] || usage
mode=$1 arch=$2 prefix=$3
shift 3

case $arch in
x64)
  wine=${PAIRSOLVE_WINE64:-/usr/lib/wine/wine64}
  winearch=win64
  install="sudo apt-get install -y wine wine64"
  ;;
x86)
  wine=${PAIRSOLVE_WINE32:-/usr/lib/wine/wine}
  winearch=win32
  install="sudo dpkg --add-architecture i386 && sudo apt-get update &&"
  install+=" sudo apt-get install -y --no-install-recommends wine32:i386"
  ;;
*) usage ;;
esac
wineserver=$(dirname "$wine")/wineserver

if [[ ! -x "$wine" ]]; then
  reason=${PAIRSOLVE_NO_WINE32:-}
  decision=${PAIRSOLVE_WINE32_DECISION:-}
  if [[ -z $reason && -n $decision && -s $decision ]]; then reason=$(<"$decision"); fi
  if [[ $arch == x86 && -n $reason ]]; then
    echo "SKIP: Wine's x86 loader $wine is missing: $reason" >&2
    exit 77
  fi
  echo "FAIL: Wine's $arch loader $wine is missing; install it with '$install'" >&2
  exit 1
fi

export WINEPREFIX=$prefix
export WINEARCH=$winearch
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

runHost() { timeout 120 "$wine" "$@"; }

case $mode in
prefix)
  [[ $# -eq 0 ]] || usage
  # The loader must start at all: a 32-bit one does not where the kernel runs no 32-bit programs.
  if ! version=$("$wine" --version 2>&1); then
    if grep -qi 'exec format error' <<<"$version"; then
      echo "FAIL: the kernel cannot run $arch programs such as $wine (32-bit support off?):" >&2
    else
      echo "FAIL: Wine's $arch loader $wine does not start:" >&2
    fi
    echo "$version" >&2
    exit 1
  fi
  # A prefix is reused only when this loader made it to the end; any other, such as a 64-bit
  # prefix made before the 32-bit Wine was installed, is made again from scratch.
  marker="$prefix/.pairsolve-ready"
  made_by="$winearch $wine $version"
  if [[ -f "$marker" && "$(cat "$marker")" == "$made_by" ]]; then
    echo "Wine prefix $prefix ($winearch) is ready"
    exit 0
  fi
  rm -rf "$prefix"
  mkdir -p "$prefix"
  echo "Creating the $winearch Wine prefix $prefix with $wine (the first start takes a while)"
  if ! timeout 300 "$wine" wineboot --init >"$prefix.log" 2>&1; then
    echo "FAIL: wineboot did not finish; its output:" >&2
    cat "$prefix.log" >&2
    stopServer
    exit 1
  fi
  if [[ -x "$wineserver" ]]; then timeout 60 "$wineserver" -w || stopServer; fi
  echo "$made_by" >"$marker"
  echo "Wine prefix $prefix ($winearch) is ready"
  ;;
load)
  [[ $# -ge 3 && $(($# % 2)) -eq 1 ]] || usage
  host=$1
  shift
  failed=0
  while [[ $# -gt 0 ]]; do
    module=$1 export=$2
    shift 2
    status=0
    runHost "$host" "$(windowsPath "$module")" --export "$export" | tr -d '\r' || status=$?
    if [[ $status -ne 0 ]]; then
      echo "FAIL: the test host on $(basename "$module") through $export ended with status $status"
      failed=1
    fi
  done
  stopServer
  # Any status, 77 (skipped to CTest) included, is a failure once the loader is there.
  exit $failed
  ;;
compare)
  [[ $# -eq 3 ]] || usage
  host=$1 module=$2 native=$3
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  status=0
  runHost "$host" "$(windowsPath "$module")" --results >"$work/dll.txt" || status=$?
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
  echo "$arch pairsolve.dll under Wine and the native build agree on all" \
    "$(wc -l <"$work/native.txt") matrices, bit for bit"
  ;;
*)
  usage
  ;;
esac
