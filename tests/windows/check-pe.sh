#!/usr/bin/env bash
# Checks that a built program, the setup or the remover, loads on every Windows it claims: a
# 32-bit console program for Windows 4.0 and later, for the 386, that imports exactly its
# functions below and nothing else, relocatable and NX-compatible, within its size, and that
# carries the manifest asking for elevation and the version resource of this release.
#   check-pe.sh FILE OBJDUMP WINDRES VERSION
set -euo pipefail
file=$1
objdump=$2
windres=$3
version=$4
headers=$("$objdump" -p "$file")
program=$(basename "$file" .exe)

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

# Every function each program imports, "DLL function" as objdump prints them, its description
# and its largest size. Each import exists in the first release of Windows 95 and in NT 4.0: a
# new import joins a list only once it is known to exist in both, or the loader refuses the
# program before it starts. The entry's own (ExitProcess, GetCommandLineA, GetModuleHandleA,
# GetProcAddress) are in both lists.
case $program in
  vornsetup)
    description="VORN Video Decoder Setup"
    max_size=8192
    expected_imports="ADVAPI32.dll RegCloseKey
ADVAPI32.dll RegOpenKeyExA
ADVAPI32.dll RegSetValueExA
KERNEL32.dll CopyFileA
KERNEL32.dll ExitProcess
KERNEL32.dll GetCommandLineA
KERNEL32.dll GetModuleHandleA
KERNEL32.dll GetProcAddress
KERNEL32.dll GetSystemDirectoryA
KERNEL32.dll GetVersionExA
KERNEL32.dll WritePrivateProfileStringA
KERNEL32.dll lstrcatA
USER32.dll MessageBoxA"
    ;;
  vornremove)
    description="VORN Video Decoder Remover"
    max_size=6144
    expected_imports="ADVAPI32.dll RegCloseKey
ADVAPI32.dll RegDeleteValueA
ADVAPI32.dll RegOpenKeyExA
ADVAPI32.dll RegQueryValueExA
KERNEL32.dll DeleteFileA
KERNEL32.dll ExitProcess
KERNEL32.dll GetCommandLineA
KERNEL32.dll GetLastError
KERNEL32.dll GetModuleHandleA
KERNEL32.dll GetPrivateProfileStringA
KERNEL32.dll GetProcAddress
KERNEL32.dll GetSystemDirectoryA
KERNEL32.dll GetVersionExA
KERNEL32.dll WritePrivateProfileStringA
KERNEL32.dll lstrcatA
USER32.dll MessageBoxA"
    ;;
  *) fail "no checks for a program named $program" ;;
esac
# In the import tables, a DLL's name line is followed by one "<address> <hint> <name>" line
# per function.
imports=$(awk '/^The Import Tables/ { on = 1; next } /^The |^PE File/ { on = 0 }
  on && /DLL Name:/ { dll = $3 } on && dll && /^\t[0-9a-f]+\t/ { print dll, $3 }' <<<"$headers" |
  LC_ALL=C sort)
[ "$imports" = "$expected_imports" ] ||
  fail "imports differ (< got, > expected):
$(diff <(echo "$imports") <(echo "$expected_imports"))"
echo "imports: $(cut -d' ' -f2 <<<"$imports" | tr '\n' ' ')"

# Windows with ASLR and DEP load it anywhere and keep its data from running; older Windows
# ignores the bits.
characteristics=$((0x$(header_field DllCharacteristics)))
((characteristics & 0x40)) || fail "not marked DYNAMIC_BASE"
((characteristics & 0x100)) || fail "not marked NX_COMPAT"
grep -q -E '^Entry 5 [0-9a-f]+ 0*[1-9a-f][0-9a-f]* Base Relocation Directory' <<<"$headers" ||
  fail "no base relocations to move it by"

# The 386 and 486 that Windows 95 and NT 4 run on lack the Pentium's and later instructions.
! "$objdump" -d "$file" | grep -q -E '\s(cmov|fc?u?comi|bswap|xadd|cmpxchg|cpuid|rdtsc)|%x?mm' ||
  fail "uses an instruction the 386 lacks"

size=$(stat -c %s "$file")
((size <= max_size)) || fail "$size bytes, more than $max_size"
echo "size: $size bytes"

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
expect_version_line "      VALUE \"FileDescription\", \"$description\""
expect_version_line "      VALUE \"InternalName\", \"$program\""
expect_version_line "      VALUE \"OriginalFilename\", \"$program.exe\""
echo "version: $version"
