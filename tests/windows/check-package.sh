#!/usr/bin/env bash
# Checks the release package: cpack makes vornsetup-VERSION-win32.zip, which holds exactly the
# setup and the remover as built, the end user's README.txt, vorn-decoders.reg and
# vorn-decoders-remove.reg, the texts with CRLF ends.
#   check-package.sh CPACK_CONFIG VERSION CPACK CMAKE BUILT_EXE...
set -euo pipefail
config=$1
version=$2
cpack=$3
cmake=$4
built=("${@:5}")

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
expected=$(printf '%s\n' README.txt vorn-decoders-remove.reg vorn-decoders.reg vornremove.exe \
  vornsetup.exe)
[ "$listing" = "$expected" ] || fail "the archive holds [$listing], expected [$expected]"

mkdir "$work/unpacked"
(cd "$work/unpacked" && "$cmake" -E tar xf "$archive")
for exe in "${built[@]}"; do
  name=$(basename "$exe")
  cmp -s "$exe" "$work/unpacked/$name" || fail "the archive's $name is not $exe"
done
for text in README.txt vorn-decoders.reg vorn-decoders-remove.reg; do
  file=$work/unpacked/$text
  # Notepad and regedit want CRLF on every line, the last one included.
  ! LC_ALL=C grep -q -v $'\r$' "$file" || fail "$text has a line that does not end in CRLF"
  [ "$(tail -c 2 "$file" | od -An -tx1 | tr -d ' ')" = 0d0a ] || fail "$text does not end in CRLF"
done
for reg in vorn-decoders.reg vorn-decoders-remove.reg; do
  cmp -s <(head -c 10 "$work/unpacked/$reg") <(printf 'REGEDIT4\r\n') ||
    fail "$reg does not start with the REGEDIT4 header"
done
echo "$(basename "$archive"): $(echo $listing)"
