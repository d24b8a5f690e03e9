#!/usr/bin/env bash
# Checks the tables of a module (pairsolve.dll, pairsolve.mexw64, pairsolve.mexw32) as MinGW's
# objdump -p prints them:
# - the export directory names the module by its file name and holds exactly one export, the
#   gateway under the name given (_mexFunction for pairsolve.dll, mexFunction for a MEX file);
# - it imports by name from libmx.dll and libmex.dll exactly the operations their .def files list,
#   and otherwise only from Windows system DLLs. A MinGW runtime DLL (libgcc_s_*.dll,
#   libstdc++-6.dll, libwinpthread-1.dll) is named as such: a host does not ship them, so a module
#   importing one would not load there.
#
# usage: check_tables.sh <objdump> <module> <export> <libmx.def> <libmex.def>
set -euo pipefail

if [[ $# -ne 5 ]]; then
  echo "usage: $0 <objdump> <module> <export> <libmx.def> <libmex.def>" >&2
  exit 2
fi
objdump=$1 module=$2 export=$3 mxDef=$4 mexDef=$5
name=$(basename "$module")

tables=$("$objdump" -p "$module")
failures=0
fail() {
  echo "FAIL $module: $*"
  failures=$((failures + 1))
}

# The names a .def file exports: the lines after EXPORTS, without comments and decoration.
defExports() {
  sed -e 's/;.*//' "$1" | awk '/^[ \t]*EXPORTS/ {on = 1; next} on && NF {print $1}' | sort
}

# Export directory. objdump prints "Name <rva> <dll name>" and then the name pointer table as
# "[   0] <name>" lines under "[Ordinal/Name Pointer] Table".
exportName=$(awk '/^The Export Tables/ {on = 1} on && $1 == "Name" {print $3; exit}' <<<"$tables")
[[ "$exportName" == "$name" ]] || fail "export directory names '$exportName', not $name"
exports=$(awk '/^\[Ordinal\/Name Pointer\] Table/ {on = 1; next}
               on && /^[ \t]*$/ {exit}
               on {sub(/^[ \t]*\[[ 0-9]*\][ \t]*/, ""); print}' <<<"$tables")
[[ "$exports" == "$export" ]] || fail "exports '$(echo $exports)' instead of exactly $export"

# Import tables: "DLL Name: <dll>" followed by "<vma> <hint> <name>" lines up to a blank line.
# A line with no name would be an import by ordinal.
imports=$(awk '/^The Import Tables/ {on = 1}
               on && /DLL Name:/ {dll = $3; next}
               on && dll != "" && /^[ \t]*$/ {dll = ""; next}
               on && dll != "" && $1 ~ /^[0-9a-f]+$/ {print dll, (NF >= 3 ? $3 : "<ordinal>")}' \
          <<<"$tables")
[[ -n "$imports" ]] || fail "no import table found"

namesFrom() { awk -v dll="$1" 'tolower($1) == tolower(dll) {print $2}' <<<"$imports" | sort; }

for pair in "libmx.dll:$mxDef" "libmex.dll:$mexDef"; do
  dll=${pair%%:*} def=${pair#*:}
  expected=$(defExports "$def")
  actual=$(namesFrom "$dll")
  if [[ "$actual" != "$expected" ]]; then
    fail "imports from $dll differ from $(basename "$def"):"
    diff <(echo "$expected") <(echo "$actual") | sed -n 's/^\([<>]\) \(..*\)$/  \1 \2/p' || true
  fi
done

otherDlls=$(awk '{print $1}' <<<"$imports" | sort -u | grep -viE '^(libmx|libmex)\.dll$' || true)
for dll in $otherDlls; do
  case "${dll,,}" in
    kernel32.dll | msvcrt.dll | ucrtbase.dll | api-ms-win-crt-*.dll) ;;
    libgcc_s_*.dll | libstdc++*.dll | libwinpthread*.dll)
      fail "imports $dll, a MinGW runtime DLL that a host does not ship (link it statically)" ;;
    *) fail "imports from $dll, which is neither the host nor a Windows system DLL" ;;
  esac
done
if grep -q '<ordinal>' <<<"$imports"; then fail "imports by ordinal"; fi

if [[ $failures -ne 0 ]]; then exit 1; fi
echo "$module: export directory $name, one export $export;" \
  "imports $(namesFrom libmx.dll | wc -l) operations from libmx.dll," \
  "$(namesFrom libmex.dll | wc -l) from libmex.dll, and from" $otherDlls
