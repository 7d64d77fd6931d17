#!/usr/bin/env bash
# Checks that the setup builds to the same bytes in another folder: a copy of the source tree
# in a temporary folder, configured with the same preset, must link an identical vornsetup.exe,
# and neither folder's path may show up in it.
#   check-reproducible.sh SOURCE_DIR BUILT_EXE CMAKE
set -euo pipefail
source_dir=$1
built=$2
cmake=$3

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

copy=$(mktemp -d "${TMPDIR:-/tmp}/vornsetup-copy.XXXXXX")
trap 'rm -rf "$copy"' EXIT
# The sources only: no build trees, no demo machine, no repository.
tar -C "$source_dir" --exclude=./build --exclude=./demo --exclude=./.git -cf - . |
  tar -C "$copy" -xf -

cd "$copy"
"$cmake" --preset mingw -DVORN_BUILD_TESTS=OFF >/dev/null
"$cmake" --build --preset mingw -j2 --target vornsetup >/dev/null
rebuilt=$copy/build/mingw/setup/vornsetup.exe

cmp "$built" "$rebuilt" || fail "$built and the copy's $rebuilt differ"
for folder in "$source_dir" "$copy"; do
  ! grep -q -a -F "$folder" "$rebuilt" || fail "the build folder $folder is in vornsetup.exe"
done
echo "identical: $(stat -c %s "$built") bytes, built in $source_dir and in $copy"
