#!/usr/bin/env bash
# Installs the Debian packages a job of pairsolve needs:
#
#   install-deps.sh demo    what `make demo` needs: CMake, a C++ compiler, Octave and its MEX headers
#   install-deps.sh check   what `make check` and the other test and bench targets need (the default)
#
# As root it installs what is missing (enabling the i386 architecture first when the 32-bit Wine
# is among it) and is quiet when nothing is; otherwise it prints the exact commands and fails, so
# no test layer is skipped silently. It never asks a question.
#
# The 32-bit Wine can be impossible to install where every other package is fine: its i386
# libraries must match the amd64 ones exactly, and a mirror whose i386 security index does not
# verify offers only older ones. Then, as root, it installs everything else and exits with 3, so a
# caller can choose to go on without it by setting PAIRSOLVE_NO_WINE32 to the reason: this script
# then leaves wine32:i386 out, and the x86 Wine tests report as skipped with that reason.
set -euo pipefail

job=${1:-check}

demo_packages=(
  cmake make g++                                 # the build
  octave liboctave-dev                           # Octave, its MEX headers and mkoctfile
)
check_packages=(
  "${demo_packages[@]}"
  libgtest-dev libbenchmark-dev                  # the C++ tests and the Google Benchmark
  python3-numpy python3-scipy                    # SciPy as a test peer
  python3-munkres python3-matplotlib time        # the peers and the plot of make bench
  clang libclang-rt-14-dev valgrind              # sanitizers, libFuzzer, memcheck
  g++-mingw-w64-i686 g++-mingw-w64-x86-64        # the Windows modules
  binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine wine64                                    # the x64 load test
  wine32:i386                                    # the x86 load test (Debian's 32-bit Wine)
)

case $job in
demo) packages=("${demo_packages[@]}") ;;
check) packages=("${check_packages[@]}") ;;
*)
  echo "usage: $0 [demo|check]" >&2
  exit 2
  ;;
esac

wine32=wine32:i386

# A package counts as present when some installed architecture of it is; an :i386 name is only
# present once that architecture is enabled and the package installed for it.
installed() {
  dpkg-query -W -f='${Status}\n' "$1" 2>/dev/null | grep -qx 'install ok installed'
}

missing=()
for package in "${packages[@]}"; do
  installed "$package" && continue
  if [[ $package == "$wine32" && -n ${PAIRSOLVE_NO_WINE32:-} ]]; then
    echo "install-deps: leaving out $wine32: $PAIRSOLVE_NO_WINE32" >&2
    continue
  fi
  missing+=("$package")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

# Packages of a foreign architecture (wine32:i386) need it enabled before the package lists are
# read.
foreign=()
for package in "${missing[@]}"; do
  [[ $package == *:* ]] || continue
  arch=${package##*:}
  if ! dpkg --print-foreign-architectures | grep -qx "$arch" &&
    [[ " ${foreign[*]} " != *" $arch "* ]]; then
    foreign+=("$arch")
  fi
done

apt_install=(apt-get install -y --no-install-recommends)
if [[ $(id -u) -eq 0 ]]; then
  export DEBIAN_FRONTEND=noninteractive
  for arch in "${foreign[@]}"; do
    echo "install-deps: enabling the $arch architecture"
    dpkg --add-architecture "$arch"
  done
  echo "install-deps: installing ${missing[*]}"
  # A mirror caught mid-sync serves index files of the wrong size for a while: try again. If it
  # still fails, the lists that did load may hold every package missing, so the install decides.
  for attempt in 1 2 3 4 5 6; do
    apt-get update -qq && break
    if [[ $attempt -eq 6 ]]; then
      echo "install-deps: apt-get update failed $attempt times; installing from the lists it has" >&2
      break
    fi
    echo "install-deps: apt-get update failed (attempt $attempt); trying again in 30 s" >&2
    sleep 30
  done
  apt_install+=(-qq -o Dpkg::Options::=--force-confdef -o Dpkg::Options::=--force-confold)
  "${apt_install[@]}" "${missing[@]}" && exit 0
  rest=()
  for package in "${missing[@]}"; do
    [[ $package == "$wine32" ]] || rest+=("$package")
  done
  # Only the 32-bit Wine failing is told apart; any other failure is the install's own.
  [[ ${#rest[@]} -lt ${#missing[@]} ]] || exit 1
  [[ ${#rest[@]} -eq 0 ]] || "${apt_install[@]}" "${rest[@]}" || exit 1
  echo "install-deps: everything but $wine32 is installed; $wine32 cannot be installed from" \
    "these package lists (see above)" >&2
  exit 3
else
  echo "install-deps: missing Debian packages for '$job'. Install them with:" >&2
  for arch in "${foreign[@]}"; do
    echo "  sudo dpkg --add-architecture $arch" >&2
  done
  echo "  sudo apt-get update && sudo ${apt_install[*]} ${missing[*]}" >&2
  exit 1
fi
