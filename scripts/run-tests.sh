#!/usr/bin/env bash
# Runs the CTest tests of a build tree as `make check` does, and ends by naming the tests that did
# not run, each with its reason: the line its own output starts with "SKIP:". Exits with CTest's
# status, which counts a skipped test as no failure.
#
# usage: run-tests.sh <build tree> <jobs>
set -uo pipefail

if [[ $# -ne 2 ]]; then
  echo "usage: $0 <build tree> <jobs>" >&2
  exit 2
fi
build=$1 jobs=$2
output=$(mktemp)
trap 'rm -f "$output"' EXIT

ctest --test-dir "$build" --output-on-failure --no-tests=error -j"$jobs" | tee "$output"
status=${PIPESTATUS[0]}

# CTest lists them after its summary as "<tab> <number> - <name> (Skipped)" (or "(Disabled)").
skipped=$(awk '/^The following tests did not run:/ {on = 1; next}
               on && /^\t/ {sub(/^\t *[0-9]+ - /, ""); print; next}
               {on = 0}' "$output")
if [[ -n $skipped ]]; then
  # Each test's output is in CTest's log, between its "<i>/<n> Test: <name>" line and the next.
  log=$build/Testing/Temporary/LastTest.log
  echo
  echo "make check: these tests did not run:"
  while read -r name kind; do
    why=$(awk -v name="$name" '/^[0-9]+\/[0-9]+ Test: / {current = $3; next}
                               current == name && /^SKIP: / {sub(/^SKIP: /, ""); print; exit}' \
      "$log" 2>/dev/null)
    echo "  $name $kind: ${why:-no reason given in its output}"
  done <<<"$skipped"
fi
exit "$status"
