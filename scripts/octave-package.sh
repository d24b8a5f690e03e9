#!/usr/bin/env bash
# Writes the Octave package pairsolve-<version>.tar.gz into a folder, in the layout Octave's
# `pkg install` reads: DESCRIPTION (the version from PAIRSOLVE_VERSION in host/pairsolve.h),
# COPYING, inst/pairsolve.m (the help file), post_install.m (which puts it beside the module),
# and src/ with the gateway, the solver and the Makefile that builds pairsolve.mex with mkoctfile.
# Needs only the shell tools: no CMake, no compiler.
#
# usage: octave-package.sh <folder>
set -euo pipefail

if [[ $# -ne 1 ]]; then
  echo "usage: $0 <folder>" >&2
  exit 2
fi
root=$(cd "$(dirname "$0")/.." && pwd)
out=$1

version=$(sed -n 's/^#define PAIRSOLVE_VERSION "\([0-9.]*\)"$/\1/p' "$root/host/pairsolve.h")
if [[ -z $version ]]; then
  echo "octave-package: no PAIRSOLVE_VERSION in $root/host/pairsolve.h" >&2
  exit 1
fi
# The date of the commit checked out, so that the same tree gives the same package.
date=$(git -C "$root" log -1 --format=%cs 2>/dev/null || date -u +%F)

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
name=pairsolve-$version
package=$work/$name
mkdir -p "$package/inst" "$package/src/host" "$package/src/solver"
sed -e "s/@VERSION@/$version/" -e "s/@DATE@/$date/" "$root/octave-package/DESCRIPTION.in" \
  >"$package/DESCRIPTION"
cp "$root/LICENSE" "$package/COPYING"
cp "$root/octave-package/post_install.m" "$package/"
cp "$root/host/pairsolve.m" "$package/inst/"
cp "$root/octave-package/Makefile" "$package/src/"
cp "$root/host/mex_gateway.cpp" "$root"/host/*.h "$package/src/host/"
cp -R "$root/solver/." "$package/src/solver/"

mkdir -p "$out"
tar -C "$work" --sort=name --owner=0 --group=0 --numeric-owner --mtime="$date 00:00:00Z" \
  -cf - "$name" | gzip -n >"$out/$name.tar.gz"
echo "octave-package: wrote $out/$name.tar.gz"
