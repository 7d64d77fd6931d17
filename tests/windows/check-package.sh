#!/usr/bin/env bash
# Checks the release package: cpack makes vornsetup-VERSION-win32.zip, which holds exactly the
# setup as built, the end user's README.txt and vorn-decoders.reg, both texts with CRLF ends.
#   check-package.sh CPACK_CONFIG VERSION BUILT_EXE CPACK CMAKE
set -euo pipefail
config=$1
version=$2
built=$3
cpack=$4
cmake=$5

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

work=$(mktemp -d "${TMPDIR:-/tmp}/vornsetup-package.XXXXXX")
trap 'rm -rf "$work"' EXIT
"$cpack" --config "$config" -B "$work" >/dev/null
archive=$work/vornsetup-$version-win32.zip
[ -f "$archive" ] || fail "cpack made no $(basename "$archive")"

listing=$(cd "$work" && "$cmake" -E tar tf "$archive" | LC_ALL=C sort)
expected=$(printf '%s\n' README.txt vorn-decoders.reg vornsetup.exe)
[ "$listing" = "$expected" ] || fail "the archive holds [$listing], expected [$expected]"

mkdir "$work/unpacked"
(cd "$work/unpacked" && "$cmake" -E tar xf "$archive")
cmp -s "$built" "$work/unpacked/vornsetup.exe" || fail "the archive's vornsetup.exe is not $built"
for text in README.txt vorn-decoders.reg; do
  file=$work/unpacked/$text
  # Notepad and regedit want CRLF on every line, the last one included.
  ! LC_ALL=C grep -q -v $'\r$' "$file" || fail "$text has a line that does not end in CRLF"
  [ "$(tail -c 2 "$file" | od -An -tx1 | tr -d ' ')" = 0d0a ] || fail "$text does not end in CRLF"
done
cmp -s <(head -c 10 "$work/unpacked/vorn-decoders.reg") <(printf 'REGEDIT4\r\n') ||
  fail "vorn-decoders.reg does not start with the REGEDIT4 header"
echo "$(basename "$archive"): $(echo $listing)"
