#!/usr/bin/env bash
# Installs the built project into a scratch prefix, checks what the installed library defines,
# and builds programs against it with find_package(pairsolve).
set -euo pipefail
build=$1 source=$2 scratch=$3
rm -rf "$scratch"
cmake --install "$build" --prefix "$scratch/prefix" >/dev/null

# Only the pairsolve:: interface is installed ...
headers=$(cd "$scratch/prefix/include" && find . -type f | sort)
if [[ "$headers" != "./pairsolve/pairsolve.h" ]]; then
  echo "FAIL: installed headers are not just pairsolve/pairsolve.h:" $headers >&2
  exit 1
fi
# ... and the library defines no global name of its own: every external symbol it defines is a
# C++ name (mangled, _Z...), so no mxMalloc, mexErrMsgTxt or other host name can clash with a
# real host's libraries; the C++ names are pairsolve's, or the standard library's inline code.
library=$(find "$scratch/prefix" -name libpairsolve.a)
defined=$(nm -g --defined-only "$library" | awk 'NF == 3 {print $3}' | sort -u)
unmangled=$(grep -v '^_Z' <<<"$defined" | grep -v '^DW\.ref\.__gxx_personality_v0$' || true)
if [[ -n "$unmangled" ]]; then
  echo "FAIL: libpairsolve.a defines global names:" $unmangled >&2
  exit 1
fi
foreign=$(grep -v '^DW\.ref\.' <<<"$defined" | c++filt |
  grep -v -E '^((typeinfo|typeinfo name|vtable) for )?(pairsolve::|std::|void std::|[a-z_ ]+ std::)' || true)
if [[ -n "$foreign" ]]; then
  echo "FAIL: libpairsolve.a defines names outside namespace pairsolve:" >&2
  echo "$foreign" >&2
  exit 1
fi
if ! grep -q 'pairsolve7standin8mxMalloc' <<<"$defined"; then
  echo "FAIL: the stand-in's mxMalloc is not where this check looks for it" >&2
  exit 1
fi

cmake -S "$source/tests/package" -B "$scratch/consumer" -DCMAKE_PREFIX_PATH="$scratch/prefix" >/dev/null
cmake --build "$scratch/consumer" >/dev/null
"$scratch/consumer/consumer"
"$scratch/consumer/consumer_with_mex"
