#!/usr/bin/env bash
# The emulated machine reads top down: its files (a header and its source as one) can be put in
# an order where each includes only files below it. Prints that order, bottom first; fails,
# naming the files, when an include runs back up.
set -euo pipefail
cd "${1:?the folder of the emulated machine}"
for file in *.h *.cpp; do
  unit=${file%.*}
  echo "$unit $unit"
  sed -n "s|^#include \"platform/emulation/\(.*\)\.h\"|\1 $unit|p" "$file"
done | tsort
