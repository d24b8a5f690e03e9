#!/usr/bin/env bash
# Installs the Debian packages a job of pairsolve needs:
#
#   install-deps.sh demo            `make demo`: CMake, a C++ compiler, Octave and its MEX headers
#   install-deps.sh check [BUILD]   `make check`, every test layer (the default); BUILD is the
#                                   build tree that keeps the decision about the 32-bit Wine
#   install-deps.sh sanitize        `make sanitize`: clang, its sanitizer runtimes, GoogleTest
#   install-deps.sh fuzz            `make fuzz`: clang and libFuzzer
#   install-deps.sh bench           `make bench`: Google Benchmark, Octave, SciPy and the peers
#
# As root it installs what is missing (enabling the i386 architecture first when the 32-bit Wine
# is among it) and is quiet when nothing is; otherwise it prints the exact commands and fails, so
# no test layer is skipped silently. It never asks a question. Any package that cannot be
# installed stops it, named, with one exception:
#
# The 32-bit Wine (check only) can be impossible to install where every other package is fine:
# its i386 libraries must match the amd64 ones exactly, and a mirror whose i386 security index
# does not verify offers only older ones. Then, as root, it installs everything else and goes on
# without it: the x86 Wine tests report as skipped, with the reason. The decision is written to
# BUILD/wine32-left-out.txt and holds for that build tree, so the next job does not try again
# (each try costs several rounds of apt-get update); remove the file to try again. Without BUILD
# it exits with 3 instead, for a caller to decide. Not as root, or to leave wine32:i386 out on
# purpose, PAIRSOLVE_NO_WINE32=<reason> says why it is left out.
set -euo pipefail

job=${1:-check}
build=${2:-}

demo_packages=(
  cmake make g++                                 # the build
  octave liboctave-dev                           # Octave, its MEX headers and mkoctfile
)
clang_packages=(clang libclang-rt-14-dev)        # sanitizers and libFuzzer
bench_packages=(
  "${demo_packages[@]}"                          # Octave is one of the peers
  libbenchmark-dev                               # the Google Benchmark
  python3-numpy python3-scipy                    # SciPy, the main peer
  python3-munkres python3-matplotlib time        # another peer, the plot, peak memory
)
check_packages=(
  "${bench_packages[@]}"                         # the bench's smoke test runs every peer
  libgtest-dev                                   # the C++ tests
  "${clang_packages[@]}" valgrind                # sanitizers, libFuzzer, memcheck
  g++-mingw-w64-i686 g++-mingw-w64-x86-64        # the Windows modules
  binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  wine wine64                                    # the x64 load test
  wine32:i386                                    # the x86 load test (Debian's 32-bit Wine)
)

case $job in
demo) packages=("${demo_packages[@]}") ;;
check) packages=("${check_packages[@]}") ;;
sanitize) packages=(cmake make "${clang_packages[@]}" libgtest-dev) ;;
fuzz) packages=(cmake make "${clang_packages[@]}") ;;
bench) packages=("${bench_packages[@]}") ;;
*)
  echo "usage: $0 [demo|check [BUILD]|sanitize|fuzz|bench]" >&2
  exit 2
  ;;
esac

wine32=wine32:i386
decision=${build:+$build/wine32-left-out.txt}

# A package counts as present when some installed architecture of it is; an :i386 name is only
# present once that architecture is enabled and the package installed for it.
installed() {
  dpkg-query -W -f='${Status}\n' "$1" 2>/dev/null | grep -qx 'install ok installed'
}

# Why wine32:i386 is left out, if it is: the caller's reason, or the one this build tree keeps.
reason=${PAIRSOLVE_NO_WINE32:-}
recorded=
if [[ -z $reason && -n $decision && -s $decision ]]; then
  reason=$(<"$decision")
  recorded=" (decided for $build; remove $decision to try again)"
fi

# Keeps the decision in the build tree, where the x86 Wine tests read their reason.
record() {
  [[ -n $decision ]] || return 0
  mkdir -p "$build"
  if [[ ! -s $decision || "$(<"$decision")" != "$1" ]]; then printf '%s\n' "$1" >"$decision"; fi
}

missing=()
for package in "${packages[@]}"; do
  installed "$package" && continue
  if [[ $package == "$wine32" && -n $reason ]]; then
    echo "install-deps: leaving out $wine32, the x86 Wine tests will be skipped: $reason$recorded" >&2
    record "$reason"
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

# The packages of the list that are still not installed, named; then stop.
stopMissing() {
  local left=()
  for package in "$@"; do installed "$package" || left+=("$package"); done
  echo "install-deps: could not install ${left[*]:-(see above)}" >&2
  exit 1
}

apt_install=(apt-get install -y --no-install-recommends)
if [[ $(id -u) -ne 0 ]]; then
  echo "install-deps: missing Debian packages for '$job'. Install them with:" >&2
  for arch in "${foreign[@]}"; do
    echo "  sudo dpkg --add-architecture $arch" >&2
  done
  echo "  sudo apt-get update && sudo ${apt_install[*]} ${missing[*]}" >&2
  if [[ " ${missing[*]} " == *" $wine32 "* ]]; then
    echo "install-deps: where $wine32 cannot be installed, the x86 Wine tests can be skipped" \
      "instead: give the reason as PAIRSOLVE_NO_WINE32=<reason>, e.g." >&2
    echo "  PAIRSOLVE_NO_WINE32='no 32-bit Wine on this machine' make $job" >&2
  fi
  exit 1
fi

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
apt_install+=(-qq -o Dpkg::Options::=--force-confdef -o Dpkg::Options::=--force-confold
  -o DPkg::Lock::Timeout=600)
"${apt_install[@]}" "${missing[@]}" && exit 0

# Only the 32-bit Wine failing is told apart; any other failure stops here, naming what is missing.
rest=()
for package in "${missing[@]}"; do
  [[ $package == "$wine32" ]] || rest+=("$package")
done
[[ ${#rest[@]} -lt ${#missing[@]} ]] || stopMissing "${missing[@]}"
[[ ${#rest[@]} -eq 0 ]] || "${apt_install[@]}" "${rest[@]}" || stopMissing "${rest[@]}"
reason="$wine32 could not be installed from this machine's package lists"
echo "install-deps: everything but $wine32 is installed; $reason (see above)." >&2
if [[ -z $decision ]]; then
  exit 3
fi
record "$reason"
echo "install-deps: going on without it: the x86 Wine tests will be skipped with that reason," \
  "for this build tree ($build); remove $decision to try again." >&2
