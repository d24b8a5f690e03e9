#!/usr/bin/env bash
# Checks that a 32-bit x86 module computes in SSE2 doubles: its code holds SSE2 double arithmetic
# and no x87 arithmetic. x87 registers keep extended precision, which would change which elements
# of the working matrix become exactly 0 and so the result. (Loads and stores through the x87
# stack remain: the x86 calling convention returns a double in st(0), and moving a double through
# it is exact.)
#
# usage: check_sse2.sh <objdump> <pairsolve.dll>
set -euo pipefail

if [[ $# -ne 2 ]]; then
  echo "usage: $0 <objdump> <pairsolve.dll>" >&2
  exit 2
fi
objdump=$1 module=$2

# The mnemonic of every instruction: disassembly lines are "<address>:<tab><mnemonic> ...".
mnemonics=$("$objdump" -d --no-show-raw-insn "$module" |
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
[[ $status -eq 0 ]] && echo "$module: $sse2 SSE2 double operations, no x87 arithmetic"
exit $status
