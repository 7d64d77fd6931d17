#!/usr/bin/env bash
# Checks that the built setup loads on every Windows it claims: a 32-bit console program for
# Windows 4.0 and later that imports nothing beyond the system's own DLLs, and that carries the
# manifest asking for elevation and the version resource of this release.
#   check-pe.sh FILE OBJDUMP WINDRES VERSION
set -euo pipefail
file=$1
objdump=$2
windres=$3
version=$4
headers=$("$objdump" -p "$file")

fail() {
  echo "FAIL: $file: $*" >&2
  exit 1
}

header_field() {  # name: the field's value as objdump prints it
  sed -n "s/^$1[[:space:]]*//p" <<<"$headers"
}

grep -q '^Magic[[:space:]]*010b' <<<"$headers" || fail "not PE32"
grep -q 'file format pei-i386' <<<"$headers" || fail "not built for i386"
grep -q '^Subsystem[[:space:]]*00000003' <<<"$headers" || fail "not a console program"

# Windows 95 and NT 4 refuse a program that asks for a later subsystem or Windows version.
subsystem="$(header_field MajorSubsystemVersion).$(header_field MinorSubsystemVersion)"
[ "$subsystem" = 4.0 ] || fail "subsystem version $subsystem, expected 4.0"
os_major=$(header_field MajorOSystemVersion)
os_minor=$(header_field MinorOSystemVersion)
((os_major < 4 || (os_major == 4 && os_minor == 0))) ||
  fail "needs Windows $os_major.$os_minor, expected 4.0 or lower"

allowed=" kernel32.dll advapi32.dll user32.dll msvcrt.dll "
imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | tr 'A-Z' 'a-z' | tr -d '\r')
[ -n "$imports" ] || fail "no import table found"
for dll in $imports; do
  [[ "$allowed" == *" $dll "* ]] || fail "imports $dll, which a user's Windows may not have"
done
echo "imports: $(echo $imports)"

resources=$("$windres" -i "$file" -O rc) || fail "no resources windres can read"
# windres prints the manifest (type 24, id 1) as quoted lines with doubled quotes: join them.
grep -q '^1 24 ' <<<"$resources" || fail "no manifest resource with id 1"
manifest=$(sed -n '/^1 24 /,/^END/{s/^[[:space:]]*"//;s/"$//p}' <<<"$resources" | tr -d '\n' |
  sed 's/""/"/g; s/\\n/\n/g')
grep -q '<requestedExecutionLevel level="requireAdministrator" uiAccess="false"/>' <<<"$manifest" ||
  fail "the manifest does not ask for elevation"
# A list of supported Windows versions would change what GetVersionExA reports.
! grep -q -E 'compatibility|supportedOS' <<<"$manifest" || fail "the manifest names Windows versions"
echo "manifest: requireAdministrator"

grep -q '^1 VERSIONINFO' <<<"$resources" || fail "no version resource"
expect_version_line() {  # the line as windres prints it
  grep -q -F -x -- "$1" <<<"$resources" || fail "version resource lacks: $1"
}
numeric="${version//./, }, 0"
expect_version_line " FILEVERSION $numeric"
expect_version_line " PRODUCTVERSION $numeric"
expect_version_line "      VALUE \"FileVersion\", \"$version\""
expect_version_line "      VALUE \"ProductVersion\", \"$version\""
expect_version_line '      VALUE "FileDescription", "VORN Video Decoder Setup"'
expect_version_line '      VALUE "OriginalFilename", "vornsetup.exe"'
echo "version: $version"
