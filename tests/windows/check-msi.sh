#!/usr/bin/env bash
# Checks the Windows Installer packages without Windows, by their tables: a per-machine 32-bit
# package that puts both decoders into the system folder and the five NT values under HKLM,
# only on the NT family, and whose next version replaces this one (same upgrade code, its own
# product code, an upgrade row that finds the older versions).
#   check-msi.sh MSI VERSION NEXT_MSI DECODER_DIR
set -euo pipefail
msi=$1
version=$2
next=$3
decoders=$4

fail() {
  echo "FAIL: $(basename "$msi"): $*" >&2
  exit 1
}

rows() {  # package, table, columns (as cut -f takes them): its rows, without the headers, sorted
  msiinfo export "$1" "$2" | tail -n +4 | tr -d '\r' | cut -f "$3" | LC_ALL=C sort
}

property() {  # package, name
  rows "$1" Property 1- | awk -F'\t' -v name="$2" '$1 == name { print $2 }'
}

expect_rows() {  # what, got, expected
  [ "$2" = "$3" ] || fail "$1 differ (< got, > expected):
$(diff <(echo "$2") <(echo "$3"))"
}

expect_rows "properties" "$(property "$msi" ProductVersion) $(property "$msi" ALLUSERS)" "$version 1"
msiinfo suminfo "$msi" | grep -q -x 'Template: Intel;1033' || fail "not a 32-bit package"

# Component, directory, attributes (0: a 32-bit component), key path.
expect_rows "components" "$(rows "$msi" Component 1,3,4,6)" "$(printf '%s\t%s\t%s\t%s\n' \
  vornjix2.dll SystemFolder 0 vornjix2.dll vornjixd.dll SystemFolder 0 vornjixd.dll)"
# Root (2: HKEY_LOCAL_MACHINE), key, name, value.
expect_rows "registry values" "$(rows "$msi" Registry 2-5)" "$(tr '|' '\t' <<'ROWS'
2|SOFTWARE\Microsoft\Windows NT\CurrentVersion\Drivers32|vidc.jix1|vornjixd.dll
2|SOFTWARE\Microsoft\Windows NT\CurrentVersion\Drivers32|vidc.jix2|vornjix2.dll
2|SOFTWARE\Microsoft\Windows NT\CurrentVersion\Drivers32|vidc.uyvy|vornjixd.dll
2|SOFTWARE\Microsoft\Windows NT\CurrentVersion\drivers.desc|vornjix2.dll|VORN JIX2 Decoder
2|SOFTWARE\Microsoft\Windows NT\CurrentVersion\drivers.desc|vornjixd.dll|VORN JIX1 Decoder
ROWS
)"
rows "$msi" LaunchCondition 1 | grep -q -x VersionNT || fail "installs on the 95 family"

upgrade_code=$(property "$msi" UpgradeCode)
expect_rows "the next version's upgrade code" "$(property "$next" UpgradeCode)" "$upgrade_code"
[ "$(property "$next" ProductCode)" != "$(property "$msi" ProductCode)" ] ||
  fail "the next version has the same product code"
next_version=$(property "$next" ProductVersion)
[ "$next_version" != "$version" ] || fail "the next version is this one"
# The upgrade row that finds every older version: code, no minimum, this version as maximum.
rows "$next" Upgrade 1-3 | grep -q -x -F "$upgrade_code		$next_version" ||
  fail "the next version finds no older one to replace"
rows "$next" InstallExecuteSequence 1 | grep -q -x RemoveExistingProducts ||
  fail "the next version removes no older one"

extracted=$(mktemp -d "${TMPDIR:-/tmp}/vorn-msi.XXXXXX")
trap 'rm -rf "$extracted"' EXIT
msiextract -C "$extracted" "$msi" >/dev/null
expect_rows "files" "$(cd "$extracted" && find . -type f | LC_ALL=C sort)" "./vornjix2.dll
./vornjixd.dll"
for file in vornjixd.dll vornjix2.dll; do
  cmp -s "$extracted/$file" "$decoders/$file" || fail "$file is not the one from $decoders"
done
echo "$(basename "$msi"): $(stat -c %s "$msi") bytes, upgrade code $upgrade_code"
