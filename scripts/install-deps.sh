#!/usr/bin/env bash
# Installs the Debian packages that building and testing pairsolve need. As root it installs what
# is missing; otherwise it prints the exact apt command and fails, so no test layer is skipped
# silently.
set -euo pipefail

packages=(
  cmake make g++ libgtest-dev libbenchmark-dev   # the build and the C++ tests
  python3-numpy python3-scipy                    # SciPy as a test peer
  python3-munkres python3-matplotlib time        # the peers and the plot of make bench
  clang libclang-rt-14-dev valgrind              # sanitizers, libFuzzer, memcheck
  octave liboctave-dev                           # the Octave module (mkoctfile) and its tests
  g++-mingw-w64-i686 g++-mingw-w64-x86-64        # the Windows modules
  binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine wine64                                    # their load test
)

missing=()
for package in "${packages[@]}"; do
  status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
  [[ "$status" == "install ok installed" ]] || missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

if [[ $(id -u) -eq 0 ]]; then
  echo "install-deps: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq "${missing[@]}"
else
  echo "install-deps: missing Debian packages. Install them with:" >&2
  echo "  sudo apt-get install -y ${missing[*]}" >&2
  exit 1
fi
