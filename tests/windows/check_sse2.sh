#!/usr/bin/env bash
# Checks that a 32-bit x86 module computes in SSE2 doubles: the code of the objects it is linked
# from holds SSE2 double arithmetic and no x87 arithmetic. x87 registers keep extended precision,
# which would change which elements of the working matrix become exactly 0 and so the result.
# (Loads and stores through the x87 stack remain: the x86 calling convention returns a double in
# st(0), and moving a double through it is exact.) The objects are read, not the DLL: MinGW
# links tables such as the constructor list into the DLL's code section, and their bytes,
# disassembled as if they were code, can spell any instruction.
#
# usage: check_sse2.sh <objdump> <file listing the module's objects, one a line>
set -euo pipefail

if [[ $# -ne 2 ]]; then
  echo "usage: $0 <objdump> <file listing the module's objects>" >&2
  exit 2
fi
objdump=$1 module=$2
mapfile -t objects < <(grep -v '^$' "$module")
if [[ ${#objects[@]} -eq 0 ]]; then
  echo "FAIL $module: lists no object files" >&2
  exit 1
fi

# The mnemonic of every instruction: disassembly lines are "<address>:<tab><mnemonic> ...".
mnemonics=$("$objdump" -d --no-show-raw-insn "${objects[@]}" |
  awk -F'\t' '/^ *[0-9a-f]+:\t/ {split($2, word, " "); print word[1]}')

x87=$(grep -E '^f(i?(add|sub|subr|mul|div|divr|com|comp)|(add|sub|subr|mul|div|divr)p|sqrt|prem1?|scale|rndint|chs|abs|u?comi?p?|ucompp|cmov)' \
  <<<"$mnemonics" | sort | uniq -c || true)
sse2=$(grep -cE '^(add|sub|mul|div|min|max)sd$' <<<"$mnemonics" || true)

status=0
if [[ -n "$x87" ]]; then
  echo "FAIL $module: x87 arithmetic:"
  echo "$x87"
  status=1
fi
if [[ "$sse2" -eq 0 ]]; then
  echo "FAIL $module: no SSE2 double arithmetic found (was the code disassembled?)"
  status=1
fi
[[ $status -eq 0 ]] && echo "$module (${#objects[@]} objects): $sse2 SSE2 double operations, no x87 arithmetic"
exit $status
