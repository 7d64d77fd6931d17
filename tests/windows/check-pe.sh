#!/usr/bin/env bash
# Checks that the built setup loads on every Windows it claims: a 32-bit console program that
# imports nothing beyond the system's own DLLs.
#   check-pe.sh FILE OBJDUMP
set -euo pipefail
file=$1
objdump=$2
headers=$("$objdump" -p "$file")

fail() {
  echo "FAIL: $file: $*" >&2
  exit 1
}

grep -q '^Magic[[:space:]]*010b' <<<"$headers" || fail "not PE32"
grep -q 'file format pei-i386' <<<"$headers" || fail "not built for i386"
grep -q '^Subsystem[[:space:]]*00000003' <<<"$headers" || fail "not a console program"

allowed=" kernel32.dll advapi32.dll user32.dll msvcrt.dll "
imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | tr 'A-Z' 'a-z' | tr -d '\r')
[ -n "$imports" ] || fail "no import table found"
for dll in $imports; do
  [[ "$allowed" == *" $dll "* ]] || fail "imports $dll, which a user's Windows may not have"
done
echo "imports: $(echo $imports)"
